// The DXGI hooks: the factory exports, the factory's swap-chain creation methods, and the swap
// chain's present, resize and colour-space methods.
//
// COM methods are hooked on the function their method table points to, so one hook catches every
// object of that implementation. Each creation detour keeps a thread-local depth so that only the
// outermost call of a nest (DXGI implementations call one creation method from another) hands
// its result on.
//
// Sections: slots, steps, detours, FindPresentQueue.

// Methods that return a structure (ID3D12CommandQueue::GetDesc) take the result's address after
// `this` in the COM ABI, which GCC's own C++ ABI does not; the headers' explicit form matches it.
#define WIDL_EXPLICIT_AGGREGATE_RETURNS
#include <windows.h>

#include <d3d12.h>
#include <dxgi1_4.h>

#include <atomic>
#include <mutex>

#include "hooks/dxgi_hooks_win.hpp"
#include "hooks/graphics_hooks_win.hpp"
#include "hooks/hook_slots_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/module_path.hpp"
#include "hooks/present_frame.hpp"
#include "platform/log.hpp"

namespace pathlight {

// ---- slots ------------------------------------------------------------------------------------

namespace dxgi_hooks {

using CreateFactoryFn = HRESULT(WINAPI*)(REFIID, void**);
using CreateFactory2Fn = HRESULT(WINAPI*)(UINT, REFIID, void**);
using CreateSwapChainFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory*, IUnknown*, DXGI_SWAP_CHAIN_DESC*,
                                                      IDXGISwapChain**);
using CreateForHwndFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory2*, IUnknown*, HWND, const DXGI_SWAP_CHAIN_DESC1*,
                                                    const DXGI_SWAP_CHAIN_FULLSCREEN_DESC*, IDXGIOutput*,
                                                    IDXGISwapChain1**);
using CreateForCoreWindowFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory2*, IUnknown*, IUnknown*,
                                                          const DXGI_SWAP_CHAIN_DESC1*, IDXGIOutput*,
                                                          IDXGISwapChain1**);
using CreateForCompositionFn = HRESULT(STDMETHODCALLTYPE*)(IDXGIFactory2*, IUnknown*, const DXGI_SWAP_CHAIN_DESC1*,
                                                           IDXGIOutput*, IDXGISwapChain1**);
using PresentFn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain*, UINT, UINT);
using Present1Fn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain1*, UINT, UINT, const DXGI_PRESENT_PARAMETERS*);
using ResizeBuffersFn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain*, UINT, UINT, UINT, DXGI_FORMAT, UINT);
using ResizeBuffers1Fn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain3*, UINT, UINT, UINT, DXGI_FORMAT, UINT, const UINT*,
                                                     IUnknown* const*);
using SetColorSpace1Fn = HRESULT(STDMETHODCALLTYPE*)(IDXGISwapChain3*, DXGI_COLOR_SPACE_TYPE);

HookSlot<CreateFactoryFn> createFactory, createFactory1;
HookSlot<CreateFactory2Fn> createFactory2;
HookSlot<CreateSwapChainFn> createSwapChain;
HookSlot<CreateForHwndFn> createForHwnd;
HookSlot<CreateForCoreWindowFn> createForCoreWindow;
HookSlot<CreateForCompositionFn> createForComposition;
HookSlot<PresentFn> present;
HookSlot<Present1Fn> present1;
HookSlot<ResizeBuffersFn> resizeBuffers;
HookSlot<ResizeBuffers1Fn> resizeBuffers1;
HookSlot<SetColorSpace1Fn> setColorSpace1;

}  // namespace dxgi_hooks

