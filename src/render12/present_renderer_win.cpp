// The in-frame renderer's Windows side: its Direct3D 12 objects, the frame it records into the
// game's back buffer, and their set-up and release. The decisions live in frame_plan.cpp and
// occlusion.cpp; the drawing in route_drawing.cpp.
//
// Sections: state, release, set-up, the frame, installation.
#include "render12/present_renderer_win.hpp"

#include <d3d12.h>
#include <imgui.h>
#include <imgui_impl_dx12.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "game/game_readers.hpp"
#include "hooks/graphics_hooks_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/module_path.hpp"
#include "hooks/present_frame.hpp"
#include "hooks/upscaler.hpp"
#include "hooks/upscaler_win.hpp"
#include "platform/log.hpp"
#include "routing/current_route.hpp"
#include "settings/run_flags.hpp"
#include "mapgeom/map_projection.hpp"
#include "mapgeom/minimap_smoothing.hpp"
#include "mapgeom/route_geometry.hpp"
#include "platform/game_window_win.hpp"
#include "platform/ticks.hpp"
#include "render12/backend_shader.hpp"
#include "render12/fence_wait_win.hpp"
#include "render12/frame_plan.hpp"
#include "render12/occlusion.hpp"
#include "render12/occlusion_pipeline_win.hpp"
#include "render12/route_drawing.hpp"
#include "render12/shader_cache_win.hpp"
#include "roads/road_loader.hpp"

