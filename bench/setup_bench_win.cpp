// What a rebuild of the in-frame renderer's objects costs beside the first set-up, on a real
// Direct3D 12 device through a stand-in swap chain: the first set-up compiles the shaders and
// builds the font atlas; a rebuild (a resize, a reload, a new swap chain of the same device) makes
// only the swap chain's objects; a set-up for another buffer count makes the device's objects
// again too (pipelines, the font texture uploaded) from the kept shaders and atlas, on a thread of
// their own while the presents go on: for those the time until the overlay draws again is given
// beside the longest present meanwhile. Frames without a rebuild are the baseline of the frame's
// own work.
#include <d3d12.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../tests/win/hooks/fake_swapchain_win.hpp"
#include "bench_clock_win.hpp"
#include "hooks/present_frame.hpp"
#include "settings/run_flags.hpp"
#include "settings/settings.hpp"
#include "render12/present_renderer_win.hpp"
#include "render12/shader_cache_win.hpp"

using namespace pathlight;

int main(int argc, char** argv) {
  const int rebuilds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  ID3D12Device* device = nullptr;
  if (FAILED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device),
                               reinterpret_cast<void**>(&device)))) {
    std::printf("bench-setup: no Direct3D 12 device\n");
    return 1;
  }
  D3D12_COMMAND_QUEUE_DESC desc = {};
  desc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
  ID3D12CommandQueue* queue = nullptr;
  device->CreateCommandQueue(&desc, __uuidof(ID3D12CommandQueue), reinterpret_cast<void**>(&queue));
  Settings settings;
  settings.debug.testPattern = true;
  settings.worldOcclusion = true;  // the occlusion pipeline is built in each set-up as well
  settings.worldEnabled = true;
  PublishSettings(settings);
  FakeSwapChain swapchain(device, queue);

  // Until the overlay draws: the present that starts the device's build, the build, the present
  // that makes the swap chain's objects and draws. Returns that time; `longest` gets the longer of
  // the two presents.
  const auto untilDrawn = [&](double& longest) {
    const double begin = bench::Now();
    RenderFrame(&swapchain);
    const double started = bench::Now();
    AwaitDeviceObjects();
    const double built = bench::Now();
    RenderFrame(&swapchain);
    const double end = bench::Now();
    longest = std::max(started - begin, end - built);
    return end - begin;
  };
  double firstPresent = 0;
  const double first = untilDrawn(firstPresent);
  std::vector<double> frames, rebuilt, remade, remadePresents;
  for (int i = 0; i < rebuilds; ++i) {
    const double frameBegin = bench::Now();
    RenderFrame(&swapchain);
    frames.push_back(bench::Now() - frameBegin);
    Flags().RebuildRequested.store(1);
    const double rebuildBegin = bench::Now();
    RenderFrame(&swapchain);
    rebuilt.push_back(bench::Now() - rebuildBegin);
    swapchain.reportedBuffers = swapchain.reportedBuffers == kFakeBuffers ? kFakeBuffers + 1 : kFakeBuffers;
    double longest = 0;
    remade.push_back(untilDrawn(longest));
    remadePresents.push_back(longest);
  }
  const auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double frame = median(frames), rebuild = median(rebuilt), withDevice = median(remade),
               withDevicePresent = median(remadePresents);
  const ShaderCacheCounts cache = ShaderCacheCounted();
  std::printf(
      "bench-setup: first set-up %.1f ms until drawn (its longest present %.2f ms); rebuild median %.2f ms "
      "(%.3f of the first) over %d; with the device's objects (another buffer count) %.1f ms until drawn "
      "(%.2f of the first; longest present %.2f ms); a frame alone %.2f ms; shaders compiled %d, answered from "
      "the cache %d\n",
      first * 1e3, firstPresent * 1e3, rebuild * 1e3, rebuild / first, rebuilds, withDevice * 1e3, withDevice / first,
      withDevicePresent * 1e3, frame * 1e3, cache.compiled, cache.hits);
  {
    std::lock_guard lock(RenderMutex());
    ReleaseDeviceObjects();
  }
  queue->Release();
  device->Release();
  return 0;
}
