// One Composition renderer tick in overlay-window mode under Wine: a 300-point route on the world
// map and on the minimap, redrawn every tick (the map moves by a fraction of a pixel each time),
// beside an unchanged tick of the same picture, which must not touch the window at all.
//
//   pathlight-bench-overlay.exe [--ticks N]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_clock_win.hpp"
#include "bench_row.hpp"
#include "fallback/fallback_device_win.hpp"
#include "fallback/fallback_renderer.hpp"
#include "testkit/window_win.hpp"

using namespace pathlight;
using bench::Figures;
using bench::Measure;

namespace {

constexpr int kRoutePoints = 300;

void Report(const char* what, const Figures& f) {
  std::printf("%-34s median %8.1f us  p99 %8.1f us  thread CPU %8.1f us/tick\n", what, f.median, f.p99, f.cpuPerCall);
}

}  // namespace

int main(int argc, char** argv) {
  int ticks = 400;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--ticks") == 0) ticks = std::max(10, std::atoi(argv[i + 1]));
  }
  HWND game = testkit::CreatePlainWindow(L"OverlayBenchGame", WS_POPUP | WS_VISIBLE, 0, 0, 1280, 720);

  // A winding 300-point route of about 3 km through the player.
  MapFrame frame;
  frame.snapshot.playerValid = 1;
  frame.snapshot.minimapValid = 1;
  frame.snapshot.minimapAlpha = 1;
  frame.snapshot.worldMapZoom = 2.4f;
  for (int i = 0; i < kRoutePoints; ++i) {
    const float t = static_cast<float>(i);
    frame.routePolyline.push_back({t * 10.0f - 1500.0f, 200.0f * std::sin((t - 150.0f) * 0.05f)});
  }
  bool moving = true;
  float shift = 0;
  Settings settings;
  WindowsFallbackDevice device([&](MapFrame& f, const Settings&) {
    if (moving) shift += 0.25f;
    f = frame;
    f.snapshot.worldMapCenterX = shift;
    f.snapshot.playerX = shift * 0.1f;
    return true;
  });
  FallbackRenderer renderer;
  renderer.gameWindow = reinterpret_cast<WindowHandle>(game);
  if (!SwitchToOverlayWindow(renderer, device, "benchmark")) return 1;

  struct Map {
    const char* name;
    bool minimap;
  };
  for (const Map map : {Map{"world map", false}, Map{"minimap", true}}) {
    if (map.minimap) {
      // As the frame preparation gives it: from the player, who stands on the route's middle, on.
      frame.routePolyline.erase(frame.routePolyline.begin(), frame.routePolyline.begin() + kRoutePoints / 2);
    }
    frame.drawMinimap = map.minimap;
    frame.drawWorldMap = !map.minimap;
    frame.snapshot.worldMapOpen = !map.minimap;
    moving = true;
    const Figures drawn = Measure(ticks, [&] { CompositionTick(renderer, device, settings); });
    moving = false;
    const unsigned pushes = device.OverlayPushes();
    const Figures unchanged = Measure(ticks, [&] { CompositionTick(renderer, device, settings); });
    const bool untouched = device.OverlayPushes() == pushes;
    std::printf("%s, %zu-point route, %d ticks each:\n", map.name, frame.routePolyline.size(), ticks);
    Report("  tick that redraws the overlay", drawn);
    Report("  unchanged tick (baseline)", unchanged);
    std::printf("  redraw / unchanged: %.0fx; the unchanged ticks pushed %s\n",
                drawn.median / std::max(unchanged.median, 1e-3), untouched ? "nothing" : "PICTURES (a fault)");
    const std::string id = std::string("overlay.tick.") + (map.minimap ? "minimap" : "worldmap");
    const std::string path = std::string("one overlay-window tick that redraws, ") + map.name;
    bench::PrintBenchRow(id.c_str(), path.c_str(), drawn.median, unchanged.median, "us",
                         "an unchanged tick of the same picture");
    if (!untouched) return 1;
  }
  return 0;
}
