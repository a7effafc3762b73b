// The finder's cost over this process's own memory: the full scan against a plain read of the same
// regions in the same run, and the steady-state tick on the direct path and on the chunk re-scan.
//
//   pathlight-bench-finder.exe [--megabytes N]   (default 2176: 17 regions of 128 MB)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_clock_win.hpp"
#include "bench_row.hpp"
#include "platform/fault_guard_win.hpp"
#include "game/finder_win.hpp"

using namespace pathlight;

namespace {

using bench::Now;

const std::uint64_t kTables[4] = {1, 2, 3, 4};

std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

template <typename T> void Put(std::uint8_t* at, T value) { std::memcpy(at, &value, sizeof value); }

// A clock that stands still: no time-driven region or fallback scan disturbs the steady state.
std::uint32_t FrozenClock() { return 500000; }

}  // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = 2176;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
  }
  constexpr std::size_t kRegionMb = 128;
  const std::size_t regionBytes = std::min(megabytes, kRegionMb) << 20;
  const std::size_t regionCount = std::max<std::size_t>(1, megabytes / kRegionMb);

  GameLayout layout;
  const auto* image = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
  layout.ImageBase = Address(image);
  layout.ImageSize =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew)
          ->OptionalHeader.SizeOfImage;
  layout.IconVtable = Address(&kTables[0]);
  layout.MinimapVtable = Address(&kTables[1]);
  layout.WorldMapVtable = Address(&kTables[2]);

  // Heap-like contents: pointers into the heap, small numbers and floats, none into the image.
  std::vector<std::uint8_t*> regions;
  for (std::size_t r = 0; r < regionCount; ++r) {
    auto* base =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, regionBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr) {
      std::printf("could not commit %zu MB\n", regionBytes >> 20);
      return 1;
    }
    auto* words = reinterpret_cast<std::uint64_t*>(base);
    for (std::size_t i = 0; i < regionBytes / 8; ++i) {
      words[i] = (i % 3 == 0) ? Address(base) + ((i * 2654435761u) % regionBytes & ~7ull)
                              : (i % 3 == 1 ? i & 0xFFFF : 0x3F80000042C80000ull);
    }
    regions.push_back(base);
  }
  const Settings settings;
  const GameOffsets& o = settings.offsets;
  // The game objects, in the middle of the first region: a minimap root showing the player, a
  // world map, a waypoint icon, and the root's direct table leading to the icon.
  std::uint8_t* objects = regions[0] + regionBytes / 2;
  std::uint8_t* root = objects;
  std::uint8_t* worldMap = objects + 0x1000;
  std::uint8_t* icon = objects + 0x2000;
  std::uint8_t* table = objects + 0x3000;
  std::uint8_t* array = objects + 0x4000;
  std::memset(objects, 0, 0x5000);
  Put(root, layout.MinimapVtable);
  Put(root + o.minimapPlayerPosition, 1500.0f);
  Put(root + o.minimapPlayerPosition + 8, -800.0f);
  Put(worldMap, layout.WorldMapVtable);
  Put(icon, layout.IconVtable);
  Put(icon + o.iconCategory, o.waypointCategory);
  Put<std::uint16_t>(icon + o.iconKind, static_cast<std::uint16_t>(o.waypointKind));
  Put(icon + o.iconLive, 1u);
  Put(icon + o.iconPosition, 120.0f);
  Put(icon + o.iconPosition + 8, 340.0f);
  Put<std::uint64_t>(table + 0x30, o.waypointCategory);
  Put(table + 0x38, Address(array));
  Put(table + 0x40, 1u);
  Put(table + 0x44, 4u);
  Put(array, Address(icon));

  // The regions the full scan reads, for the plain read of the same memory.
  std::vector<MemoryRegion> scannable;
  for (std::uint64_t at = kLowestUserAddress; at <= kHighestUserAddress;) {
    MemoryRegion region;
    if (!WritableRegions().RegionAt(at, region) || region.size == 0) break;
    if (region.scannable) scannable.push_back(region);
    at = region.base + region.size;
  }
  std::uint64_t total = 0;
  for (const MemoryRegion& region : scannable) total += region.size;

  constexpr int kPasses = 3;
  const auto best = [&](auto&& pass) { return bench::BestOf(kPasses, pass); };
  volatile std::uint64_t sink = 0;
  const double plainSum = best([&] {
    std::uint64_t sum = 0;
    for (const MemoryRegion& region : scannable) {
      const auto* words = reinterpret_cast<const std::uint64_t*>(region.base);
      for (std::size_t i = 0; i < region.size / 8; ++i) sum += words[i];
    }
    sink = sink + sum;
  });
  std::vector<std::uint8_t> block(256 << 10);
  const double plainCopy = best([&] {
    for (const MemoryRegion& region : scannable) {
      for (std::uint64_t at = 0; at < region.size; at += block.size()) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), region.size - at));
        std::memcpy(block.data(), reinterpret_cast<const void*>(region.base + at), n);
      }
      sink = sink + block[0];
    }
  });

  PublishedGamePointers scanPointers;
  Finder scanner({GuardedMemory(), WritableRegions(), &FrozenClock, [] {}}, layout, scanPointers);
  std::size_t found = 0;
  const double fullScan = best([&] {
    ScanResults results;
    scanner.FullScan(results);
    found = results.icons.size() + results.minimapRoots.size() + results.worldMaps.size();
  });
  const double mb = static_cast<double>(total) / (1 << 20);
  std::printf("full scan of %.0f MB in %zu regions: %.0f ms (%.0f MB/s), %zu objects found\n", mb, scannable.size(),
              fullScan * 1e3, mb / fullScan, found);
  std::printf(
      "  plain read of the same regions: summing loop %.0f ms (%.0f MB/s), memcpy by 256 KB %.0f ms (%.0f MB/s)\n",
      plainSum * 1e3, mb / plainSum, plainCopy * 1e3, mb / plainCopy);
  std::printf("  full scan / summing loop = %.2f, full scan / memcpy = %.2f\n", fullScan / plainSum,
              fullScan / plainCopy);
  char path[96];
  std::snprintf(path, sizeof path, "heap scan, %.0f MB in %zu regions", mb, scannable.size());
  bench::PrintBenchRow("finder.heap_scan", path, mb / fullScan, mb / plainSum, "MB/s",
                       "a summing loop over the same regions");

  // Chunk re-scan: a finder that found the map objects and the icon by scanning, with no direct
  // table on its root (the table is wiped for this part).
  std::memset(table, 0, 0x100);
  PublishedGamePointers chunkPointers;
  Finder chunks({GuardedMemory(), WritableRegions(), &FrozenClock, [] {}}, layout, chunkPointers);
  (void)chunks.Tick(settings);
  constexpr int kChunkTicks = 200;
  double begin = Now();
  for (int i = 0; i < kChunkTicks; ++i) (void)chunks.Tick(settings);
  const double chunkTick = (Now() - begin) / kChunkTicks;
  std::printf("chunk re-scan tick: %.1f us (%zu chunks of 64 KB), waypoint %s\n", chunkTick * 1e6,
              chunks.IconChunks().size(), chunkPointers.WaypointIcon.load() == Address(icon) ? "found" : "MISSING");

  // Direct path: the root's table leads to the icon; no scanning at all.
  Put<std::uint64_t>(table + 0x30, o.waypointCategory);
  Put(table + 0x38, Address(array));
  Put(table + 0x40, 1u);
  Put(table + 0x44, 4u);
  Put(root + kDirectPathOffsets[0], Address(table));
  PublishedGamePointers directPointers;
  directPointers.MinimapRoot.exchange(Address(root));
  Finder direct({GuardedMemory(), WritableRegions(), &FrozenClock, [] {}}, layout, directPointers);
  std::uint32_t sleep = direct.Tick(settings);
  constexpr int kDirectTicks = 20000;
  begin = Now();
  for (int i = 0; i < kDirectTicks; ++i) sleep = direct.Tick(settings);
  const double directTick = (Now() - begin) / kDirectTicks;
  std::printf("direct-path tick: %.2f us (sleep %u ms), waypoint %s\n", directTick * 1e6, sleep,
              directPointers.WaypointIcon.load() == Address(icon) ? "found" : "MISSING");

  for (std::uint8_t* base : regions) VirtualFree(base, 0, MEM_RELEASE);
  return found >= 3 && directPointers.WaypointIcon.load() == Address(icon) ? 0 : 1;
}