namespace {

// Method table entries (the three IUnknown methods are 0 to 2).
constexpr int kCreateSwapChain = 10, kCreateForHwnd = 15, kCreateForCoreWindow = 16, kCreateForComposition = 24;
constexpr int kPresent = 8, kPresent1 = 22, kResizeBuffers = 13, kResizeBuffers1 = 39, kSetColorSpace1 = 38;

thread_local int g_factoryDepth = 0;
thread_local int g_creationDepth = 0;
thread_local int g_resizeDepth = 0;

void** MethodTable(IUnknown* object) { return *reinterpret_cast<void***>(object); }

// Counts one level of a nest on this thread for as long as it lives.
class Nested {
 public:
  explicit Nested(int& depth) : depth_(depth), outermost_(depth++ == 0) {}
  ~Nested() { --depth_; }
  Nested(const Nested&) = delete;
  Nested& operator=(const Nested&) = delete;
  [[nodiscard]] bool Outermost() const { return outermost_; }

 private:
  int& depth_;
  bool outermost_;
};

}  // namespace

namespace detour {
using namespace dxgi_hooks;

HRESULT STDMETHODCALLTYPE IDXGIFactory_CreateSwapChain(IDXGIFactory*, IUnknown*, DXGI_SWAP_CHAIN_DESC*,
                                                       IDXGISwapChain**);
HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForHwnd(IDXGIFactory2*, IUnknown*, HWND,
                                                               const DXGI_SWAP_CHAIN_DESC1*,
                                                               const DXGI_SWAP_CHAIN_FULLSCREEN_DESC*, IDXGIOutput*,
                                                               IDXGISwapChain1**);
HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForCoreWindow(IDXGIFactory2*, IUnknown*, IUnknown*,
                                                                     const DXGI_SWAP_CHAIN_DESC1*, IDXGIOutput*,
                                                                     IDXGISwapChain1**);
HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForComposition(IDXGIFactory2*, IUnknown*,
                                                                      const DXGI_SWAP_CHAIN_DESC1*, IDXGIOutput*,
                                                                      IDXGISwapChain1**);
HRESULT STDMETHODCALLTYPE IDXGISwapChain_Present(IDXGISwapChain*, UINT, UINT);
HRESULT STDMETHODCALLTYPE IDXGISwapChain1_Present1(IDXGISwapChain1*, UINT, UINT, const DXGI_PRESENT_PARAMETERS*);
HRESULT STDMETHODCALLTYPE IDXGISwapChain_ResizeBuffers(IDXGISwapChain*, UINT, UINT, UINT, DXGI_FORMAT, UINT);
HRESULT STDMETHODCALLTYPE IDXGISwapChain3_ResizeBuffers1(IDXGISwapChain3*, UINT, UINT, UINT, DXGI_FORMAT, UINT,
                                                         const UINT*, IUnknown* const*);
HRESULT STDMETHODCALLTYPE IDXGISwapChain3_SetColorSpace1(IDXGISwapChain3*, DXGI_COLOR_SPACE_TYPE);

}  // namespace detour

// ---- steps ------------------------------------------------------------------------------------

void OnFactoryCreated(IUnknown* factory) {
  using namespace dxgi_hooks;
  if (factory == nullptr || Hooks().FactoryHooksInstalled.exchange(1) != 0) return;
  IDXGIFactory2* factory2 = nullptr;
  if (FAILED(factory->QueryInterface(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&factory2))) ||
      factory2 == nullptr) {
    Hooks().FactoryHooksInstalled.store(0);  // a later factory tries again
    return;
  }
  void** table = MethodTable(factory2);
  factory2->Release();  // only the method table is used
  if (createSwapChain.Create(table[kCreateSwapChain], &detour::IDXGIFactory_CreateSwapChain) != MH_OK ||
      createForHwnd.Create(table[kCreateForHwnd], &detour::IDXGIFactory2_CreateSwapChainForHwnd) != MH_OK ||
      createForCoreWindow.Create(table[kCreateForCoreWindow], &detour::IDXGIFactory2_CreateSwapChainForCoreWindow) !=
          MH_OK ||
      createForComposition.Create(table[kCreateForComposition], &detour::IDXGIFactory2_CreateSwapChainForComposition) !=
          MH_OK) {
    Log("Overlay: creating the factory hooks failed");
    return;
  }
  bool enabled = true;
  for (int entry : {kCreateSwapChain, kCreateForHwnd, kCreateForCoreWindow, kCreateForComposition}) {
    enabled = MH_EnableHook(table[entry]) == MH_OK && enabled;
  }
  // Without them no swap chain is seen, and the start-up thread's wait gives up on one in time.
  if (!enabled) {
    Log("Overlay: enabling the factory hooks failed");
    return;
  }
  Log("Overlay: swapchain-creation hooks installed in %s", ModulePathOf(table[kCreateForHwnd]).c_str());
}

