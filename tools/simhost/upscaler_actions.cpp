// The game's upscalers: Streamline's interposer and FidelityFX's loader (the test doubles of
// tools/doubles), how the game makes its swap chain, and what it hands Streamline every frame.
//
//   defer-swapchain                 (at 0 ms) no swap chain at start; a `swapchain` action makes it
//   load-streamline                 (at 0 ms) loads sl.interposer.dll from the game's folder
//   load-fidelityfx                 (at 0 ms) loads amd_fidelityfx_loader_dx12.dll likewise
//   swapchain system|streamline|fidelityfx
//                                   makes the game's D3D12 swap chain through that module
//   streamline-frames [wrong-layout|ping-pong]
//                                   every frame: tags the depth buffer, hands over the camera
//                                   constants (the camera the game publishes and the world's
//                                   view-to-clip matrix; with wrong-layout fixed ones whose forward
//                                   vector is 0.9 long: a layout the library does not know) and
//                                   evaluates; each answer is checked; with ping-pong the game
//                                   draws with two depth buffers in turn and tags the frame's
//   depth-replace                   the game's depth buffer released and a new one made
//   device-recreate                 the game releases its swap chain, queue and device and makes
//                                   new ones on the same window (a graphics-settings change)
//   ffx-fail                        a FidelityFX context creation that fails, over the game's
//                                   swap chain
//   d3d11-swapchain                 a Direct3D 11 swap chain on a small window of its own
//
// A changed argument or answer (seen through the doubles' receipts) ends the game with status 1.
#include <windows.h>

#include <d3d11.h>
#include <d3d12.h>
#include <dxgi1_5.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "ffx_layout.hpp"
#include "host.hpp"
#include "receipt.hpp"
#include "game_state.hpp"
#include "scenario.hpp"
#include "swapchain.hpp"
#include "testkit/d3d12_kit_win.hpp"