namespace pathlight {

// ---- state --------------------------------------------------------------------------------------

namespace {

constexpr DWORD kFrameWaitMs = 1000;
constexpr DWORD kReleaseWaitMs = 2000;
constexpr ImU32 kTestPatternColour = 0xFFFF00FF;  // opaque magenta
constexpr std::uint32_t kMainWindowCheckMs = 1000;

struct FrameContext {
  ID3D12CommandAllocator* allocator = nullptr;
  UINT64 fenceValue = 0;  // 0: never used
  ID3D12Resource* depth = nullptr;
};

// The device's objects: kept by a set-up on the same device while the back buffers' format and
// count and the output mode stay, so that a resize, a new swap chain of the same game or a reload
// makes only the swap chain's objects. Dear ImGui's backend (its pipeline and font texture), the
// occlusion pipeline, the descriptor heaps and the overlay's fence.
struct DeviceObjects {
  ID3D12Device* device = nullptr;  // with a reference
  std::int32_t format = 0;
  std::uint32_t bufferCount = 0;
  OutputChoice output;
  ID3D12DescriptorHeap* rtvHeap = nullptr;
  ID3D12DescriptorHeap* srvHeap = nullptr;
  UINT srvIncrement = 0;
  ID3D12Fence* fence = nullptr;
  UINT64 lastFence = 0;
  HANDLE event = nullptr;
  OcclusionPipeline occlusion;
  bool occlusionTried = false;  // built, or failed and logged: not tried again on this device
  bool imgui = false;           // Dear ImGui's context and backend exist
};

// The swap chain's objects, made at each set-up.
struct SwapChainObjects {
  IDXGISwapChain* swapchain = nullptr;  // no reference: used only inside its own presents and resizes
  TargetShape shape;
  ID3D12CommandQueue* queue = nullptr;  // the game's, with a reference
  ID3D12GraphicsCommandList* list = nullptr;
  std::vector<FrameContext> contexts;
  UINT64 frameCounter = 0;
};

// Which swap chain is drawn into, decided at each present by whichever thread presents; the mutex
// is held only for the decision, never across a frame.
struct SwapChainChoiceState {
  std::mutex mutex;
  PresentingSwapChain drawn;
  HWND mainWindow = nullptr;
  std::uint32_t nextMainWindowCheck = 0;
  std::uint64_t newestCreation = 0;
};

// The device's objects are made on a thread of their own: the pipelines and the font texture take a
// software renderer a second or more, far too long for the game's present, which goes on without
// the overlay meanwhile. While the build runs, that thread alone touches DeviceObjects and Dear
// ImGui; its end is published through `state`.
struct DeviceBuild {
  enum : int { kIdle, kRunning, kSucceeded, kFailed };
  std::atomic<int> state{kIdle};
  const void* loggedQueue = nullptr;  // the queue whose line the build's start wrote
};

// The renderer's whole state. The objects, the retry time, the depth choice and the drawing scratch
// are touched only under the render mutex, which a frame holds from the swap chain's description to
// its submission and the resize detours hold around a resize; the counters by any presenting thread.
struct InFrameRenderer {
  DeviceObjects device;
  DeviceBuild build;
  SwapChainObjects target;
  OcclusionDraw occlusionDraw;  // what the ribbon's draw callback binds in the frame being recorded
  DrawingScratch drawing;       // the route views' point lists, reused from frame to frame
  std::uint32_t retryTick = 0;
  DepthChooser depthChooser;
  WindowsDepthFacts depthFacts;
  ImFontAtlas fonts;  // its pixels are built once for the process; each device's set-up uploads them
  SwapChainChoiceState choice;
  std::atomic<long> presents{0};
  std::atomic<long> drawn{0};
  std::atomic<long> occluded{0};
  std::atomic<std::uint32_t> nextDiagnostic{0};
  std::atomic<bool> cameraCompared{false};
  std::atomic<bool> presentsSeen{false};
};

InFrameRenderer g_renderer;

template <typename T> void SafeRelease(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

D3D12_RESOURCE_BARRIER Transition(ID3D12Resource* resource, UINT before, UINT after) {
  D3D12_RESOURCE_BARRIER barrier = {};
  barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
  barrier.Flags = D3D12_RESOURCE_BARRIER_FLAG_NONE;
  barrier.Transition.pResource = resource;
  barrier.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
  barrier.Transition.StateBefore = static_cast<D3D12_RESOURCE_STATES>(before);
  barrier.Transition.StateAfter = static_cast<D3D12_RESOURCE_STATES>(after);
  return barrier;
}

TargetShape ShapeOf(IDXGISwapChain* swapchain, const DXGI_SWAP_CHAIN_DESC& desc) {
  TargetShape shape;
  shape.swapchain = swapchain;
  shape.bufferCount = desc.BufferCount;
  shape.width = desc.BufferDesc.Width;
  shape.height = desc.BufferDesc.Height;
  shape.format = static_cast<std::int32_t>(desc.BufferDesc.Format);
  shape.colourSpace = Hooks().SwapChainColourSpace.load();
  shape.creation = SwapChainQueues().Lookup(swapchain).creation;
  return shape;
}

// Whether this present is the drawn swap chain's. The game's main window is looked for again at
// most once a second, and at once when a swap chain made since the last look presents, so that a
// replaced window's new swap chain is taken at its first present.
bool DrawsInto(SwapChainChoiceState& c, IDXGISwapChain* swapchain) {
  const SwapChainQueueTable::Entry entry = SwapChainQueues().Lookup(swapchain);
  std::lock_guard lock(c.mutex);
  if (swapchain == c.drawn.swapchain && entry.creation == c.drawn.creation) return true;
  PresentingSwapChain presenting{swapchain, entry.creation, entry.window};
  if (entry.creation == 0) {
    // Made before the hooks: its own description names its window.
    DXGI_SWAP_CHAIN_DESC desc = {};
    if (SUCCEEDED(swapchain->GetDesc(&desc))) presenting.window = reinterpret_cast<std::uintptr_t>(desc.OutputWindow);
  }
  const std::uint32_t now = TickCount();
  if (entry.creation > c.newestCreation || static_cast<std::int32_t>(now - c.nextMainWindowCheck) >= 0) {
    c.newestCreation = std::max(c.newestCreation, entry.creation);
    c.mainWindow = FindGameWindow(GameWindowRule::kWide);
    c.nextMainWindowCheck = now + kMainWindowCheckMs;
  }
  return ChooseSwapChain(c.drawn, presenting, reinterpret_cast<std::uintptr_t>(c.mainWindow));
}

// ---- release --------------------------------------------------------------------------------------

// Gives up the swap chain's objects once the overlay's last list has finished; false when it had
// not within the bound (the device's objects must then go too). Every submission signals the
// overlay's own fence behind it, so waiting for the last value signalled is enough.
bool ReleaseSwapChainObjects(InFrameRenderer& r) {
  DeviceObjects& d = r.device;
  SwapChainObjects& t = r.target;
  const bool idle =
      d.fence == nullptr || d.event == nullptr || WaitForFence(d.fence, d.event, d.lastFence, kReleaseWaitMs);
  for (FrameContext& context : t.contexts) {
    SafeRelease(context.allocator);
    SafeRelease(context.depth);
  }
  SafeRelease(t.list);
  SafeRelease(t.queue);
  t = SwapChainObjects{};
  r.occlusionDraw = OcclusionDraw{};
  return idle;
}

// Waits for a device build in progress to end. Its own waits are bounded (the font upload's); the
// driver's pipeline builds end by themselves.
void AwaitDeviceBuild(InFrameRenderer& r) {
  while (r.build.state.load(std::memory_order_acquire) == DeviceBuild::kRunning) Sleep(1);
}

void DropDeviceObjects(InFrameRenderer& r) {
  DeviceObjects& d = r.device;
  if (d.imgui) {
    ImGui_ImplDX12_Shutdown();
    ImGui::DestroyContext();
  }
  ReleaseOcclusionPipeline(d.occlusion);
  SafeRelease(d.rtvHeap);
  SafeRelease(d.srvHeap);
  SafeRelease(d.fence);
  SafeRelease(d.device);
  if (d.event != nullptr) CloseHandle(d.event);
  d = DeviceObjects{};
}

// Gives up the device's objects; the swap chain's are gone already.
void ReleaseDeviceLevel(InFrameRenderer& r) {
  AwaitDeviceBuild(r);
  r.build.state.store(DeviceBuild::kIdle, std::memory_order_relaxed);
  r.build.loggedQueue = nullptr;
  DropDeviceObjects(r);
}

// What a rebuild gives up: the swap chain's objects, and the device's as well when the GPU was
// not seen done with them.
void ReleaseForRebuild(InFrameRenderer& r) {
  if (!ReleaseSwapChainObjects(r)) ReleaseDeviceLevel(r);
}

}  // namespace

void ReleaseDeviceObjects() {
  InFrameRenderer& r = g_renderer;
  AwaitDeviceBuild(r);
  (void)ReleaseSwapChainObjects(r);
  ReleaseDeviceLevel(r);
}

void AwaitDeviceObjects() { AwaitDeviceBuild(g_renderer); }

// ---- set-up ---------------------------------------------------------------------------------------

namespace {

// The device's objects for this format, buffer count and output mode; false leaves the partial
// objects for the caller's release. Takes over the reference on `device`.
bool SetUpDevice(InFrameRenderer& r, ID3D12Device* device, const TargetShape& shape, const OutputChoice& output) {
  DeviceObjects& d = r.device;
  d.device = device;
  d.format = shape.format;
  d.bufferCount = shape.bufferCount;
  d.output = output;
  D3D12_DESCRIPTOR_HEAP_DESC rtv = {};
  rtv.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
  rtv.NumDescriptors = 1;
  if (FAILED(
          d.device->CreateDescriptorHeap(&rtv, __uuidof(ID3D12DescriptorHeap), reinterpret_cast<void**>(&d.rtvHeap)))) {
    d.rtvHeap = nullptr;
    return false;
  }
  // Descriptor 0: Dear ImGui's font texture; 1 + i: frame context i's depth view.
  D3D12_DESCRIPTOR_HEAP_DESC srv = {};
  srv.Type = D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV;
  srv.NumDescriptors = shape.bufferCount + 1;
  srv.Flags = D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE;
  if (FAILED(
          d.device->CreateDescriptorHeap(&srv, __uuidof(ID3D12DescriptorHeap), reinterpret_cast<void**>(&d.srvHeap)))) {
    d.srvHeap = nullptr;
    return false;
  }
  d.srvIncrement = d.device->GetDescriptorHandleIncrementSize(D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV);
  if (FAILED(
          d.device->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), reinterpret_cast<void**>(&d.fence)))) {
    d.fence = nullptr;
    return false;
  }
  d.lastFence = 0;
  // No queue of the overlay's own: Dear ImGui 1.90.1's backend makes a temporary one for its font
  // upload inside ImGui_ImplDX12_Init's first frame and takes none from its caller.
  d.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (d.event == nullptr) return false;

