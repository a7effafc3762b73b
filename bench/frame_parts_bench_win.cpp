// One in-frame overlay frame, part by part, on this machine's Direct3D 12: the frame the Present
// renderer records into the game's back buffer, with a 300-point route on the minimap and a 50 m
// ribbon (drawing_scene.hpp), split into
//   - drawing: the route from the player, Dear ImGui's frame and the two route drawings, which is
//     the overlay's own processor work and the same on every machine;
//   - recording: the back buffer's barriers and target, and the backend's draw data (its vertex
//     upload and state), which is the Direct3D 12 implementation's work as much as the overlay's;
//   - submission: executing the list on the queue and signalling the fence.
// The baseline, measured in the same run, is an empty list reset, closed and submitted the same
// way: what any command list costs on this Direct3D 12 before it draws anything. Under Wine the
// recording and the submission go through the translation to Vulkan, so the drawing part is the
// figure that carries over to a game's machine.
//
// The thread's processor time is read around whole loops (Wine counts it in 10 ms steps): one loop
// of drawing alone, one of whole frames, one of the baseline. Without the game's depth buffer the
// ribbon is drawn without occlusion.
//
//   pathlight-bench-frame-parts.exe [--frames N]
#include <d3d12.h>
#include <imgui.h>
#include <imgui_impl_dx12.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_clock_win.hpp"
#include "bench_row.hpp"
#include "counted_allocations.hpp"
#include "drawing_scene.hpp"
#include "render12/backend_shader.hpp"
#include "testkit/d3d12_kit_win.hpp"

using namespace pathlight;
using bench::Figures;
using bench::Now;
using testkit::Transition;

namespace {

constexpr UINT kFramesInFlight = 2;
constexpr DXGI_FORMAT kFormat = DXGI_FORMAT_R8G8B8A8_UNORM;
constexpr DWORD kWaitMs = 10000;

// The device, a queue standing in for the game's, a target standing in for its back buffer, and
// the overlay's per-frame objects as the renderer makes them.
struct Gpu {
  ID3D12Device* device = nullptr;
  ID3D12CommandQueue* queue = nullptr;
  ID3D12Resource* target = nullptr;
  ID3D12DescriptorHeap* rtvHeap = nullptr;
  ID3D12DescriptorHeap* srvHeap = nullptr;
  ID3D12CommandAllocator* allocators[kFramesInFlight] = {};
  UINT64 fenceValues[kFramesInFlight] = {};
  ID3D12GraphicsCommandList* list = nullptr;
  ID3D12Fence* fence = nullptr;
  UINT64 lastFence = 0;
  HANDLE event = nullptr;
  UINT64 frame = 0;

  bool Create() {
    if (FAILED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device),
                                 reinterpret_cast<void**>(&device)))) {
      return false;
    }
    D3D12_COMMAND_QUEUE_DESC queueDesc = {};
    queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    if (FAILED(
            device->CreateCommandQueue(&queueDesc, __uuidof(ID3D12CommandQueue), reinterpret_cast<void**>(&queue)))) {
      return false;
    }
    const D3D12_RESOURCE_DESC desc =
        testkit::TextureDesc(static_cast<UINT64>(bench::kSceneWidth), static_cast<UINT>(bench::kSceneHeight), kFormat,
                             D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET);
    if (FAILED(
            testkit::CreateCommitted(device, D3D12_HEAP_TYPE_DEFAULT, desc, D3D12_RESOURCE_STATE_PRESENT, &target)) ||
        FAILED(testkit::CreateDescriptorHeap(device, D3D12_DESCRIPTOR_HEAP_TYPE_RTV, 1, &rtvHeap)) ||
        FAILED(testkit::CreateDescriptorHeap(device, D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV, 1, &srvHeap,
                                             D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE))) {
      return false;
    }
    for (ID3D12CommandAllocator*& allocator : allocators) {
      if (FAILED(device->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, __uuidof(ID3D12CommandAllocator),
                                                reinterpret_cast<void**>(&allocator)))) {
        return false;
      }
    }
    if (FAILED(device->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocators[0], nullptr,
                                         __uuidof(ID3D12GraphicsCommandList), reinterpret_cast<void**>(&list))) ||
        FAILED(list->Close()) ||
        FAILED(
            device->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), reinterpret_cast<void**>(&fence)))) {
      return false;
    }
    event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event != nullptr;
  }

  // The renderer's wait for the frame context it is about to reuse (not timed: it is not work).
  bool WaitForContext() {
    const UINT64 value = fenceValues[frame % kFramesInFlight];
    if (fence->GetCompletedValue() >= value) return true;
    return SUCCEEDED(fence->SetEventOnCompletion(value, event)) && WaitForSingleObject(event, kWaitMs) == WAIT_OBJECT_0;
  }

  ID3D12CommandAllocator* Allocator() { return allocators[frame % kFramesInFlight]; }

  void Submit() {
    ID3D12CommandList* lists[] = {list};
    queue->ExecuteCommandLists(1, lists);
    const UINT64 value = ++lastFence;
    queue->Signal(fence, value);
    fenceValues[frame % kFramesInFlight] = value;
    ++frame;
  }

  bool Drain() {
    const UINT64 value = ++lastFence;
    if (FAILED(queue->Signal(fence, value))) return false;
    if (fence->GetCompletedValue() >= value) return true;
    return SUCCEEDED(fence->SetEventOnCompletion(value, event)) && WaitForSingleObject(event, kWaitMs) == WAIT_OBJECT_0;
  }
};