namespace simhost {

namespace {

template <typename Fn> Fn Export(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  return handle != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
}

std::uint64_t U(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

// ---- Streamline's structures, in their published 64-bit layout ----------------------------------

struct SlBase {
  const void* next = nullptr;
  std::uint8_t structType[16] = {};
  std::uint64_t structVersion = 1;
};
struct SlResource {
  SlBase base;
  std::uint32_t type = 0;  // 0: a texture
  std::uint32_t pad = 0;
  void* native = nullptr;
  void* memory = nullptr;
  void* view = nullptr;
  std::uint32_t state = 0;
  std::uint32_t rest[5] = {};
};
struct SlExtent {
  std::uint32_t top = 0, left = 0, width = 0, height = 0;
};
struct SlResourceTag {
  SlBase base;
  SlResource* resource = nullptr;
  std::uint32_t type = 0;  // 0: depth
  std::uint32_t lifecycle = 0;
  const SlExtent* extent = nullptr;
  std::uint64_t reserved = 0;
};
static_assert(offsetof(SlResource, native) == 40 && offsetof(SlResource, state) == 64);
static_assert(offsetof(SlResourceTag, resource) == 32 && offsetof(SlResourceTag, extent) == 48 &&
              sizeof(SlResourceTag) == 64);

using SlSetConstantsFn = std::int32_t (*)(const void*, const void*, const void*);
using SlSetTagFn = std::int32_t (*)(const void*, const void*, std::uint32_t, void*);
using SlSetTagForFrameFn = std::int32_t (*)(const void*, const void*, const void*, std::uint32_t, void*);
using SlEvaluateFeatureFn = std::int32_t (*)(std::uint32_t, const void*, const void**, std::uint32_t, void*);
using FfxCreateContextFn = std::uint32_t (*)(void**, doubles::FfxHeader*, const void*);

// What the game hands Streamline each frame; kept alive between frames as a game's would be.
struct StreamlineFrame {
  SlResource colour, depth;
  SlExtent area;
  SlResourceTag tags[2];
  float constants[128] = {};
  std::uint32_t frameToken = 0, viewport = 0;
  SlBase viewportOptions;
  const void* inputs[1] = {&viewportOptions};
  unsigned frames = 0;
  bool liveCamera = true;
};

// The camera the world is drawn through, in Streamline's constants: the view-to-clip matrix
// (row-major, world_view.hpp) and the camera's position, up, right and forward vectors.
void PutCamera(const GameState* game, float* c) {
  const GameCamera camera = ReadGameCamera(game);
  if (!camera.valid) return;
  c[8] = camera.projX;   // [0][0]
  c[13] = camera.projY;  // [1][1]
  c[18] = 0.0f;          // [2][2]
  c[19] = 1.0f;          // [2][3]
  c[22] = kNearPlane;    // [3][2]
  for (int i = 0; i < 3; ++i) {
    c[94 + i] = camera.position[i];
    c[97 + i] = camera.up[i];
    c[100 + i] = camera.right[i];
    c[103 + i] = camera.forward[i];
  }
}

void Check(Host& host, const char* function, std::int32_t answer, std::int32_t expected) {
  if (answer == expected) return;
  Say("simhost: %s answered %d through the library, the double answers %d", function, answer, expected);
  host.exitCode = 1;
  host.quit = true;
}

void StreamlineWork(Host& host, StreamlineFrame& f) {
  static const auto setConstants = Export<SlSetConstantsFn>(L"sl.interposer.dll", "slSetConstants");
  static const auto setTag = Export<SlSetTagFn>(L"sl.interposer.dll", "slSetTag");
  static const auto setTagForFrame = Export<SlSetTagForFrameFn>(L"sl.interposer.dll", "slSetTagForFrame");
  static const auto evaluate = Export<SlEvaluateFeatureFn>(L"sl.interposer.dll", "slEvaluateFeature");
  if (!host.swapchain || setConstants == nullptr || setTag == nullptr || setTagForFrame == nullptr ||
      evaluate == nullptr) {
    return;
  }
  f.depth.native = host.swapchain->Depth();
  f.area.width = host.swapchain->Width();
  f.area.height = host.swapchain->Height();
  ++f.frameToken;
  if (f.liveCamera) PutCamera(host.game, f.constants);
  void* commands = host.swapchain->Queue();
  if (++f.frames % 2 == 0) {
    Check(host, "slSetTag", setTag(&f.viewport, f.tags, 2, commands),
          doubles::Receipt({U(&f.viewport), U(f.tags), 2, U(commands)}));
  } else {
    Check(host, "slSetTagForFrame", setTagForFrame(&f.frameToken, &f.viewport, f.tags, 2, commands),
          doubles::Receipt({U(&f.frameToken), U(&f.viewport), U(f.tags), 2, U(commands)}));
  }
  Check(host, "slSetConstants", setConstants(f.constants, &f.frameToken, &f.viewport),
        doubles::Receipt({U(f.constants), U(&f.frameToken), U(&f.viewport)}));
  Check(host, "slEvaluateFeature", evaluate(1, &f.frameToken, f.inputs, 1, commands),
        doubles::Receipt({1, U(&f.frameToken), U(f.inputs), 1, U(commands)}));
}

std::unique_ptr<StreamlineFrame> MakeStreamlineFrame(bool wrongLayout) {
  auto f = std::make_unique<StreamlineFrame>();
  const std::uint8_t tagType[16] = {0x2B, 0x5D, 0x6A, 0x4C, 0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4, 5, 6, 7, 8};
  for (SlResourceTag& tag : f->tags) std::memcpy(tag.base.structType, tagType, 16);
  f->tags[0].type = 4;  // a colour input
  f->tags[0].resource = &f->colour;
  f->tags[1].type = 0;  // the depth buffer
  f->tags[1].resource = &f->depth;
  f->tags[1].lifecycle = 1;
  f->tags[1].extent = &f->area;
  f->depth.state = 0x10;  // depth write
  f->viewportOptions.structType[0] = 0x7E;
  f->liveCamera = !wrongLayout;
  float* c = f->constants;
  c[8] = 1.2f;                                    // view-to-clip [0][0]
  c[13] = 2.1f;                                   // [1][1]
  c[18] = 0.0f;                                   // [2][2]
  c[19] = 1.0f;                                   // [2][3]
  c[22] = 0.1f;                                   // [3][2]
  c[94] = 100.0f, c[95] = 50.0f, c[96] = 200.0f;  // position
  c[98] = 1.0f;                                   // up
  c[100] = 1.0f;                                  // right
  c[105] = wrongLayout ? 0.9f : 1.0f;             // forward
  return f;
}

// ---- actions ----------------------------------------------------------------------------------------

const bool kDefer =
    RegisterAction("defer-swapchain", {0, 0, [](Host& host, const Action&) { host.deferSwapchain = true; }, true});

void LoadBeside(const wchar_t* name) {
  if (LoadLibraryW(BesideGame(name).c_str()) == nullptr)
    Say("simhost: %ls not loaded (error %lu)", name, GetLastError());
}

const bool kLoadStreamline =
    RegisterAction("load-streamline", {0, 0, [](Host&, const Action&) { LoadBeside(L"sl.interposer.dll"); }, true});

const bool kLoadFidelityFx = RegisterAction(
    "load-fidelityfx", {0, 0, [](Host&, const Action&) { LoadBeside(L"amd_fidelityfx_loader_dx12.dll"); }, true});

const bool kSwapchain =
    RegisterAction("swapchain", {1, 1, [](Host& host, const Action& action) {
                                   const std::string& how = action.args[0];
                                   SwapchainRoute route = SwapchainRoute::System;
                                   if (how == "streamline")
                                     route = SwapchainRoute::Streamline;
                                   else if (how == "fidelityfx")
                                     route = SwapchainRoute::FidelityFx;
                                   else if (how != "system") {
                                     Say("simhost: swapchain: unknown way '%s'", how.c_str());
                                     return;
                                   }
                                   if (host.swapchain) {
                                     Say("simhost: swapchain: the game has one already");
                                     return;
                                   }
                                   auto swapchain = std::make_unique<Swapchain>();
                                   if (!swapchain->Create(host.window, route, host.swapchainFormat)) {
                                     Say("simhost: swapchain through %s failed", how.c_str());
                                     return;
                                   }
                                   host.swapchain = std::move(swapchain);
                                   Say("simhost: swapchain made through %s", how.c_str());
                                 }});

const bool kStreamlineFrames = RegisterAction(
    "streamline-frames", {0, 1, [](Host& host, const Action& action) {
                            const std::string variant = action.args.empty() ? "" : action.args[0];
                            if (!variant.empty() && variant != "wrong-layout" && variant != "ping-pong") {
                              Say("simhost: streamline-frames: unknown variant '%s'", variant.c_str());
                              return;
                            }
                            std::shared_ptr<StreamlineFrame> frame = MakeStreamlineFrame(variant == "wrong-layout");
                            const bool pingPong = variant == "ping-pong";
                            host.everyFrame.push_back([frame, pingPong](Host& h) {
                              // Kept on across a new swap chain too.
                              if (pingPong && h.swapchain) h.swapchain->SetDepthPingPong(true);
                              StreamlineWork(h, *frame);
                            });
                          }});

const bool kDepthReplace =
    RegisterAction("depth-replace", {0, 0, [](Host& host, const Action&) {
                                       if (!host.swapchain) {
                                         Say("simhost: depth-replace: the game has no swap chain");
                                         return;
                                       }
                                       host.swapchain->ReplaceDepth();
                                       Say("simhost: depth buffer replaced");
                                     }});

const bool kDeviceRecreate = RegisterAction(
    "device-recreate", {0, 0, [](Host& host, const Action&) {
                          host.swapchain.reset();
                          auto swapchain = std::make_unique<Swapchain>();
                          if (!swapchain->Create(host.window, SwapchainRoute::System, host.swapchainFormat)) {
                            Say("simhost: device-recreate: the new swap chain could not be made");
                            host.exitCode = 1;
                            host.quit = true;
                            return;
                          }
                          host.swapchain = std::move(swapchain);
                          Say("simhost: device recreated");
                        }});

const bool kFfxFail = RegisterAction(
    "ffx-fail",
    {0, 0, [](Host& host, const Action&) {
       const auto create = Export<FfxCreateContextFn>(L"amd_fidelityfx_loader_dx12.dll", "ffxCreateContext");
       if (create == nullptr || !host.swapchain) {
         Say("simhost: ffx-fail: no FidelityFX loader or no swap chain");
         return;
       }
       IDXGISwapChain4* swapchain = nullptr;
       host.swapchain->Native()->QueryInterface(IID_PPV_ARGS(&swapchain));
       doubles::FfxWrapSwapchain wrap = {{doubles::kFfxWrapSwapchain, nullptr}, &swapchain, host.swapchain->Queue()};
       // No context to fill: FidelityFX refuses, and the game goes on with its own swap chain.
       const std::uint32_t result = create(nullptr, &wrap.header, nullptr);
       Say("simhost: ffxCreateContext without a context answered 0x%X", result);
       if (swapchain != nullptr) swapchain->Release();
     }});

struct D3D11Output {
  HWND window = nullptr;
  ID3D11Device* device = nullptr;
  IDXGISwapChain* swapchain = nullptr;
};

const bool kD3D11 = RegisterAction(
    "d3d11-swapchain",
    {0, 0, [](Host& host, const Action&) {
       static D3D11Output output;  // lives as long as the game
       if (output.swapchain != nullptr) return;
       output.window = CreateMainWindow(host, 320, 240);
       if (output.window == nullptr ||
           FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    &output.device, nullptr, nullptr))) {
         Say("simhost: d3d11-swapchain: no Direct3D 11 device");
         return;
       }
       IDXGIFactory1* factory = nullptr;
       if (FAILED(CreateDXGIFactory1(IID_PPV_ARGS(&factory)))) {
         Say("simhost: d3d11-swapchain: no factory");
         return;
       }
       DXGI_SWAP_CHAIN_DESC desc = testkit::WindowedSwapChainDesc(output.window, 320, 240);
       const HRESULT hr = factory->CreateSwapChain(output.device, &desc, &output.swapchain);
       factory->Release();
       Say(SUCCEEDED(hr) ? "simhost: Direct3D 11 swapchain made" : "simhost: Direct3D 11 swapchain failed (0x%08lx)",
           hr);
       if (SUCCEEDED(hr)) output.swapchain->Present(0, 0);
     }});

}  // namespace

bool CreateThroughFidelityFx(IDXGIFactory2* factory, ID3D12CommandQueue* queue, HWND window,
                             DXGI_SWAP_CHAIN_DESC1* desc, IDXGISwapChain1** swapchain) {
  const auto create = Export<FfxCreateContextFn>(L"amd_fidelityfx_loader_dx12.dll", "ffxCreateContext");
  if (create == nullptr) {
    Say("simhost: amd_fidelityfx_loader_dx12.dll is not loaded");
    return false;
  }
  IDXGISwapChain4* made = nullptr;
  doubles::FfxNewSwapchainForHwnd d = {};
  d.header.type = doubles::kFfxNewSwapchainForHwnd;
  d.swapchain = &made;
  d.hwnd = window;
  d.desc = desc;
  d.factory = factory;
  d.gameQueue = queue;
  void* context = nullptr;
  const std::uint32_t result = create(&context, &d.header, nullptr);
  if (result != 0 || made == nullptr) {
    Say("simhost: ffxCreateContext failed (0x%X)", result);
    return false;
  }
  *swapchain = made;  // IDXGISwapChain4 is an IDXGISwapChain1; the reference passes to the caller
  return true;
}

}  // namespace simhost
