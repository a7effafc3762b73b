#include "hooks/install_plan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "hooks/hook_state.hpp"
#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;

TEST(HookReport, LoaderDllsInTheGameFolder) {
  const std::wstring folder = L"C:\\Games\\Crimson Desert\\bin64\\";
  EXPECT_EQ(LoaderDllList(folder, {}), "no loader DLL");
  EXPECT_EQ(LoaderDllList(folder, {{"version.dll", L"c:\\GAMES\\crimson desert\\BIN64\\VERSION.dll"},
                                   {"dxgi.dll", L"C:\\Windows\\System32\\dxgi.dll"},
                                   {"winhttp.dll", L"C:\\Games\\Crimson Desert\\bin64\\winhttp.dll"}}),
            "version.dll, winhttp.dll");
  // A sibling folder whose name only begins like the game's is not the game's.
  EXPECT_EQ(LoaderDllList(L"C:\\Games\\bin64\\", {{"dinput8.dll", L"C:\\Games\\bin64old\\dinput8.dll"}}),
            "no loader DLL");
  EXPECT_EQ(LoaderDllList(L"", {{"dinput8.dll", L"C:\\dinput8.dll"}}), "no loader DLL");
  EXPECT_EQ(LoaderDllList(L"C:\\g\\", {{std::string(100, 'x'), L"C:\\g\\x"}}), std::string(64, 'x'));
  EXPECT_DOUBLE_EQ(SecondsSince(0, 5), -1.0);
  EXPECT_DOUBLE_EQ(SecondsSince(10000000, 35000000), 2.5);
}

TEST(HookReport, StreamlineHooksFollowTheWorldSettings) {
  struct Case {
    bool enabled;
    std::uint32_t toggle;
    std::int32_t dlssCamera;
    bool occlusion;
    bool camera, depth;
  };
  for (const Case& c : {Case{true, 0xDD, -1, true, true, true}, Case{false, 0, -1, true, false, false},
                        Case{false, 0x75, -1, true, true, true}, Case{true, 0, 0, false, false, false},
                        Case{true, 0, -1, false, true, false}, Case{true, 0, 0, true, true, true}}) {
    Settings s;
    s.worldEnabled = c.enabled;
    s.worldToggle = {c.toggle, 0};
    s.worldDlssCamera = c.dlssCamera;
    s.worldOcclusion = c.occlusion;
    const StreamlinePlan plan = PlanStreamlineHooks(s);
    EXPECT_EQ(plan.camera, c.camera) << c.enabled << c.toggle << c.dlssCamera << c.occlusion;
    EXPECT_EQ(plan.depth, c.depth) << c.enabled << c.toggle << c.dlssCamera << c.occlusion;
  }
  EXPECT_STREQ(DepthHooksText(false, true), "hooked (slSetTagForFrame)");
  EXPECT_STREQ(DepthHooksText(false, false), "not available; the in-world route is drawn without occlusion");
}

// The start-up thread's wait, with a scripted window and scripted flags per poll.
class ScriptedWait final : public PresentWaitServices {
 public:
  int windowFromPoll = 1 << 30;  // the game window is shown from this poll on
  int swapchainAtPoll = -1;      // the swap chain's hooks are enabled during this poll
  bool hooksFail = false;        // ... or fail to be made instead
  int presentAtPoll = 1 << 30;   // the first present reaches them during this poll
  int handoverAtPoll = -1;       // CompositionHandover is raised during this poll
  int sleeps = 0;

  void Sleep(std::uint32_t ms) override {
    EXPECT_EQ(ms, 500u);
    ++sleeps;
    if (sleeps == swapchainAtPoll) {
      Hooks().SwapChainSeen.store(1);
      (hooksFail ? Hooks().SwapChainHooksFailed : Hooks().SwapChainHooksInstalled).store(1);
    }
    if (sleeps == handoverAtPoll) Hooks().CompositionHandover.store(1);
    ASSERT_LT(sleeps, 10000) << "the wait does not end";
  }
  bool GameWindowShown() override { return sleeps >= windowFromPoll; }
  std::uint64_t PresentsReached() override { return sleeps >= presentAtPoll ? 1 : 0; }
  bool ModuleLoaded(const char* name) override { return std::string(name) == "amd_fidelityfx_loader_dx12.dll"; }
};

class PresentWait : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    Hooks().SwapChainSeen.store(0);
    Hooks().SwapChainHooksInstalled.store(0);
    Hooks().SwapChainHooksFailed.store(0);
    Hooks().CompositionHandover.store(0);
    Hooks().PresentDisabled.store(0);
  }
};

