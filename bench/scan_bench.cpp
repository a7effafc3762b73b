// The start-up image scan on a synthetic image of a real game's size: every search and GameInit
// as a whole, beside memchr and memcpy passes over the same bytes.
//
//   pathlight-bench-scan [--megabytes N]     (default 128)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bench_row.hpp"
#include "game/image_builder.hpp"
#include "game/code_patterns.hpp"
#include "game/game_init.hpp"
#include "game/rtti_index.hpp"
#include "testkit/code_like.hpp"

using namespace pathlight;
using namespace pathlight::testing;
using Clock = std::chrono::steady_clock;

namespace {

template <typename F> double Milliseconds(F&& run) {
  const auto start = Clock::now();
  run();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::uint32_t Ticks() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t megabytes = 128;
  if (argc == 3 && std::string(argv[1]) == "--megabytes") megabytes = static_cast<std::uint32_t>(std::atoi(argv[2]));
  const std::uint32_t codeBytes = megabytes << 20;

  ImageBuilder image;
  const int text = image.AddSection(codeBytes, kCode);
  const int rdata = image.AddSection(0x10000, kRdata);
  const int data = image.AddSection(0x10000, kData);
  const std::uint64_t session = image.Put(data, Bytes(8, 0), 8);
  const VehicleGlobals vehicle{image.Put(data, Bytes(8, 0)), image.Put(data, Bytes(8, 0)),
                               image.Put(data, Bytes(8, 0))};
  const std::uint64_t seconds = image.Put(data, Bytes(8, 0)), ms = image.Put(data, Bytes(8, 0));
  // The planted code sits at the end of the code, as a scan meets it last.
  const std::uint64_t planted = image.SectionEnd(text) - 0x1000;
  const std::uint64_t filler = image.Skip(text, static_cast<std::uint32_t>(planted - image.SectionStart(text)));
  testkit::FillCodeLike(image.At(filler), image.At(planted), codeBytes);
  PutSessionSites(image, text, session, 24);
  PutClockRead(image, text, seconds, ms);
  const std::uint64_t check = PutVehicleCheck(image, text, vehicle);
  const ClassSections at{data, rdata};
  const std::string_view names[] = {decorated::kMinimap, decorated::kWorldMap,         decorated::kIcon,
                                    decorated::kCamera,  decorated::kVehicleComponent, decorated::kActorManager};
  for (std::string_view name : names) PutClass(image, at, name);
  PutClass(image, at, decorated::kRidingVehicleCondition, {0, check});
  const MappedImage view = image.Image();
  const std::uint64_t size = view.End() - view.Base();
  // The baselines run over a copy from which one byte value is removed, so memchr runs to the end.
  std::vector<std::uint8_t> copy(size), target(size);
  std::memcpy(copy.data(), view.At(view.Base()), size);
  constexpr std::uint8_t kAbsent = 0xF1;
  for (std::uint8_t& b : copy) b = b == kAbsent ? 0xF0 : b;

  std::printf("image: %u MB of code-like bytes, %llu MB in all\n", megabytes,
              static_cast<unsigned long long>(size >> 20));
  const double memchrMs = Milliseconds([&] {
    const void* volatile hit = std::memchr(copy.data(), kAbsent, size);
    (void)hit;
  });
  const double memcpyMs = Milliseconds([&] { std::memcpy(target.data(), copy.data(), size); });
  std::printf("baseline: memchr pass %.1f ms, memcpy pass %.1f ms\n", memchrMs, memcpyMs);

  const auto report = [&](const char* what, double ms) {
    std::printf("%-34s %8.1f ms  (%.1f memchr passes)\n", what, ms, ms / memchrMs);
  };
  std::uint64_t sink = 0;
  report("FindVtable (minimap)", Milliseconds([&] { sink += FindVtable(view, decorated::kMinimap); }));
  report("FindVtable (riding condition)",
         Milliseconds([&] { sink += FindVtable(view, decorated::kRidingVehicleCondition); }));
  report("FindSessionGlobal", Milliseconds([&] { sink += FindSessionGlobal(view); }));
  GameLayout layout;
  report("FindGameClock", Milliseconds([&] { FindGameClock(view, layout); }));
  const double gameInitMs = Milliseconds([&] { sink += GameInit(view, {}, layout, &Ticks); });
  report("GameInit (default settings)", gameInitMs);
  // The naive way: one pass over the image for each class name it looks for, the riding
  // condition's included.
  const int searched = static_cast<int>(std::size(names)) + 1;
  char path[64];
  std::snprintf(path, sizeof path, "GameInit on a %llu MB image", static_cast<unsigned long long>(size >> 20));
  char baselineIs[96];
  std::snprintf(baselineIs, sizeof baselineIs, "one memchr pass over the image per searched class name (%d)", searched);
  bench::PrintBenchRow("gameinit.image", path, gameInitMs, searched * memchrMs, "ms", baselineIs);
  return sink == 0 ? 1 : 0;
}
