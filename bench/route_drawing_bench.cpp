// The in-frame route drawing per frame: the minimap and world-map lines of a 300-point route and a
// 50 m ribbon (drawing_scene.hpp), each drawn into a Dear ImGui draw list emptied as a new frame
// empties it, then a whole Dear ImGui frame on the road as the renderer makes it. Beside them, as
// the baseline of the same run, a plain copy of as many ImDrawVert as a frame on the road writes,
// so the figures read as multiples of the cheapest possible way to fill the same vertices. Heap
// allocations are counted too: a steady frame makes none, its lists living in a reused scratch.
//
//   pathlight-bench-drawing [Google Benchmark options]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "counted_allocations.hpp"
#include "drawing_scene.hpp"

using namespace pathlight;

namespace {

constexpr float kWidth = bench::kSceneWidth, kHeight = bench::kSceneHeight;
using Scene = bench::DrawingScene;

void OccludedCallback(const ImDrawList*, const ImDrawCmd*) {}

// The draw list as the frame starts it.
void NewFrameList(ImDrawList& draw) {
  draw._ResetForNewFrame();
  draw.PushClipRectFullScreen();
  draw.PushTextureID(ImGui::GetIO().Fonts->TexID);
}

// A frame on the road draws the minimap route and the ribbon; with the world map open, the
// world-map route alone.
enum class Part { Minimap, WorldMap, Ribbon, Frame };

void DrawPart(ImDrawList& draw, DrawingScratch& scratch, const Scene& s, Part part) {
  if (part == Part::Minimap || part == Part::Frame) {
    DrawMinimapRoute(draw, scratch, s.snapshot, s.polyline, kHeight, s.settings, nullptr);
  }
  if (part == Part::WorldMap) DrawWorldMapRoute(draw, scratch, s.snapshot, s.polyline, kWidth, kHeight, s.settings);
  if (part == Part::Ribbon || part == Part::Frame) {
    DrawWorldRibbon(draw, scratch, s.snapshot, s.route, s.nearest, kWidth, kHeight, s.settings,
                    RibbonOcclusion{OccludedCallback, nullptr});
  }
}

void BM_Draw(benchmark::State& state, Part part) {
  static const Scene scene;
  static DrawingScratch scratch;
  ImGui::NewFrame();
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  // The first frame grows the scratch and the draw list; the frames measured reuse them.
  NewFrameList(draw);
  DrawPart(draw, scratch, scene, part);
  const long before = bench::allocations.load();
  for (auto _ : state) {
    NewFrameList(draw);
    DrawPart(draw, scratch, scene, part);
    benchmark::DoNotOptimize(draw.VtxBuffer.Data);
  }
  state.counters["vertices"] = draw.VtxBuffer.Size;
  state.counters["allocs/frame"] =
      static_cast<double>(bench::allocations.load() - before) / static_cast<double>(state.iterations());
  ImGui::EndFrame();
}

// A whole frame on the road as the renderer makes it, Dear ImGui's frame and the route from the
// player included: what the overlay itself adds to the game's present, before Direct3D.
void BM_ImGuiFrame(benchmark::State& state) {
  static const Scene scene;
  static DrawingScratch scratch;
  bench::DrawSceneFrame(scene, scratch);
  const long before = bench::allocations.load();
  for (auto _ : state) {
    bench::DrawSceneFrame(scene, scratch);
    benchmark::DoNotOptimize(ImGui::GetDrawData());
  }
  state.counters["vertices"] = ImGui::GetDrawData()->TotalVtxCount;
  state.counters["allocs/frame"] =
      static_cast<double>(bench::allocations.load() - before) / static_cast<double>(state.iterations());
}

// The baseline: as many vertices as a frame on the road writes, copied plainly.
void BM_CopyVertices(benchmark::State& state) {
  static const Scene scene;
  DrawingScratch scratch;
  ImGui::NewFrame();
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  NewFrameList(draw);
  DrawPart(draw, scratch, scene, Part::Frame);
  const std::vector<ImDrawVert> source(draw.VtxBuffer.begin(), draw.VtxBuffer.end());
  ImGui::EndFrame();
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
BENCHMARK_CAPTURE(BM_Draw, minimap_and_ribbon, Part::Frame);
BENCHMARK(BM_ImGuiFrame);

// The console table, then one line per routine: nanoseconds per frame beside the baseline's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        ns_[run.benchmark_name()] = run.GetAdjustedRealTime();
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
  bench::CountImGuiAllocations();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  io.DisplaySize = {kWidth, kHeight};
  io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
  io.Fonts->Build();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  ImGui::DestroyContext();
  return 0;
}