  ImGui::CreateContext(&r.fonts);
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  // The backend compiles its pixel shader with these macros when it makes its device objects.
  BackendPixelShaderMacros().Set(output.mode, output.whiteNits);
  // 1.90.1's Init takes the device, the frames in flight, the render-target format, the heap and
  // the font's one descriptor (CPU and GPU handles); it has no fields for a queue, a depth format,
  // user data or allocation callbacks, which the overlay would leave empty anyway.
  if (!ImGui_ImplDX12_Init(d.device, static_cast<int>(shape.bufferCount), static_cast<DXGI_FORMAT>(shape.format),
                           d.srvHeap, d.srvHeap->GetCPUDescriptorHandleForHeapStart(),
                           d.srvHeap->GetGPUDescriptorHandleForHeapStart())) {
    ImGui::DestroyContext();
    return false;
  }
  d.imgui = true;
  // The backend would make its objects (shaders, font texture) in the first NewFrame and ignore a
  // failure there, then record with a null pipeline; made here, a failure fails the set-up.
  return ImGui_ImplDX12_CreateDeviceObjects() && !BackendUploadTimedOut();
}

// The build thread's work: the last device's objects given up (the GPU is done with them), then the
// device's objects, and the occlusion pipeline when it is wanted.
void BuildDeviceObjects(InFrameRenderer& r, ID3D12Device* device, TargetShape shape, OutputChoice output,
                        bool occlusion) {
  bool built = false;
  try {
    DropDeviceObjects(r);
    built = SetUpDevice(r, device, shape, output);
    if (built && occlusion) {
      r.device.occlusionTried = true;
      r.device.occlusion = BuildOcclusionPipeline(r.device.device, static_cast<DXGI_FORMAT>(shape.format), output.mode,
                                                  output.whiteNits);
    }
  } catch (...) {
    built = false;
  }
  r.build.state.store(built ? DeviceBuild::kSucceeded : DeviceBuild::kFailed, std::memory_order_release);
}

enum class SetUpResult { kReady, kBuilding, kFailed };

void LogPresentQueue(const PresentQueue& found, ID3D12Device* device) {
  Log("Overlay: present queue %p from %s (via %s), device %p", static_cast<void*>(found.queue),
      ModulePathOf(*reinterpret_cast<void**>(found.queue)).c_str(), found.via, static_cast<void*>(device));
}

// Makes what this swap chain needs: when the device's objects are missing or were made for another
// device, format, buffer count, output mode or occlusion, starts their build and answers kBuilding
// (a later present finds them made); otherwise makes the swap chain's own objects. kFailed leaves
// the partial objects for the caller's release.
SetUpResult SetUp(InFrameRenderer& r, IDXGISwapChain* swapchain, const TargetShape& shape, const Settings& settings) {
  DeviceObjects& d = r.device;
  SwapChainObjects& t = r.target;
  if (!ShapeBuildable(shape)) return SetUpResult::kFailed;
  const PresentQueue found = FindPresentQueue(swapchain);
  if (found.queue == nullptr) return SetUpResult::kFailed;
  ID3D12Device* device = nullptr;
  if (FAILED(found.queue->GetDevice(__uuidof(ID3D12Device), reinterpret_cast<void**>(&device))) || device == nullptr) {
    return SetUpResult::kFailed;
  }
  const OutputChoice output = ChooseOutputMode(settings, shape.format, shape.colourSpace);
  const bool occlusionWanted = settings.worldOcclusion && (settings.worldEnabled || settings.worldToggle.Bound());
  // The device held is not freed, so a device at its address is the same one.
  const bool keep = d.device == device && d.format == shape.format && d.bufferCount == shape.bufferCount &&
                    d.output == output && (!occlusionWanted || d.occlusionTried);
  if (!keep) {
    LogPresentQueue(found, device);
    r.build.loggedQueue = found.queue;
    r.build.state.store(DeviceBuild::kRunning, std::memory_order_relaxed);
    try {
      // The thread takes over the reference on the device.
      std::thread(&BuildDeviceObjects, std::ref(r), device, shape, output, occlusionWanted).detach();
    } catch (...) {
      r.build.state.store(DeviceBuild::kIdle, std::memory_order_relaxed);
      device->Release();
      return SetUpResult::kFailed;
    }
    return SetUpResult::kBuilding;
  }
  device->Release();
  if (r.build.loggedQueue != found.queue) LogPresentQueue(found, d.device);
  r.build.loggedQueue = nullptr;
  if (!occlusionWanted) {
    ReleaseOcclusionPipeline(d.occlusion);
    d.occlusionTried = false;
  }

  // Taken inside this swap chain's present, which keeps its queue alive; held until released.
  t.queue = found.queue;
  t.queue->AddRef();
  t.swapchain = swapchain;
  t.shape = shape;
  // The queue belongs to the creation it was recorded with; a newer one seen before the next frame
  // makes that frame rebuild.
  t.shape.creation = found.creation;
  t.contexts.resize(shape.bufferCount);
  for (FrameContext& context : t.contexts) {
    if (FAILED(d.device->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, __uuidof(ID3D12CommandAllocator),
                                                reinterpret_cast<void**>(&context.allocator)))) {
      context.allocator = nullptr;
      return SetUpResult::kFailed;
    }
  }
  if (FAILED(d.device->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, t.contexts[0].allocator, nullptr,
                                         __uuidof(ID3D12GraphicsCommandList), reinterpret_cast<void**>(&t.list)))) {
    t.list = nullptr;
    return SetUpResult::kFailed;
  }
  t.list->Close();
  Log("Overlay: ready on %ux%u, %u buffers, format %d, colour space %d -> output mode %d (white %.0f nits)",
      shape.width, shape.height, shape.bufferCount, shape.format, shape.colourSpace, static_cast<int>(output.mode),
      output.whiteNits);
  return SetUpResult::kReady;
}

