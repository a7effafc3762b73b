// The in-frame route drawing per frame: the minimap and world-map lines of a 300-point route and a
// 50 m ribbon, each drawn into a Dear ImGui draw list emptied as a new frame empties it. Beside
// them, as the baseline of the same run, a plain copy of as many ImDrawVert as the frame writes, so
// the figures read as multiples of the cheapest possible way to fill the same vertices. Heap
// allocations are counted too: a steady frame should make none.
//
//   pathlight-bench-drawing [Google Benchmark options]
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "render12/route_drawing.hpp"

namespace {

std::atomic<long> allocations{0};

}  // namespace

// Counts every allocation through operator new (std::vector's); Dear ImGui allocates through
// malloc, counted by its own hook below. GCC takes the inlined free for a mismatch with new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace pathlight;

namespace {

void* CountedImGuiAlloc(std::size_t size, void*) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size);
}
void ImGuiFree(void* p, void*) { std::free(p); }

constexpr float kWidth = 1920, kHeight = 1080;
constexpr int kRoutePoints = 300;

// A gently winding route east of the player, a point every 2 m (600 m): the minimap keeps the
// part within its reach, the world map shows it all.
struct Scene {
  Settings settings;
  GameSnapshot snapshot;
  Route route;
  RouteNearest nearest;
  std::vector<GroundPoint> polyline;

  Scene() {
    for (int i = 0; i < kRoutePoints; ++i) {
      const float x = 2.0f * static_cast<float>(i);
      route.points.push_back({x, 10 * std::sin(x / 20)});
      route.heights.push_back(0.5f * std::sin(x / 30));
    }
    snapshot.playerValid = snapshot.minimapValid = snapshot.cameraValid = 1;
    snapshot.playerX = 1, snapshot.playerZ = 1;
    snapshot.minimapAlpha = 1;
    snapshot.minimapRotation = 30;
    snapshot.worldMapZoom = 2.4f;
    snapshot.worldMapCenterX = 300;
    snapshot.clockHours = 20;
    // The camera 3 m behind and 2 m above the player, looking east along the route.
    const float right[3] = {0, 0, -1}, up[3] = {0, 1, 0}, forward[3] = {1, 0, 0};
    for (int i = 0; i < 3; ++i) {
      snapshot.cameraColumn0[i] = right[i];
      snapshot.cameraColumn1[i] = up[i];
      snapshot.cameraColumn2[i] = forward[i];
    }
    snapshot.cameraPosition[0] = -2, snapshot.cameraPosition[1] = 2, snapshot.cameraPosition[2] = 1;
    snapshot.cameraProjX = 1, snapshot.cameraProjY = 1.78f;
    settings.debug.drawRoads = false;
    nearest = NearestOnRoute(route.points, {snapshot.playerX, snapshot.playerZ});
    RouteFromPlayer(route.points, snapshot, nearest, polyline);
  }
};

void OccludedCallback(const ImDrawList*, const ImDrawCmd*) {}

// The draw list as the frame starts it.
void NewFrameList(ImDrawList& draw) {
  draw._ResetForNewFrame();
  draw.PushClipRectFullScreen();
  draw.PushTextureID(ImGui::GetIO().Fonts->TexID);
}

enum class Part { Minimap, WorldMap, Ribbon, Frame };

void DrawPart(ImDrawList& draw, const Scene& s, Part part) {
  if (part == Part::Minimap || part == Part::Frame) {
    DrawMinimapRoute(draw, s.snapshot, s.polyline, kHeight, s.settings, nullptr);
  }
  if (part == Part::WorldMap || part == Part::Frame) DrawWorldMapRoute(draw, s.snapshot, s.polyline, kWidth, kHeight, s.settings);
  if (part == Part::Ribbon || part == Part::Frame) {
    DrawWorldRibbon(draw, s.snapshot, s.route, s.nearest, kWidth, kHeight, s.settings, RibbonOcclusion{OccludedCallback, nullptr});
  }
}

void BM_Draw(benchmark::State& state, Part part) {
  static const Scene scene;
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  // The first frame grows the scratch and the draw list; the frames measured reuse them.
  NewFrameList(draw);
  DrawPart(draw, scene, part);
  const long before = allocations.load();
  for (auto _ : state) {
    NewFrameList(draw);
    DrawPart(draw, scene, part);
    benchmark::DoNotOptimize(draw.VtxBuffer.Data);
  }
  state.counters["vertices"] = draw.VtxBuffer.Size;
  state.counters["allocs/frame"] = static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

// The baseline: as many vertices as a whole frame writes, copied plainly.
void BM_CopyVertices(benchmark::State& state) {
  static const Scene scene;
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  NewFrameList(draw);
  DrawPart(draw, scene, Part::Frame);
  const std::vector<ImDrawVert> source(draw.VtxBuffer.begin(), draw.VtxBuffer.end());
  std::vector<ImDrawVert> target(source.size());
  for (auto _ : state) {
    std::copy(source.begin(), source.end(), target.begin());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.counters["vertices"] = static_cast<double>(source.size());
}

BENCHMARK(BM_CopyVertices);
BENCHMARK_CAPTURE(BM_Draw, minimap, Part::Minimap);
BENCHMARK_CAPTURE(BM_Draw, worldmap, Part::WorldMap);
BENCHMARK_CAPTURE(BM_Draw, ribbon, Part::Ribbon);
BENCHMARK_CAPTURE(BM_Draw, frame, Part::Frame);

// The console table, then one line per routine: nanoseconds per frame beside the baseline's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double baseline = ns_.count("BM_CopyVertices") ? ns_["BM_CopyVertices"] : 0;
    std::printf("\nns per frame (baseline: copying the frame's vertices, %.0f ns)\n", baseline);
    for (const auto& [name, ns] : ns_) {
      if (name == "BM_CopyVertices") continue;
      std::printf("  %-20s %10.0f ns  %6.1f x baseline\n", name.c_str(), ns, baseline > 0 ? ns / baseline : 0.0);
    }
  }

 private:
  std::map<std::string, double> ns_;
};

}  // namespace

int main(int argc, char** argv) {
  ImGui::SetAllocatorFunctions(CountedImGuiAlloc, ImGuiFree);
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.DisplaySize = {kWidth, kHeight};
  io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
  io.Fonts->Build();
  ImGui::NewFrame();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  ImGui::EndFrame();
  ImGui::DestroyContext();
  return 0;
}
