// The Present renderer's failure paths on a real Direct3D 12 device, driven through a stand-in swap
// chain that can report what DXGI never does on its own (a back-buffer index past the buffer count,
// a failing description), a device that can report its removal, and a queue held behind a fence.
//
// It sits in a folder that registers after the log's own tests: the renderer's lines open the
// process's log, which those tests move aside and write afresh.
#include <d3d12.h>
#include <dxgi1_4.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "fake_swapchain_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/present_frame.hpp"
#include "log_text_win.hpp"
#include "platform/log.hpp"
#include "render12/present_renderer_win.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"

namespace pathlight {
namespace {

using testing::LogText;

// A device that counts the objects the renderer makes on it and answers GetDeviceRemovedReason as
// the test says: its method table is swapped for a copy with those entries replaced, and put back
// afterwards. Every device of the driver shares the original entries.
std::atomic<HRESULT> g_removedReason{S_OK};
std::atomic<int> g_allocatorsMade{0}, g_pipelinesMade{0};
void** g_deviceTable = nullptr;

HRESULT STDMETHODCALLTYPE ReportedRemoval(ID3D12Device*) { return g_removedReason.load(); }
HRESULT STDMETHODCALLTYPE CountedAllocator(ID3D12Device* device, D3D12_COMMAND_LIST_TYPE type, REFIID id, void** out) {
  g_allocatorsMade.fetch_add(1);
  using Make = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, D3D12_COMMAND_LIST_TYPE, REFIID, void**);
  return reinterpret_cast<Make>(g_deviceTable[9])(device, type, id, out);
}
HRESULT STDMETHODCALLTYPE CountedPipeline(ID3D12Device* device, const D3D12_GRAPHICS_PIPELINE_STATE_DESC* desc,
                                          REFIID id, void** out) {
  g_pipelinesMade.fetch_add(1);
  using Make = HRESULT(STDMETHODCALLTYPE*)(ID3D12Device*, const D3D12_GRAPHICS_PIPELINE_STATE_DESC*, REFIID, void**);
  return reinterpret_cast<Make>(g_deviceTable[10])(device, desc, id, out);
}

class WatchedDevice {
 public:
  // ID3D12Device's table: CreateCommandAllocator, CreateGraphicsPipelineState, GetDeviceRemovedReason.
  static constexpr std::size_t kMethods = 44, kAllocatorSlot = 9, kPipelineSlot = 10, kRemovedReasonSlot = 37;
  explicit WatchedDevice(ID3D12Device* device) : table_(reinterpret_cast<void***>(device)), original_(*table_) {
    g_deviceTable = original_;
    std::memcpy(copy_, original_, sizeof copy_);
    copy_[kAllocatorSlot] = reinterpret_cast<void*>(&CountedAllocator);
    copy_[kPipelineSlot] = reinterpret_cast<void*>(&CountedPipeline);
    copy_[kRemovedReasonSlot] = reinterpret_cast<void*>(&ReportedRemoval);
    *table_ = copy_;
  }
  ~WatchedDevice() { *table_ = original_; }
  WatchedDevice(const WatchedDevice&) = delete;
  WatchedDevice& operator=(const WatchedDevice&) = delete;

 private:
  void*** table_;
  void** original_;
  void* copy_[kMethods];
};

// The messages the log gained since `before`, time stamps left out.
std::vector<std::string> NewMessages(const std::string& before) {
  const std::string now = LogText();
  return testing::LogMessages(now.size() >= before.size() ? now.substr(before.size()) : now);
}

// One present, then the end of a device build it started: the next present finds the objects made.
void Present(FakeSwapChain& swapchain) {
  RenderFrame(&swapchain);
  AwaitDeviceObjects();
}

int CountContaining(const std::vector<std::string>& lines, const std::string& part) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const std::string& l) { return l.find(part) != std::string::npos; }));
}

// A device of the driver with a direct queue on it; false when either cannot be made.
bool MakeDeviceAndQueue(ID3D12Device*& device, ID3D12CommandQueue*& queue) {
  if (FAILED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device),
                               reinterpret_cast<void**>(&device)))) {
    return false;
  }
  D3D12_COMMAND_QUEUE_DESC desc = {};
  desc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  return SUCCEEDED(device->CreateCommandQueue(&desc, __uuidof(ID3D12CommandQueue), reinterpret_cast<void**>(&queue)));
}

class PresentPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDeviceAndQueue(device_, queue_));
    // The log's first line of the process moves the last run's file aside: not between a test's
    // two reads of it.
    Log("Test: %s", ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Settings settings;
    settings.debug.testPattern = true;
    PublishSettings(settings);
  }
  void TearDown() override {
    {
      std::lock_guard lock(RenderMutex());
      ReleaseDeviceObjects();
    }
    Hooks().PresentDisabled.store(0);
    PublishSettings(Settings{});
    if (queue_ != nullptr) queue_->Release();
    if (device_ != nullptr) device_->Release();
  }

  ID3D12Device* device_ = nullptr;
  ID3D12CommandQueue* queue_ = nullptr;
};

struct PathCase {
  const char* name;
  HRESULT desc = S_OK;
  bool swapchain3 = true;
  UINT index = 0;
  HRESULT buffer = S_OK;
  bool queueHeld = false;         // the game's queue waits on a fence nobody signals yet
  HRESULT removed = S_OK;         // what the device answers after a frame
  int frames = 4;                 // the first only starts the device's build
  const char* failure = nullptr;  // the one failure line expected
  int buffersTaken = 0;
};

TEST_F(PresentPaths, EachFailureSkipsTheFrameAndIsReportedOnce) {
  const PathCase cases[] = {
      {.name = "all well", .buffersTaken = 3},
      {.name = "description", .desc = DXGI_ERROR_INVALID_CALL, .failure = "Overlay: GetDesc failed (hr=0x887A0001)"},
      {.name = "no IDXGISwapChain3",
       .swapchain3 = false,
       .failure = "Overlay: QueryInterface(IDXGISwapChain3) failed (hr=0x80004002)"},
      {.name = "index past the buffers",
       .index = kFakeBuffers,
       .failure = "Overlay: back buffer index failed (hr=0x8000FFFF)"},
      {.name = "buffer",
       .buffer = DXGI_ERROR_INVALID_CALL,
       .failure = "Overlay: GetBuffer failed (hr=0x887A0001)",
       .buffersTaken = 3},
      // The fourth frame finds frame context 0's fence not passed within the cap.
      {.name = "queue held",
       .queueHeld = true,
       .frames = 4,
       .failure = "Overlay: waiting for the previous overlay frame failed (hr=0x8000000A)",
       .buffersTaken = 3},
      // Drawing stops after the first frame drawn: no description is asked for again.
      {.name = "device removed",
       .removed = DXGI_ERROR_DEVICE_REMOVED,
       .failure = "Overlay: device (removed) failed (hr=0x887A0005)",
       .buffersTaken = 1},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = LogText();
    FakeSwapChain swapchain(device_, queue_);
    swapchain.descResult = c.desc;
    swapchain.offersSwapChain3 = c.swapchain3;
    swapchain.index = c.index;
    swapchain.bufferResult = c.buffer;
    ID3D12Fence* hold = nullptr;
    if (c.queueHeld) {
      ASSERT_TRUE(SUCCEEDED(
          device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), reinterpret_cast<void**>(&hold))));
      queue_->Wait(hold, 1);
    }
    {
      WatchedDevice watched(device_);
      g_removedReason.store(c.removed);
      ASSERT_EQ(device_->GetDeviceRemovedReason(), c.removed);  // the replaced entry is the one called
      for (int frame = 0; frame < c.frames; ++frame) Present(swapchain);
      g_removedReason.store(S_OK);
    }
    if (hold != nullptr) {
      hold->Signal(1);
      hold->Release();
    }
    const std::vector<std::string> lines = NewMessages(before);
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_EQ(CountContaining(lines, " failed (hr="), c.failure != nullptr ? 1 : 0) << all;
    if (c.failure != nullptr) {
      EXPECT_EQ(std::count(lines.begin(), lines.end(), c.failure), 1) << all;
    }
    EXPECT_EQ(swapchain.bufferCalls, c.buffersTaken);
    EXPECT_EQ(Hooks().PresentDisabled.load() != 0, c.removed != S_OK);
    // A lost device would be lost to the Composition renderer too: no hand-over.
    EXPECT_EQ(Hooks().CompositionHandover.load(), 0);
    if (c.removed != S_OK) {
      EXPECT_EQ(swapchain.descCalls, 2);  // the build's present, the one frame drawn
    }
    if (c.desc == S_OK) {
      EXPECT_EQ(CountContaining(lines, "Overlay: ready on 64x64, 2 buffers, format 28,"), 1) << all;
    }
    std::lock_guard lock(RenderMutex());
    ReleaseDeviceObjects();
    Hooks().PresentDisabled.store(0);
  }
}