void OnSwapChainCreated(IUnknown* swapchain, IUnknown* device, HWND window) {
  using namespace dxgi_hooks;
  // FidelityFX's own frame-generation swap chain, made inside its context creation on this thread.
  if (swapchain == nullptr || device == nullptr || InsideFfxContextCreation) return;
  ID3D12CommandQueue* queue = nullptr;
  if (FAILED(device->QueryInterface(__uuidof(ID3D12CommandQueue), reinterpret_cast<void**>(&queue))) ||
      queue == nullptr) {
    return;  // a Direct3D 11 or other device
  }
  queue->Release();  // the game owns it; the pointer is kept without a reference
  SwapChainQueues().Record(swapchain, queue, reinterpret_cast<std::uintptr_t>(window));
  Log("Overlay: swapchain %p created on queue %p", static_cast<void*>(swapchain), static_cast<void*>(queue));
  if (Hooks().SwapChainSeen.exchange(1) != 0) return;

  IDXGISwapChain3* swapchain3 = nullptr;
  if (FAILED(swapchain->QueryInterface(__uuidof(IDXGISwapChain3), reinterpret_cast<void**>(&swapchain3))) ||
      swapchain3 == nullptr) {
    Hooks().SwapChainSeen.store(0);
    return;
  }
  void** table = MethodTable(swapchain3);
  swapchain3->Release();
  // Each failure raises SwapChainHooksFailed, which ends the start-up thread's wait at once.
  if (!HookEngineReady()) {
    Log("Overlay: MinHook init failed");
    Hooks().SwapChainHooksFailed.store(1);
    return;
  }
  if (present.Create(table[kPresent], &detour::IDXGISwapChain_Present) != MH_OK ||
      present1.Create(table[kPresent1], &detour::IDXGISwapChain1_Present1) != MH_OK ||
      resizeBuffers.Create(table[kResizeBuffers], &detour::IDXGISwapChain_ResizeBuffers) != MH_OK ||
      resizeBuffers1.Create(table[kResizeBuffers1], &detour::IDXGISwapChain3_ResizeBuffers1) != MH_OK ||
      setColorSpace1.Create(table[kSetColorSpace1], &detour::IDXGISwapChain3_SetColorSpace1) != MH_OK) {
    Log("Overlay: creating swapchain hooks failed");
    Hooks().SwapChainHooksFailed.store(1);
    return;
  }
  // A resize the overlay does not see would race its frame: all five or the renderer stays off.
  bool enabled = true;
  for (int entry : {kPresent, kPresent1, kResizeBuffers, kResizeBuffers1, kSetColorSpace1}) {
    enabled = MH_EnableHook(table[entry]) == MH_OK && enabled;
  }
  if (!enabled) {
    Log("Overlay: enabling swapchain hooks failed");
    Hooks().SwapChainHooksFailed.store(1);
    return;
  }
  Log("Overlay: swapchain hooks installed in %s (Present, Present1, ResizeBuffers, ResizeBuffers1, SetColorSpace1)",
      ModulePathOf(table[kPresent]).c_str());
  Hooks().SwapChainHooksInstalled.store(1);
}

// ---- detours ----------------------------------------------------------------------------------

namespace detour {

// The factory calls nest (CreateDXGIFactory2 may call CreateDXGIFactory1): only the outermost
// reports the factory.
template <typename Call> HRESULT CreateFactoryOnce(Call call, void** factory) {
  Nested nest(g_factoryDepth);
  const HRESULT hr = call();
  if (SUCCEEDED(hr) && nest.Outermost() && factory != nullptr) OnFactoryCreated(static_cast<IUnknown*>(*factory));
  return hr;
}

HRESULT WINAPI CreateDXGIFactory(REFIID riid, void** factory) {
  const auto original = createFactory.Get();
  return CreateFactoryOnce([&] { return original(riid, factory); }, factory);
}

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void** factory) {
  const auto original = createFactory1.Get();
  return CreateFactoryOnce([&] { return original(riid, factory); }, factory);
}

