// The game's output as a display sees it: the back buffers' format, the swap chain's colour space,
// and the values of presented pixels, for the checks of high-dynamic-range output.
//
//   swapchain-format rgba8|rgba16f|rgb10a2
//                                   the format of the swap chains made from now on (at 0 ms: the
//                                   first one; like --swapchain-format)
//   colour-space N                  IDXGISwapChain3::SetColorSpace1(N) on the game's swap chain;
//                                   prints what it answered
//   pixel-values FILE X Y [X Y ...] presents a frame and reads back the presented buffer; prints
//                                   each pixel's channels, decoded from the format, as floats
//                                   and appends the same lines to FILE
//   second-swapchain on|off         a second swap chain, on a small window of its own and the
//                                   game's queue, presented every frame before the main one
#include <windows.h>

#include <dxgi1_4.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host.hpp"
#include "scenario.hpp"
#include "swapchain.hpp"
#include "testkit/d3d12_kit_win.hpp"

namespace simhost {

namespace {

const bool kFormat =
    RegisterAction("swapchain-format", {1, 1,
                                        [](Host& host, const Action& a) {
                                          if (!ParseSwapchainFormat(a.args[0], host.swapchainFormat)) {
                                            Say("simhost: line %d: swapchain-format rgba8, rgba16f or rgb10a2", a.line);
                                          }
                                        },
                                        true});

const bool kColourSpace = RegisterAction(
    "colour-space", {1, 1, [](Host& host, const Action& a) {
                       if (!host.swapchain) {
                         Say("simhost: colour-space: the game has no swap chain");
                         return;
                       }
                       const unsigned long space = std::strtoul(a.args[0].c_str(), nullptr, 10);
                       const HRESULT hr =
                           host.swapchain->Native()->SetColorSpace1(static_cast<DXGI_COLOR_SPACE_TYPE>(space));
                       Say("simhost: SetColorSpace1(%lu) answered 0x%08lx", space, static_cast<unsigned long>(hr));
                     }});

const bool kPixelValues = RegisterAction(
    "pixel-values",
    {3, 201, [](Host& host, const Action& a) {
       Picture picture;
       host.FrameWork();
       if (!host.swapchain || !host.swapchain->RenderAndPresent(host, host.ElapsedMs(), {}, &picture)) {
         Say("simhost: pixel-values: the presented buffer could not be read");
         return;
       }
       std::string path = a.args[0];
       std::FILE* file = std::fopen(path.c_str(), "ab");
       for (std::size_t i = 1; i + 1 < a.args.size(); i += 2) {
         const long x = std::strtol(a.args[i].c_str(), nullptr, 10),
                    y = std::strtol(a.args[i + 1].c_str(), nullptr, 10);
         char line[160];
         if (x < 0 || y < 0 || x >= static_cast<long>(picture.width) || y >= static_cast<long>(picture.height)) {
           std::snprintf(line, sizeof line, "simhost: pixel (%ld,%ld) is outside the %ux%u buffer", x, y, picture.width,
                         picture.height);
         } else {
           const float* p = picture.rgba.data() + (static_cast<std::size_t>(y) * picture.width + x) * 4;
           std::snprintf(line, sizeof line, "simhost: pixel (%ld,%ld) = %.4f %.4f %.4f %.4f", x, y, p[0], p[1], p[2],
                         p[3]);
         }
         Say("%s", line);
         if (file != nullptr) std::fprintf(file, "%s\n", line);
       }
       if (file != nullptr)
         std::fclose(file);
       else
         Say("simhost: pixel-values: cannot write %s", path.c_str());
     }});

const bool kSecondSwapchain = RegisterAction(
    "second-swapchain",
    {1, 1, [](Host& host, const Action& a) {
       SecondOutput& second = host.second;
       second.presenting = a.args[0] == "on";
       if (!second.presenting || second.swapchain != nullptr) return;
       if (!host.swapchain) {
         Say("simhost: second-swapchain: the game has no swap chain");
         second.presenting = false;
         return;
       }
       second.window = CreateMainWindow(host, 320, 240);
       IDXGIFactory2* factory = nullptr;
       HRESULT hr = second.window != nullptr ? CreateDXGIFactory2(0, IID_PPV_ARGS(&factory)) : E_FAIL;
       if (SUCCEEDED(hr)) {
         const DXGI_SWAP_CHAIN_DESC1 desc = testkit::FlipSwapChainDesc(320, 240, DXGI_FORMAT_R8G8B8A8_UNORM, 2);
         hr = factory->CreateSwapChainForHwnd(host.swapchain->Queue(), second.window, &desc, nullptr, nullptr,
                                              &second.swapchain);
         factory->Release();
       }
       if (FAILED(hr)) {
         Say("simhost: second-swapchain failed (0x%08lx)", static_cast<unsigned long>(hr));
         second = SecondOutput{};
         return;
       }
       host.everyFrame.push_back([](Host& h) {
         if (h.second.presenting) h.second.swapchain->Present(0, 0);
       });
     }});

}  // namespace

}  // namespace simhost