void DrawFrame(const bench::DrawingScene& scene, DrawingScratch& scratch) {
  ImGui_ImplDX12_NewFrame();
  bench::DrawSceneFrame(scene, scratch);
}

bool Record(Gpu& gpu) {
  if (FAILED(gpu.Allocator()->Reset()) || FAILED(gpu.list->Reset(gpu.Allocator(), nullptr))) return false;
  const D3D12_CPU_DESCRIPTOR_HANDLE rtv = gpu.rtvHeap->GetCPUDescriptorHandleForHeapStart();
  gpu.device->CreateRenderTargetView(gpu.target, nullptr, rtv);
  const D3D12_RESOURCE_BARRIER before =
      Transition(gpu.target, D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET);
  gpu.list->ResourceBarrier(1, &before);
  gpu.list->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
  ID3D12DescriptorHeap* heaps[] = {gpu.srvHeap};
  gpu.list->SetDescriptorHeaps(1, heaps);
  ImGui_ImplDX12_RenderDrawData(ImGui::GetDrawData(), gpu.list);
  const D3D12_RESOURCE_BARRIER after =
      Transition(gpu.target, D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT);
  gpu.list->ResourceBarrier(1, &after);
  return SUCCEEDED(gpu.list->Close());
}

bool RecordEmpty(Gpu& gpu) {
  return SUCCEEDED(gpu.Allocator()->Reset()) && SUCCEEDED(gpu.list->Reset(gpu.Allocator(), nullptr)) &&
         SUCCEEDED(gpu.list->Close());
}