HRESULT WINAPI CreateDXGIFactory2(UINT flags, REFIID riid, void** factory) {
  const auto original = createFactory2.Get();
  return CreateFactoryOnce([&] { return original(flags, riid, factory); }, factory);
}

HRESULT STDMETHODCALLTYPE IDXGIFactory_CreateSwapChain(IDXGIFactory* self, IUnknown* device, DXGI_SWAP_CHAIN_DESC* desc,
                                                       IDXGISwapChain** swapchain) {
  const auto original = createSwapChain.Get();
  Nested nest(g_creationDepth);
  const HRESULT hr = original(self, device, desc, swapchain);
  if (SUCCEEDED(hr) && nest.Outermost() && swapchain != nullptr) {
    OnSwapChainCreated(*swapchain, device, desc != nullptr ? desc->OutputWindow : nullptr);
  }
  return hr;
}

HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForHwnd(IDXGIFactory2* self, IUnknown* device, HWND window,
                                                               const DXGI_SWAP_CHAIN_DESC1* desc,
                                                               const DXGI_SWAP_CHAIN_FULLSCREEN_DESC* fullscreen,
                                                               IDXGIOutput* output, IDXGISwapChain1** swapchain) {
  const auto original = createForHwnd.Get();
  Nested nest(g_creationDepth);
  const HRESULT hr = original(self, device, window, desc, fullscreen, output, swapchain);
  if (SUCCEEDED(hr) && nest.Outermost() && swapchain != nullptr) OnSwapChainCreated(*swapchain, device, window);
  return hr;
}

HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForCoreWindow(IDXGIFactory2* self, IUnknown* device,
                                                                     IUnknown* window,
                                                                     const DXGI_SWAP_CHAIN_DESC1* desc,
                                                                     IDXGIOutput* output, IDXGISwapChain1** swapchain) {
  const auto original = createForCoreWindow.Get();
  Nested nest(g_creationDepth);
  const HRESULT hr = original(self, device, window, desc, output, swapchain);
  if (SUCCEEDED(hr) && nest.Outermost() && swapchain != nullptr) OnSwapChainCreated(*swapchain, device);
  return hr;
}

HRESULT STDMETHODCALLTYPE IDXGIFactory2_CreateSwapChainForComposition(IDXGIFactory2* self, IUnknown* device,
                                                                      const DXGI_SWAP_CHAIN_DESC1* desc,
                                                                      IDXGIOutput* output,
                                                                      IDXGISwapChain1** swapchain) {
  const auto original = createForComposition.Get();
  Nested nest(g_creationDepth);
  const HRESULT hr = original(self, device, desc, output, swapchain);
  if (SUCCEEDED(hr) && nest.Outermost() && swapchain != nullptr) OnSwapChainCreated(*swapchain, device);
  return hr;
}

namespace {

// The overlay's frame for the outermost, non-test present of this thread. Nothing may escape
// into the game's present.
void DrawFrame(void* swapchain) {
  if (Hooks().PresentDisabled.load() != 0) return;
  const auto frame = CurrentPresentRenderer().frame;
  if (frame == nullptr) return;
  try {
    frame(swapchain);
  } catch (...) {}
}

// Releases the renderer's hold on the buffers before they are resized, under the render mutex;
// a resize nested in another on this thread already holds it.
template <typename Resize> HRESULT UnderRenderMutex(void* swapchain, Resize resize) {
  Nested nest(g_resizeDepth);
  if (!nest.Outermost()) return resize();
  std::lock_guard lock(RenderMutex());
  if (const auto release = CurrentPresentRenderer().releaseDeviceObjects; release != nullptr) {
    try {
      release(swapchain);
    } catch (...) {}
  }
  return resize();
}

}  // namespace