// A rebuild makes the swap chain's objects again (an allocator per buffer), and the device's (Dear
// ImGui's pipeline and its font upload with an allocator of its own, the occlusion pipeline) only
// for another device or another buffer count: a resize or a reload costs no pipeline.
TEST_F(PresentPaths, RebuildsRemakeTheDevicesObjectsOnlyForAnotherDeviceOrBufferCount) {
  Settings settings;
  settings.debug.testPattern = true;
  settings.worldOcclusion = true;
  settings.worldEnabled = true;
  PublishSettings(settings);
  ID3D12Device* otherDevice = nullptr;
  ID3D12CommandQueue* otherQueue = nullptr;
  ASSERT_TRUE(MakeDeviceAndQueue(otherDevice, otherQueue));
  {
    WatchedDevice watched(device_), watchedOther(otherDevice);
    FakeSwapChain swapchain(device_, queue_), another(otherDevice, otherQueue);
    // Recorded as the creation step records them: the newer creation is the one drawn into.
    SwapChainQueues().Record(&swapchain, queue_);
    struct Step {
      const char* name;
      std::function<void()> change;
      FakeSwapChain* drawn;
      int allocators, pipelines;
      const char* ready;
    };
    const Step steps[] = {
        {"first set-up", [] {}, &swapchain, 3, 2, "Overlay: ready on 64x64, 2 buffers,"},
        {"a frame alone", [] {}, &swapchain, 0, 0, nullptr},
        {"a reload's request", [] { Flags().RebuildRequested.store(1); }, &swapchain, 2, 0,
         "Overlay: ready on 64x64, 2 buffers,"},
        {"a resize", [&] { swapchain.reportedWidth = 48; }, &swapchain, 2, 0, "Overlay: ready on 48x64, 2 buffers,"},
        {"another buffer count", [&] { swapchain.reportedBuffers = 3; }, &swapchain, 4, 2,
         "Overlay: ready on 48x64, 3 buffers,"},
        {"another device", [&] { SwapChainQueues().Record(&another, otherQueue); }, &another, 3, 2,
         "Overlay: ready on 64x64, 2 buffers,"},
    };
    for (const Step& step : steps) {
      SCOPED_TRACE(step.name);
      const std::string before = LogText();
      step.change();
      g_allocatorsMade.store(0);
      g_pipelinesMade.store(0);
      Present(*step.drawn);
      Present(*step.drawn);
      const std::vector<std::string> lines = NewMessages(before);
      EXPECT_EQ(g_allocatorsMade.load(), step.allocators);
      EXPECT_EQ(g_pipelinesMade.load(), step.pipelines);
      EXPECT_EQ(CountContaining(lines, "Overlay: ready on "), step.ready != nullptr ? 1 : 0);
      if (step.ready != nullptr) {
        EXPECT_EQ(CountContaining(lines, step.ready), 1);
      }
      EXPECT_EQ(CountContaining(lines, " failed"), 0);
    }
    std::lock_guard lock(RenderMutex());
    ReleaseDeviceObjects();
  }
  otherQueue->Release();
  otherDevice->Release();
}

TEST_F(PresentPaths, NothingToDrawTakesNoLockAndRecordsNothing) {
  PublishSettings(Settings{});  // no test pattern, no route: nothing to draw
  FakeSwapChain swapchain(device_, queue_);
  constexpr int kFrames = 20;
  std::atomic<int> presented{0};
  std::unique_lock held(RenderMutex());
  auto presents = std::async(std::launch::async, [&] {
    for (int frame = 0; frame < kFrames; ++frame) {
      RenderFrame(&swapchain);
      presented.fetch_add(1);
    }
  });
  // A present that took the lock would never return while it is held here; the cap only keeps a
  // failing run from hanging.
  const bool done = presents.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  held.unlock();
  presents.wait();
  EXPECT_TRUE(done);
  EXPECT_EQ(presented.load(), kFrames);
  EXPECT_EQ(swapchain.descCalls, 0);
  EXPECT_EQ(swapchain.bufferCalls, 0);
}

}  // namespace
}  // namespace pathlight
