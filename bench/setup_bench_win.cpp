// What a rebuild of the in-frame renderer's objects costs beside the first set-up, on a real
// Direct3D 12 device through a stand-in swap chain: the first set-up compiles the shaders and
// builds the font atlas, a rebuild (a resize, a reload, a new swap chain) should only make device
// objects and upload the atlas. Frames without a rebuild are the baseline of the frame's own work.
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

  const double firstBegin = bench::Now();
  RenderFrame(&swapchain);
  const double first = bench::Now() - firstBegin;
  std::vector<double> frames, rebuilt;
  for (int i = 0; i < rebuilds; ++i) {
    const double frameBegin = bench::Now();
    RenderFrame(&swapchain);
    frames.push_back(bench::Now() - frameBegin);
    RebuildRequested.store(1);
    const double rebuildBegin = bench::Now();
    RenderFrame(&swapchain);
    rebuilt.push_back(bench::Now() - rebuildBegin);
  }
  const auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double frame = median(frames), rebuild = median(rebuilt);
  const ShaderCacheCounts cache = ShaderCacheCounted();
  std::printf("bench-setup: first set-up %.1f ms; rebuild median %.1f ms (%.2f of the first) over %d; a frame alone "
              "%.2f ms; shaders compiled %d, answered from the cache %d\n",
              first * 1e3, rebuild * 1e3, rebuild / first, rebuilds, frame * 1e3, cache.compiled, cache.hits);
  {
    std::lock_guard lock(RenderMutex());
    ReleaseDeviceObjects();
  }
  queue->Release();
  device->Release();
  return 0;
}