void Row(const char* what, const Figures& f, bool cpu) {
  std::printf("  %-48s median %8.1f us  p99 %8.1f us", what, f.median, f.p99);
  if (cpu) std::printf("  thread CPU %8.1f us a frame", f.cpuPerCall);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 3000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0) frames = std::clamp(std::atoi(argv[i + 1]), 10, 1000000);
  }
  Gpu gpu;
  if (!gpu.Create()) {
    std::fprintf(stderr, "frame parts: no Direct3D 12 device, queue or target\n");
    return 1;
  }
  bench::CountImGuiAllocations();
  ImGui::CreateContext();
  ImGui::GetIO().IniFilename = nullptr;
  BackendPixelShaderMacros().Set(0, 203.0f);
  if (!ImGui_ImplDX12_Init(gpu.device, static_cast<int>(kFramesInFlight), kFormat, gpu.srvHeap,
                           gpu.srvHeap->GetCPUDescriptorHandleForHeapStart(),
                           gpu.srvHeap->GetGPUDescriptorHandleForHeapStart()) ||
      !ImGui_ImplDX12_CreateDeviceObjects()) {
    std::fprintf(stderr, "frame parts: Dear ImGui's DX12 backend did not start\n");
    return 1;
  }
  const bench::DrawingScene scene;
  DrawingScratch scratch;  // as the renderer keeps its own from frame to frame

  // The first frames grow the draw lists and the backend's buffers; the measured ones reuse them.
  for (int i = 0; i < 20; ++i) {
    DrawFrame(scene, scratch);
    if (!gpu.WaitForContext() || !Record(gpu)) return 1;
    gpu.Submit();
  }
  if (!gpu.Drain()) return 1;

  const Figures drawingAlone = bench::Measure(frames, [&] { DrawFrame(scene, scratch); });
  const int vertices = ImGui::GetDrawData()->TotalVtxCount;

  std::vector<double> drawing, recording, submission, whole;
  for (std::vector<double>* v : {&drawing, &recording, &submission, &whole})
    v->reserve(static_cast<std::size_t>(frames));
  // The loop's processor time includes the waits for the frame contexts, as the renderer's does.
  const long allocationsBegin = bench::allocations.load();
  const double cpuBegin = bench::ThreadCpuSeconds();
  for (int i = 0; i < frames; ++i) {
    if (!gpu.WaitForContext()) return 1;
    const double t0 = Now();
    DrawFrame(scene, scratch);
    const double t1 = Now();
    if (!Record(gpu)) return 1;
    const double t2 = Now();
    gpu.Submit();
    const double t3 = Now();
    drawing.push_back((t1 - t0) * 1e6);
    recording.push_back((t2 - t1) * 1e6);
    submission.push_back((t3 - t2) * 1e6);
    whole.push_back((t3 - t0) * 1e6);
  }
  const double cpu = bench::ThreadCpuSeconds() - cpuBegin;
  const double allocationsPerFrame = static_cast<double>(bench::allocations.load() - allocationsBegin) / frames;
  if (!gpu.Drain()) return 1;

  std::vector<double> empty;
  empty.reserve(static_cast<std::size_t>(frames));
  const double emptyCpuBegin = bench::ThreadCpuSeconds();
  for (int i = 0; i < frames; ++i) {
    if (!gpu.WaitForContext()) return 1;
    const double t0 = Now();
    if (!RecordEmpty(gpu)) return 1;
    gpu.Submit();
    empty.push_back((Now() - t0) * 1e6);
  }
  const double emptyCpu = bench::ThreadCpuSeconds() - emptyCpuBegin;
  if (!gpu.Drain()) return 1;

  std::printf(
      "In-frame overlay frame, %dx%d, a %d-point route on the minimap and a %.0f m ribbon (%d vertices), %d frames:\n",
      static_cast<int>(bench::kSceneWidth), static_cast<int>(bench::kSceneHeight), bench::kSceneRoutePoints,
      static_cast<double>(scene.settings.worldDistance), vertices, frames);
  const Figures frame = bench::Summarise(whole, cpu);
  Row("drawing alone (the overlay's own work)", drawingAlone, true);
  Row("in a whole frame: drawing", bench::Summarise(drawing, 0), false);
  Row("in a whole frame: recording (barriers, draw data)", bench::Summarise(recording, 0), false);
  Row("in a whole frame: submission (execute, signal)", bench::Summarise(submission, 0), false);
  Row("whole frame", frame, true);
  const Figures baseline = bench::Summarise(empty, emptyCpu);
  Row("baseline: an empty list reset, closed, submitted", baseline, true);
  std::printf("whole frame beyond the empty list: median %.1f us, thread CPU %.1f us a frame\n",
              frame.median - baseline.median, frame.cpuPerCall - baseline.cpuPerCall);
  bench::PrintBenchRow("frame.own_work", "in-frame overlay frame: its own work (median)", drawingAlone.median,
                       baseline.median, "us", "an empty list reset, closed and submitted (median)");
  bench::PrintBenchRow("frame.cpu", "in-frame overlay frame: processor time a whole frame", frame.cpuPerCall,
                       baseline.cpuPerCall, "us", "the empty list's processor time a frame");
  std::printf("heap allocations a whole frame: %.2f\n", allocationsPerFrame);

  ImGui_ImplDX12_Shutdown();
  ImGui::DestroyContext();
  return 0;
}
