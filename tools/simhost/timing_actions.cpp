// How long the game's frames take, for the in-frame renderer's benchmark: the figures a player
// would feel are the time a present hook adds to the game's Present, beside the game's own work.
//
//   present-timing N LABEL   renders and presents N frames back to back (messages still pumped,
//                            every-frame work done), then prints "simhost: timing LABEL: N frames,
//                            present median .. p99 .. us, game's own work median .. p99 .. us,
//                            thread CPU .. us a frame, longest present .. us"
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "game_state.hpp"
#include "host.hpp"
#include "scenario.hpp"
#include "swapchain.hpp"

namespace simhost {

namespace {

constexpr unsigned long kMostFrames = 100000;

double Quantile(std::vector<double>& values, double q) {
  if (values.empty()) return 0;
  const auto at = values.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), at, values.end());
  return *at;
}

const bool kPresentTiming = RegisterAction(
    "present-timing",
    {2, 2, [](Host& host, const Action& a) {
       const unsigned long frames = std::min(std::strtoul(a.args[0].c_str(), nullptr, 10), kMostFrames);
       if (!host.swapchain || frames == 0) {
         Say("simhost: present-timing: no swap chain or no frames");
         return;
       }
       // The thread's processor time over the whole run, per frame: Wine counts it in 10 ms steps, so
       // only the sum over many frames means anything. It leaves out the waits for the GPU.
       const auto cpuUs = [] {
         FILETIME created, exited, kernel, user;
         if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0.0;
         const auto us = [](const FILETIME& t) {
           return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
                  10.0;
         };
         return us(kernel) + us(user);
       };
       const double cpuBefore = cpuUs();
       std::vector<double> present, own;
       present.reserve(frames);
       own.reserve(frames);
       for (unsigned long i = 0; i < frames && !host.quit && host.swapchain; ++i) {
         if (!PumpAndPresent(host)) break;
         present.push_back(host.swapchain->LastPresentUs());
         own.push_back(host.swapchain->LastOwnWorkUs());
       }
       const std::size_t done = present.size();
       const double cpuPerFrame = done == 0 ? 0.0 : (cpuUs() - cpuBefore) / static_cast<double>(done);
       const double longest = present.empty() ? 0.0 : *std::max_element(present.begin(), present.end());
       Say("simhost: timing %s: %zu frames, present median %.1f p99 %.1f us, game's own work median %.1f p99 %.1f us, "
           "thread CPU %.1f us a frame, longest present %.1f us",
           a.args[1].c_str(), done, Quantile(present, 0.5), Quantile(present, 0.99), Quantile(own, 0.5),
           Quantile(own, 0.99), cpuPerFrame, longest);
     }});

}  // namespace

}  // namespace simhost