HRESULT STDMETHODCALLTYPE IDXGISwapChain_Present(IDXGISwapChain* self, UINT syncInterval, UINT flags) {
  const auto original = present.Get();
  if (PresentGate::Enter(flags)) DrawFrame(self);
  const HRESULT hr = original(self, syncInterval, flags);
  PresentGate::Leave();
  return hr;
}

HRESULT STDMETHODCALLTYPE IDXGISwapChain1_Present1(IDXGISwapChain1* self, UINT syncInterval, UINT flags,
                                                   const DXGI_PRESENT_PARAMETERS* parameters) {
  const auto original = present1.Get();
  if (PresentGate::Enter(flags)) DrawFrame(self);
  const HRESULT hr = original(self, syncInterval, flags, parameters);
  PresentGate::Leave();
  return hr;
}

HRESULT STDMETHODCALLTYPE IDXGISwapChain_ResizeBuffers(IDXGISwapChain* self, UINT count, UINT width, UINT height,
                                                       DXGI_FORMAT format, UINT flags) {
  const auto original = resizeBuffers.Get();
  return UnderRenderMutex(self, [&] { return original(self, count, width, height, format, flags); });
}

HRESULT STDMETHODCALLTYPE IDXGISwapChain3_ResizeBuffers1(IDXGISwapChain3* self, UINT count, UINT width, UINT height,
                                                         DXGI_FORMAT format, UINT flags, const UINT* nodeMasks,
                                                         IUnknown* const* queues) {
  const auto original = resizeBuffers1.Get();
  return UnderRenderMutex(self, [&] { return original(self, count, width, height, format, flags, nodeMasks, queues); });
}

HRESULT STDMETHODCALLTYPE IDXGISwapChain3_SetColorSpace1(IDXGISwapChain3* self, DXGI_COLOR_SPACE_TYPE space) {
  const auto original = setColorSpace1.Get();
  const HRESULT hr = original(self, space);
  if (SUCCEEDED(hr) &&
      Hooks().SwapChainColourSpace.exchange(static_cast<std::int32_t>(space)) != static_cast<std::int32_t>(space)) {
    Log("Overlay: swapchain colour space %d", static_cast<int>(space));
  }
  return hr;
}

}  // namespace detour

bool HookFactoryExport(FactoryExport which, void* target) {
  using namespace dxgi_hooks;
  switch (which) {
    case FactoryExport::CreateDXGIFactory: return createFactory.Install(target, &detour::CreateDXGIFactory);
    case FactoryExport::CreateDXGIFactory1: return createFactory1.Install(target, &detour::CreateDXGIFactory1);
    case FactoryExport::CreateDXGIFactory2: return createFactory2.Install(target, &detour::CreateDXGIFactory2);
  }
  return false;
}

// ---- FindPresentQueue -------------------------------------------------------------------------

PresentQueue FindPresentQueue(IDXGISwapChain* swapchain) {
  PresentQueue found;
  if (swapchain == nullptr) return found;
  if (const SwapChainQueueTable::Entry entry = SwapChainQueues().Lookup(swapchain); entry.queue != nullptr) {
    found.queue = static_cast<ID3D12CommandQueue*>(entry.queue);
    found.via = "recorded at swapchain creation";
    found.creation = entry.creation;
    return found;
  }
  ID3D12CommandQueue* queue = nullptr;
  if (SUCCEEDED(swapchain->GetDevice(__uuidof(ID3D12CommandQueue), reinterpret_cast<void**>(&queue))) &&
      queue != nullptr) {
    if (queue->GetDesc().Type == D3D12_COMMAND_LIST_TYPE_DIRECT) {
      found.queue = queue;
      found.via = "swapchain";
    }
    queue->Release();
  }
  if (found.queue != nullptr) return found;
  Log("Overlay: the queue of swapchain %p (%s) is unknown; switching to the Composition renderer (minimap and world "
      "map; no in-world route)",
      static_cast<void*>(swapchain), ModulePathOf(MethodTable(swapchain)).c_str());
  Hooks().PresentDisabled.store(1);
  Hooks().CompositionHandover.store(1);
  return found;
}

}  // namespace pathlight