TEST_F(PresentWait, GivesUpAfterFortyPollsWithTheWindowOrTwoHundredFortyInAll) {
  struct Case {
    int windowFromPoll;
    int polls;
  };
  for (const Case& c : {Case{0, 40}, Case{1 << 30, 240}, Case{100, 139}, Case{201, 240}, Case{200, 239}}) {
    Reset();
    ScriptedWait wait;
    wait.windowFromPoll = c.windowFromPoll;
    PresentWaitResult result;
    const auto lines = CaptureLog([&] { result = WaitForPresentRenderer(wait); });
    EXPECT_FALSE(result.swapchainSeen);
    EXPECT_EQ(result.polls, c.polls) << c.windowFromPoll;
    EXPECT_EQ(Hooks().PresentDisabled.load(), 1);
    EXPECT_EQ(Hooks().CompositionHandover.load(), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Overlay: no D3D12 swapchain creation seen; switching to the Composition renderer"),
              std::string::npos);
    EXPECT_NE(lines[0].find("Loaded: FidelityFX frame generation no, FidelityFX loader yes, DLSS frame generation no"),
              std::string::npos);
  }
}

TEST_F(PresentWait, ASwapChainSeenWaitsForTheHandOver) {
  ScriptedWait wait;
  wait.windowFromPoll = 0;
  wait.swapchainAtPoll = 39;  // just before the limit
  wait.presentAtPoll = 41;
  wait.handoverAtPoll = 400;  // long after it: the renderer works until it gives up
  PresentWaitResult result;
  const auto lines = CaptureLog([&] { result = WaitForPresentRenderer(wait); });
  EXPECT_TRUE(result.swapchainSeen);
  EXPECT_EQ(result.polls, 39);
  EXPECT_EQ(wait.sleeps, 400);
  EXPECT_EQ(Hooks().PresentDisabled.load(), 0);
  EXPECT_TRUE(lines.empty());
}

// Hooks that cannot be made end the wait at once; hooks no present reaches end it a minute after
// the game window is shown, or after five minutes in all; either way with one line that says why.
TEST_F(PresentWait, HooksThatFailOrThatNoPresentReachesHandOverWithTheirReason) {
  struct Case {
    const char* name;
    bool fail;
    int windowFromPoll;
    int sleeps;
    const char* line;
  };
  const Case cases[] = {
      {"hooks not made", true, 0, 5,
       "Overlay: the swapchain hooks are not in place; switching to the Composition renderer (minimap and world map; "
       "no "
       "in-world route)"},
      {"no present, window shown", false, 0, 5 + 120,
       "Overlay: no present reached the swapchain hooks in 60 s; switching to the Composition renderer (minimap and "
       "world map; no in-world route)"},
      {"no present, no window", false, 1 << 30, 5 + 600,
       "Overlay: no present reached the swapchain hooks in 300 s; switching to the Composition renderer (minimap and "
       "world map; no in-world route)"},
  };
  for (const Case& c : cases) {
    Reset();
    ScriptedWait wait;
    wait.windowFromPoll = c.windowFromPoll;
    wait.swapchainAtPoll = 5;
    wait.hooksFail = c.fail;
    PresentWaitResult result;
    const auto lines = CaptureLog([&] { result = WaitForPresentRenderer(wait); });
    EXPECT_TRUE(result.swapchainSeen) << c.name;
    EXPECT_EQ(wait.sleeps, c.sleeps) << c.name;
    EXPECT_EQ(Hooks().PresentDisabled.load(), 1) << c.name;
    EXPECT_EQ(lines, (std::vector<std::string>{c.line})) << c.name;
  }
}

TEST_F(PresentWait, AHandOverBeforeAnySwapChainEndsTheWaitAtOnce) {
  ScriptedWait wait;
  wait.handoverAtPoll = 3;  // FidelityFX's frame-generation swap chain, the game's own never seen
  PresentWaitResult result;
  const auto lines = CaptureLog([&] { result = WaitForPresentRenderer(wait); });
  EXPECT_FALSE(result.swapchainSeen);
  EXPECT_EQ(result.polls, 3);
  EXPECT_TRUE(lines.empty());  // the hand-over logged its own reason
}

TEST(PresentGateTest, OnlyTheOutermostNonTestPresentDraws) {
  EXPECT_FALSE(PresentGate::Enter(PresentGate::kPresentTest));
  PresentGate::Leave();
  EXPECT_TRUE(PresentGate::Enter(0x200));  // other flags draw
  EXPECT_FALSE(PresentGate::Enter(0));     // nested in it
  PresentGate::Leave();
  PresentGate::Leave();
  EXPECT_TRUE(PresentGate::Enter(0));
  // Another thread has its own depth.
  bool other = false;
  std::thread([&] {
    other = PresentGate::Enter(0);
    PresentGate::Leave();
  }).join();
  EXPECT_TRUE(other);
  PresentGate::Leave();
}

TEST(SwapChainQueueTableTest, ASwapChainAtTheSameAddressTakesTheNewQueue) {
  SwapChainQueueTable table;
  int a = 0, b = 0, q1 = 0, q2 = 0;
  table.Record(&a, &q1);
  table.Record(&b, &q1);
  table.Record(&a, &q2);
  EXPECT_EQ(table.Find(&a), &q2);
  EXPECT_EQ(table.Find(&b), &q1);
  EXPECT_EQ(table.Find(&q1), nullptr);
  EXPECT_EQ(table.Size(), 2u);
}

}  // namespace
}  // namespace pathlight
