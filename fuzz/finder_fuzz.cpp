// The object finder over an address space built from the input: the header of fuzz_game.hpp,
// then u32 start tick, u8 tick count, 4 x u16 milliseconds between ticks, u8 scan block size, then
// the address space (fuzz_memory.hpp; its regions are private read-write memory unless flagged).
// A fresh Finder, scanning in blocks of 256 bytes to 4 KB (so the objects' regions span several),
// ticks up to four times, then the direct waypoint reads and the session's camera are asked once
// more.
//
// Checked: whatever the finder publishes anew is an object of its class (the minimap root, the
// world map and the camera manager carry their class tables, the waypoint icon passes the icon
// check); the direct reads answer 0 or such an icon or camera; the icon chunks and the seen icons
// are ascending without repeats; the icon regions are regions of the space; and a tick's reads
// stay bounded by what is mapped.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_game.hpp"
#include "fuzz_memory.hpp"
#include "fuzz_target.hpp"
#include "game/finder.hpp"

namespace pathlight::fuzzing {
namespace {

template <typename T> bool Ascending(const std::vector<T>& values) {
  return std::adjacent_find(values.begin(), values.end(), [](const T& a, const T& b) { return !(a < b); }) ==
         values.end();
}

void CheckPublished(FuzzMemory& memory, const GameHeader& header, const PublishedGamePointers& p) {
  const GameLayout& layout = header.layout;
  const GameOffsets& offsets = header.settings.offsets;
  if (const auto root = p.MinimapRoot.load();
      root != header.pointers[0] && !HasVtable(memory, root, layout.MinimapVtable)) {
    Broken("a minimap root published without its class table");
  }
  if (const auto map = p.WorldMapObject.load();
      map != header.pointers[1] && !HasVtable(memory, map, layout.WorldMapVtable)) {
    Broken("a world map published without its class table");
  }
  for (int k = 0; k < kWorldMapCandidateCount; ++k) {
    const auto map = p.WorldMapCandidates[k].load();
    if (map != header.pointers[2 + k] && map != 0 && !HasVtable(memory, map, layout.WorldMapVtable)) {
      Broken("a world-map candidate without its class table");
    }
  }
  IconPosition position;
  if (const auto icon = p.WaypointIcon.load();
      icon != header.pointers[6] && icon != 0 && !ReadIconPosition(memory, layout, offsets, icon, position)) {
    Broken("a waypoint icon published that fails the icon check");
  }
  if (const auto camera = p.CameraManagerObject.load();
      camera != header.pointers[7] && !HasVtable(memory, camera, layout.CameraVtable)) {
    Broken("a camera manager published without its class table");
  }
}

}  // namespace

void FuzzInput(InputReader& input) {
  const GameHeader header = TakeGameHeader(input);
  std::uint32_t now = input.Take<std::uint32_t>();
  const int ticks = 1 + input.Take<std::uint8_t>() % 4;
  std::uint16_t steps[4];
  for (std::uint16_t& step : steps) step = input.Take<std::uint16_t>();
  const std::size_t blockBytes = std::size_t{256} << (input.Take<std::uint8_t>() % 5);
  FuzzMemory memory(input.Rest());

  PublishedGamePointers pointers;
  Publish(header, pointers);
  Finder finder({memory, memory, [&] { return now; }, [] {}}, header.layout, pointers, blockBytes);
  const int mostReads = 1000 + 40 * static_cast<int>(memory.MappedBytes() / 8);
  for (int t = 0; t < ticks; ++t) {
    const int before = memory.reads;
    const std::uint32_t sleep = finder.Tick(header.settings);
    if (sleep != 100 && sleep != 250 && sleep != 1000) Broken("sleep");
    if (memory.reads - before > mostReads) Broken("too many reads for one tick");
    CheckPublished(memory, header, pointers);
    if (!Ascending(finder.IconChunks()) || !Ascending(finder.SeenIcons())) Broken("chunks or seen icons out of order");
    for (const IconRegion& region : finder.IconRegions()) {
      MemoryRegion actual;
      if (!memory.RegionAt(region.base, actual) || !actual.scannable ||
          actual.base + actual.size != region.base + region.size) {
        Broken("an icon region that is no scannable region");
      }
    }
    now += steps[t] * 16u;
  }
  IconPosition position;
  for (const std::uint32_t path : kDirectPathOffsets) {
    const std::uint64_t icon = finder.ReadWaypointDirect(path);
    if (icon != 0 && !ReadIconPosition(memory, header.layout, header.settings.offsets, icon, position)) {
      Broken("a direct read answered no icon");
    }
  }
  const std::uint64_t camera = finder.CameraFromSession();
  if (camera != 0 && !HasVtable(memory, camera, header.layout.CameraVtable))
    Broken("a session camera without its class");
}

}  // namespace pathlight::fuzzing
