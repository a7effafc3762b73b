// The hook chain in this process, against Wine's DXGI and Direct3D: the factory step, the
// swap-chain step, and the present and resize detours with a stand-in renderer.
#include <windows.h>

#include <d3d11.h>
#include <d3d12.h>
#include <dxgi1_4.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "hooks/graphics_hooks_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/present_frame.hpp"
#include "testkit/d3d12_kit_win.hpp"

namespace pathlight {
namespace {

// A COM object that is nothing but IUnknown: a factory without IDXGIFactory2.
class BareUnknown final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != __uuidof(IUnknown)) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

HWND MakeWindow(int width, int height) {
  static const bool registered = [] {
    WNDCLASSW c = {};
    c.lpfnWndProc = DefWindowProcW;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"PathlightHookTest";
    return RegisterClassW(&c) != 0;
  }();
  (void)registered;
  HWND window = CreateWindowW(L"PathlightHookTest", L"hooks", WS_OVERLAPPEDWINDOW, 0, 0, width, height, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  ShowWindow(window, SW_SHOW);
  return window;
}

struct Frames {
  static inline std::atomic<int> drawn{0};
  static inline std::atomic<int> released{0};
  static inline std::atomic<bool> mutexHeldAtRelease{false};
  static inline IDXGISwapChain* nestInto = nullptr;

  static void Frame(void* swapchain) {
    ++drawn;
    // A present nested in this one (as another overlay's would be) draws nothing.
    if (nestInto != nullptr && swapchain == nestInto) {
      IDXGISwapChain* nested = nestInto;
      nestInto = nullptr;
      nested->Present(0, 0);
    }
  }
  static void Release(void*) {
    ++released;
    mutexHeldAtRelease = !std::async(std::launch::async, [] {
                            const bool free = RenderMutex().try_lock();
                            if (free) RenderMutex().unlock();
                            return free;
                          }).get();
  }
};

// One test: the steps build on each other (hooks are made once per process and never removed).
TEST(GraphicsHooksWin, FactorySwapChainPresentAndResize) {
  Settings settings;
  InstallGraphicsHooks(settings);

  // A first factory without IDXGIFactory2 leaves the way open for the next.
  BareUnknown notAFactory;
  OnFactoryCreated(&notAFactory);
  EXPECT_EQ(Hooks().FactoryHooksInstalled.load(), 0);
  IDXGIFactory2* factory = nullptr;
  ASSERT_HRESULT_SUCCEEDED(CreateDXGIFactory2(0, IID_PPV_ARGS(&factory)));
  EXPECT_EQ(Hooks().FactoryHooksInstalled.load(), 1);

  // A Direct3D 11 swap chain is ignored.
  ID3D11Device* device11 = nullptr;
  ASSERT_HRESULT_SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0,
                                             D3D11_SDK_VERSION, &device11, nullptr, nullptr));
  DXGI_SWAP_CHAIN_DESC desc11 = testkit::WindowedSwapChainDesc(MakeWindow(320, 240), 320, 240);
  IDXGISwapChain* swapchain11 = nullptr;
  ASSERT_HRESULT_SUCCEEDED(factory->CreateSwapChain(device11, &desc11, &swapchain11));
  EXPECT_EQ(Hooks().SwapChainSeen.load(), 0);
  EXPECT_EQ(SwapChainQueues().Size(), 0u);

  // The D3D12 swap chain is recorded with its queue and brings the method hooks.
  ID3D12Device* device = nullptr;
  ASSERT_HRESULT_SUCCEEDED(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, IID_PPV_ARGS(&device)));
  D3D12_COMMAND_QUEUE_DESC queueDesc = {};
  ID3D12CommandQueue* queue = nullptr;
  ASSERT_HRESULT_SUCCEEDED(device->CreateCommandQueue(&queueDesc, IID_PPV_ARGS(&queue)));
  DXGI_SWAP_CHAIN_DESC1 desc = testkit::FlipSwapChainDesc(800, 600, DXGI_FORMAT_R8G8B8A8_UNORM, 2);
  IDXGISwapChain1* swapchain = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      factory->CreateSwapChainForHwnd(queue, MakeWindow(800, 600), &desc, nullptr, nullptr, &swapchain));
  EXPECT_EQ(Hooks().SwapChainSeen.load(), 1);
  EXPECT_EQ(SwapChainQueues().Find(swapchain), queue);
  const PresentQueue found = FindPresentQueue(swapchain);
  EXPECT_EQ(found.queue, queue);
  EXPECT_STREQ(found.via, "recorded at swapchain creation");
  // A swap chain made again at the same address is another creation, on whatever queue it names.
  SwapChainQueues().Record(swapchain, &desc);
  const SwapChainQueueTable::Entry again = SwapChainQueues().Lookup(swapchain);
  EXPECT_EQ(again.queue, &desc);
  EXPECT_GT(again.creation, found.creation);
  SwapChainQueues().Record(swapchain, queue);
  EXPECT_GT(FindPresentQueue(swapchain).creation, again.creation);
  EXPECT_EQ(SwapChainQueues().Size(), 1u);

  // Inside FidelityFX's context creation a swap chain is FidelityFX's own: not recorded.
  InsideFfxContextCreation = true;
  IDXGISwapChain1* frameGeneration = nullptr;
  ASSERT_HRESULT_SUCCEEDED(
      factory->CreateSwapChainForHwnd(queue, MakeWindow(400, 300), &desc, nullptr, nullptr, &frameGeneration));
  InsideFfxContextCreation = false;
  EXPECT_EQ(SwapChainQueues().Size(), 1u);

  // Presents: a test present draws nothing; a present nested in a hooked one is drawn once.
  InstallPresentRenderer({&Frames::Frame, &Frames::Release});
  swapchain->Present(0, DXGI_PRESENT_TEST);
  EXPECT_EQ(Frames::drawn.load(), 0);
  swapchain->Present(0, 0);
  EXPECT_EQ(Frames::drawn.load(), 1);
  Frames::nestInto = swapchain;
  swapchain->Present(0, 0);
  EXPECT_EQ(Frames::drawn.load(), 2);
  DXGI_PRESENT_PARAMETERS parameters = {};
  swapchain->Present1(0, 0, &parameters);
  EXPECT_EQ(Frames::drawn.load(), 3);

  // A resize releases the renderer's objects under the render mutex and goes through.
  EXPECT_HRESULT_SUCCEEDED(swapchain->ResizeBuffers(2, 640, 480, DXGI_FORMAT_R8G8B8A8_UNORM, 0));
  EXPECT_EQ(Frames::released.load(), 1);
  EXPECT_TRUE(Frames::mutexHeldAtRelease.load());

  InstallPresentRenderer({});
  frameGeneration->Release();
  swapchain->Release();
  queue->Release();
  device->Release();
  swapchain11->Release();
  device11->Release();
  factory->Release();
}

}  // namespace
}  // namespace pathlight