// ---- the frame ------------------------------------------------------------------------------------

// `frameTick`: when this frame began. A set-up in the same frame (shaders compiled, the font
// uploaded) can take longer than the freshness limit, which would make the game's tag for this
// very frame look stale.
// The tag's copy carries a reference on its buffer, taken while the tag record held it: it goes to
// `held` with the chosen source, or back at once.
std::optional<DepthSource> ChooseDepth(InFrameRenderer& r, const Settings& settings, std::uint32_t frameTick,
                                       ID3D12Resource*& held) {
  const UpscalerCounters& counters = Counters();
  DepthChoiceInputs in;
  in.occlusionEnabled = settings.worldOcclusion;
  in.tagHooked = Hooks().SlSetTagHooked.load() || Hooks().SlSetTagForFrameHooked.load();
  in.constantsHooked = Hooks().SlSetConstantsHooked.load();
  if (!in.occlusionEnabled || !in.tagHooked || !in.constantsHooked) return std::nullopt;
  in.tag = CopyDepthTag(&D3D12DepthKeeper());
  in.camera = CopyDlssCamera();
  in.now = frameTick;
  in.tagCalls = counters.tagCalls.load();
  in.depthTags = counters.depthTags.load();
  in.evaluateCalls = counters.evaluateCalls.load();
  std::optional<DepthSource> chosen = r.depthChooser.Choose(in, r.depthFacts);
  if (in.tag.referenced) {
    if (chosen) {
      held = reinterpret_cast<ID3D12Resource*>(in.tag.native);
    } else {
      D3D12DepthKeeper().Release(in.tag.native);
    }
  }
  if (held == nullptr) chosen.reset();
  return chosen;
}

