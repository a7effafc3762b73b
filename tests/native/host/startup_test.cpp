#include "host/startup.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pathlight {
namespace {

// Records which pieces the sequence called, in order, and the log lines written meanwhile (the
// native log goes to standard output).
class FakeHost final : public StartupHost {
 public:
  std::wstring exe = L"C:\\Games\\Host\\bin64\\CrimsonDesert.exe";
  RendererChoice renderer = RendererChoice::Present;
  bool scan = true, draw = true, gameInit = true;
  std::vector<std::string> calls;

  std::wstring HostExecutablePath() override { return exe; }
  void LoadSettings() override { calls.push_back("settings"); }
  RendererChoice Renderer() override { return renderer; }
  bool ScanEnabled() override { return scan; }
  bool DrawEnabled() override { return draw; }
  void InstallGraphicsHooks() override { calls.push_back("hooks"); }
  bool GameInit() override {
    calls.push_back("gameinit");
    return gameInit;
  }
  void StartFinderThread() override { calls.push_back("finder"); }
  void StartRoadLoaderThread() override { calls.push_back("roads"); }
  void StartRouteWorkerThread() override { calls.push_back("worker"); }
  void StartKeysThread() override { calls.push_back("keys"); }
  void WaitForPresentRenderer() override { calls.push_back("wait"); }
  void RunCompositionRenderer() override { calls.push_back("composition"); }
};

struct StartupRun {
  StartupOutcome outcome;
  std::vector<std::string> lines;  // messages without time stamps
};

StartupRun RunCapturing(FakeHost& host) {
  testing::internal::CaptureStdout();
  const StartupOutcome outcome = RunStartup(host);
  const std::string out = testing::internal::GetCapturedStdout();
  StartupRun run{outcome, {}};
  std::size_t start = 0, end;
  while ((end = out.find('\n', start)) != std::string::npos) {
    run.lines.push_back(out.substr(start + 15, end - start - 15));  // after "[hh:mm:ss.mmm] "
    start = end + 1;
  }
  return run;
}

using Calls = std::vector<std::string>;

TEST(Startup, OtherProcessDoesNothingAtAll) {
  FakeHost host;
  host.exe = L"C:\\Windows\\notepad.exe";
  const StartupRun run = RunCapturing(host);
  EXPECT_EQ(run.outcome, StartupOutcome::NotHost);
  EXPECT_TRUE(run.lines.empty());
  EXPECT_TRUE(host.calls.empty());
}

TEST(Startup, LayoutNotRecognisedEndsWithTheInitLine) {
  FakeHost host;
  host.gameInit = false;
  host.exe = L"C:\\Games\\Host\\bin64\\crimsondesert.EXE";
  const StartupRun run = RunCapturing(host);
  EXPECT_EQ(run.outcome, StartupOutcome::Inactive);
  EXPECT_EQ(run.lines, (std::vector<std::string>{"Pathlight 1.2.5 loaded",
                                                 "Init: game layout not recognised, Pathlight stays inactive"}));
  // Hooks installed before the scan stay; no worker starts.
  EXPECT_EQ(host.calls, (Calls{"settings", "hooks", "gameinit"}));
}

TEST(Startup, PresentInstallsHooksBeforeTheScanAndFallsBackToComposition) {
  FakeHost host;
  const StartupRun run = RunCapturing(host);
  EXPECT_EQ(run.outcome, StartupOutcome::RendererReturned);
  EXPECT_EQ(host.calls,
            (Calls{"settings", "hooks", "gameinit", "finder", "roads", "worker", "keys", "wait", "composition"}));
  EXPECT_EQ(run.lines,
            (std::vector<std::string>{"Pathlight 1.2.5 loaded", "Renderer: Present (in-frame D3D12); scanning on"}));
}

TEST(Startup, CompositionAndNoneInstallNoHooks) {
  FakeHost composition;
  composition.renderer = RendererChoice::Composition;
  composition.scan = false;
  StartupRun run = RunCapturing(composition);
  EXPECT_EQ(composition.calls, (Calls{"settings", "gameinit", "finder", "roads", "worker", "keys", "composition"}));
  EXPECT_EQ(run.lines.back(), "Renderer: Composition (DirectComposition); scanning OFF");

  FakeHost none;
  none.renderer = RendererChoice::None;
  none.draw = false;
  run = RunCapturing(none);
  EXPECT_EQ(run.outcome, StartupOutcome::RendererNone);
  EXPECT_EQ(none.calls, (Calls{"settings", "gameinit", "finder", "roads", "worker", "keys"}));
  EXPECT_EQ(run.lines, (std::vector<std::string>{
                           "Pathlight 1.2.5 loaded", "Renderer: None (no graphics hooks, nothing drawn); scanning on",
                           "Debug: Draw=0, the Present renderer will not create graphics objects or draw"}));
}

}  // namespace
}  // namespace pathlight