// The route views this frame draws, into Dear ImGui's background list, with the renderer's own
// scratch lists.
void DrawRoutes(InFrameRenderer& r, ImDrawList& draw, const GameSnapshot& snapshot, const RoutePtr& route,
                const FrameDecisions& decisions, float width, float height, const Settings& settings,
                OcclusionDraw* occlusionDraw) {
  static const RoadLineSource roads = [](float x, float z, float radius, std::vector<GroundPoint>& out) {
    CollectRoadLines(x, z, radius, out);
  };
  RibbonOcclusion occlusion;
  if (occlusionDraw != nullptr) {
    occlusion.callback = &OcclusionDrawCallback;
    occlusion.userData = occlusionDraw;
  }
  DrawRouteViews(draw, r.drawing, snapshot, route.get(), decisions, width, height, settings,
                 decisions.roadDebug ? &roads : nullptr, occlusion);
}

// From the swap chain's description to the submission, under the render mutex; a failing step skips the
// overlay for this frame and the game's present goes on.
void RecordFrame(InFrameRenderer& r, IDXGISwapChain* swapchain, const Settings& settings, const GameSnapshot& snapshot,
                 const RoutePtr& route, const FrameDecisions& decisions, std::uint32_t frameTick,
                 bool rebuildRequested) {
  DeviceObjects& d = r.device;
  SwapChainObjects& t = r.target;
  DXGI_SWAP_CHAIN_DESC desc = {};
  if (HRESULT hr = swapchain->GetDesc(&desc); FAILED(hr)) {
    ReportFailure("GetDesc", hr);
    if (rebuildRequested) Flags().RebuildRequested.store(1);  // for the next frame that records
    return;
  }
  const TargetShape shape = ShapeOf(swapchain, desc);
  // Objects still to be made are made from this frame's record: a request is then already met.
  if (t.swapchain != nullptr && NeedsRebuild(t.shape, shape, rebuildRequested)) ReleaseForRebuild(r);
  if (t.swapchain == nullptr) {
    const std::uint32_t now = TickCount();
    const auto failed = [&] {
      ReleaseDeviceObjects();
      r.retryTick = now + kSetupRetryMs;
      if (r.retryTick == 0) r.retryTick = 1;
    };
    switch (r.build.state.load(std::memory_order_acquire)) {
      case DeviceBuild::kRunning: return;  // this present goes on without the overlay
      case DeviceBuild::kFailed: return failed();
      default: break;
    }
    if (!SetupDue(now, r.retryTick)) return;
    switch (SetUp(r, swapchain, shape, settings)) {
      case SetUpResult::kBuilding: return;
      case SetUpResult::kFailed: return failed();
      case SetUpResult::kReady: break;
    }
    r.build.state.store(DeviceBuild::kIdle, std::memory_order_relaxed);
    r.retryTick = 0;
  }

  IDXGISwapChain3* swapchain3 = nullptr;
  if (HRESULT hr = swapchain->QueryInterface(__uuidof(IDXGISwapChain3), reinterpret_cast<void**>(&swapchain3));
      FAILED(hr) || swapchain3 == nullptr) {
    ReportFailure("QueryInterface(IDXGISwapChain3)", FAILED(hr) ? hr : kHrUnexpected);
    return;
  }
  const UINT index = swapchain3->GetCurrentBackBufferIndex();
  swapchain3->Release();
  if (index >= t.contexts.size()) {
    ReportFailure("back buffer index", kHrUnexpected);
    return;
  }
  ID3D12Resource* backBuffer = nullptr;
  if (HRESULT hr = swapchain->GetBuffer(index, __uuidof(ID3D12Resource), reinterpret_cast<void**>(&backBuffer));
      FAILED(hr) || backBuffer == nullptr) {
    ReportFailure("GetBuffer", FAILED(hr) ? hr : kHrUnexpected);
    return;
  }

  const std::size_t contextIndex = static_cast<std::size_t>(t.frameCounter % t.contexts.size());
  FrameContext& context = t.contexts[contextIndex];
  // The context's allocator is reset below: the GPU must be done with its last list.
  if (!WaitForFence(d.fence, d.event, context.fenceValue, kFrameWaitMs)) {
    backBuffer->Release();
    ReportFailure("waiting for the previous overlay frame", kHrPending);
    return;
  }
  SafeRelease(context.depth);

  // Occlusion: the depth buffer is read through this context's own descriptor.
  OcclusionDraw& occlusionDraw = r.occlusionDraw;
  occlusionDraw = OcclusionDraw{};
  bool useOcclusion = false;
  std::uint32_t depthState = 0;
  if (decisions.ribbon && decisions.routeUsable && d.occlusion.state != nullptr) {
    ID3D12Resource* held = nullptr;
    if (const std::optional<DepthSource> depth = ChooseDepth(r, settings, frameTick, held)) {
      context.depth = held;
      if (context.depth != nullptr) {
        useOcclusion = true;
        depthState = depth->state;
        D3D12_SHADER_RESOURCE_VIEW_DESC view = {};
        view.Format = static_cast<DXGI_FORMAT>(depth->readFormat);
        view.ViewDimension = D3D12_SRV_DIMENSION_TEXTURE2D;
        view.Shader4ComponentMapping = D3D12_DEFAULT_SHADER_4_COMPONENT_MAPPING;
        view.Texture2D.MipLevels = 1;
        D3D12_CPU_DESCRIPTOR_HANDLE cpu = d.srvHeap->GetCPUDescriptorHandleForHeapStart();
        D3D12_GPU_DESCRIPTOR_HANDLE gpu = d.srvHeap->GetGPUDescriptorHandleForHeapStart();
        cpu.ptr += static_cast<SIZE_T>(1 + contextIndex) * d.srvIncrement;
        gpu.ptr += static_cast<UINT64>(1 + contextIndex) * d.srvIncrement;
        d.device->CreateShaderResourceView(context.depth, &view, cpu);
        occlusionDraw.list = t.list;
        occlusionDraw.pipeline = d.occlusion;
        occlusionDraw.constants = MakeOcclusionConstants(shape.width, shape.height, *depth, settings);
        occlusionDraw.depthView = gpu;
      }
    }
  }
  const bool depthBarrier = useOcclusion && (depthState & kStatePixelShaderResource) == 0;

  // A list that failed to reset must not be executed: the game's queue would take the fault.
  HRESULT reset = context.allocator->Reset();
  if (SUCCEEDED(reset)) reset = t.list->Reset(context.allocator, nullptr);
  if (FAILED(reset)) {
    backBuffer->Release();
    ReportFailure("command list reset", reset);
    return;
  }
  const D3D12_CPU_DESCRIPTOR_HANDLE rtv = d.rtvHeap->GetCPUDescriptorHandleForHeapStart();
  d.device->CreateRenderTargetView(backBuffer, nullptr, rtv);
  D3D12_RESOURCE_BARRIER before[2] = {
      Transition(backBuffer, D3D12_RESOURCE_STATE_PRESENT, D3D12_RESOURCE_STATE_RENDER_TARGET)};
  if (depthBarrier) before[1] = Transition(context.depth, depthState, kStatePixelShaderResource);
  t.list->ResourceBarrier(depthBarrier ? 2 : 1, before);
  t.list->OMSetRenderTargets(1, &rtv, FALSE, nullptr);
  ID3D12DescriptorHeap* heaps[] = {d.srvHeap};
  t.list->SetDescriptorHeaps(1, heaps);

  ImGui_ImplDX12_NewFrame();
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(shape.width), static_cast<float>(shape.height));
  io.DeltaTime = 1.0f / 60.0f;
  ImGui::NewFrame();
  const float width = static_cast<float>(shape.width);
  const float height = static_cast<float>(shape.height);
  const float scale = ScreenScale(height);
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();

  if (settings.debug.testPattern) {
    draw.AddRectFilled(ImVec2(40 * scale, 40 * scale), ImVec2(120 * scale, 120 * scale), kTestPatternColour);
  }
  // A drawing routine that throws (out of memory) must still leave the frame and the list closed,
  // or every later frame would fail to reset them.
  try {
    DrawRoutes(r, draw, snapshot, route, decisions, width, height, settings, useOcclusion ? &occlusionDraw : nullptr);
  } catch (...) {}

  ImGui::Render();
  ImGui_ImplDX12_RenderDrawData(ImGui::GetDrawData(), t.list);
  D3D12_RESOURCE_BARRIER after[2] = {
      Transition(backBuffer, D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_PRESENT)};
  if (depthBarrier) after[1] = Transition(context.depth, kStatePixelShaderResource, depthState);
  t.list->ResourceBarrier(depthBarrier ? 2 : 1, after);
  if (HRESULT closed = t.list->Close(); FAILED(closed)) {
    backBuffer->Release();
    ReportFailure("command list", closed);
    return;
  }

  if (useOcclusion) r.occluded.fetch_add(1);
  ID3D12CommandList* lists[] = {t.list};
  t.queue->ExecuteCommandLists(1, lists);
  const UINT64 value = ++d.lastFence;
  t.queue->Signal(d.fence, value);
  context.fenceValue = value;
  ++t.frameCounter;
  backBuffer->Release();

  if (HRESULT removed = d.device->GetDeviceRemovedReason(); FAILED(removed)) {
    ReportFailure("device (removed)", removed);
    // No hand-over: the Composition renderer's device would be lost the same way.
    Hooks().PresentDisabled.store(1);
  }
  r.drawn.fetch_add(1);
}

}  // namespace

void RenderFrame(IDXGISwapChain* swapchain) {
  InFrameRenderer& r = g_renderer;
  const std::uint32_t frameTick = TickCount();
  r.presents.fetch_add(1);
  // The stand-in that counted presents before this renderer was installed may have said so already.
  if (!r.presentsSeen.exchange(true) && PresentsCounted() == 0) {
    Log("Overlay: presents reach the overlay (swapchain %p)", static_cast<void*>(swapchain));
  }
  if (Hooks().PresentDisabled.load() != 0) return;
  // Presents of any other swap chain are counted and nothing else.
  if (!DrawsInto(r.choice, swapchain)) return;

  // The request before the record: a reload publishes its record and then raises the request, so
  // the record taken after it is at least as new as the reload that asked. Taken the other way
  // round, a reload between the two would rebuild the objects from the record before it, once.
  const bool rebuildRequested = Flags().RebuildRequested.exchange(0) != 0;
  const SettingsPtr settings = CurrentSettings();
  GameSnapshot snapshot;
  ReadGameSnapshot(snapshot);
  const bool worldShown = Flags().WorldRouteShown.load() != 0;
  if (worldShown) {
    CameraMergeInputs merge;
    merge.enabled = settings->worldDlssCamera != 0 && Hooks().SlSetConstantsHooked.load();
    if (merge.enabled) {
      merge.record = CopyDlssCamera();
      merge.now = TickCount();
    }
    MergeDlssCamera(snapshot, merge, r.cameraCompared);
  }
  if (snapshot.minimapValid && snapshot.playerValid && !snapshot.worldMapOpen) SmoothMinimap(snapshot, *settings);
  RoutePtr route = GetCurrentRoute();
  const std::size_t routePoints = route ? route->points.size() : 0;
  const FrameDecisions decisions =
      DecideFrame(*settings, snapshot, routePoints, Flags().MinimapRouteShown.load() != 0, worldShown);

  if (ClaimDiagnostic(r.nextDiagnostic, TickCount())) {
    DiagnosticFacts facts;
    facts.presents = r.presents.exchange(0);
    facts.drawn = r.drawn.exchange(0);
    facts.occlusionUsed = r.occluded.exchange(0) != 0;
    facts.swapchain = swapchain;
    facts.routePoints = routePoints;
    facts.worldRouteShown = worldShown;
    Log("%s", DiagnosticLine(facts, snapshot, decisions).c_str());
  }
  if (!decisions.goOn) {
    if (rebuildRequested) Flags().RebuildRequested.store(1);  // for the next frame that records
    return;
  }

  std::lock_guard lock(RenderMutex());
  RecordFrame(r, swapchain, *settings, snapshot, route, decisions, frameTick, rebuildRequested);
}

// ---- installation ---------------------------------------------------------------------------------

namespace {

void FrameEntry(void* swapchain) { RenderFrame(static_cast<IDXGISwapChain*>(swapchain)); }

// The resize detours hold the render mutex already.
void ReleaseEntry(void* swapchain) {
  InFrameRenderer& r = g_renderer;
  if (swapchain != nullptr && swapchain == r.target.swapchain) ReleaseForRebuild(r);
}

}  // namespace

void InstallInFrameRenderer() { InstallPresentRenderer({&FrameEntry, &ReleaseEntry}); }

}  // namespace pathlight
