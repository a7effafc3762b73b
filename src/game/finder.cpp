// Sections: scanning, map objects and direct reads, the tick (its schedule in
// game/scan_schedule.cpp, the waypoint choice in game/waypoint_choice.cpp).
#include "game/finder.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/bytes.hpp"
#include "platform/log.hpp"

namespace pathlight {

namespace {

constexpr std::uint32_t kSleepDirect = 100;
constexpr std::uint32_t kSleepNoWaypoint = 250;
constexpr std::uint32_t kSleepScanning = 1000;

constexpr std::uint64_t kDirectTableBytes = 2048;
constexpr std::uint64_t kDirectEntryBytes = 24;

void* AsPointer(std::uint64_t address) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)); }

std::uint64_t StackAddress() { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); }

// The scratch starts on a page boundary, as the pieces of a full scan do: `rep movsb` copies several
// times slower on some processors for some placements of its destination against its source (a
// scratch 16 bytes past a 64-byte boundary made the whole scan five times slower).
constexpr std::size_t kScratchAlignment = 4096;

std::uint64_t* AlignUp(std::uint64_t* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<std::uint64_t*>((at + kScratchAlignment - 1) & ~std::uintptr_t{kScratchAlignment - 1});
}

// The full test of one word: only words pointing into the image can be class tables.
void CompareWord(const GameLayout& layout, std::uint64_t address, std::uint64_t w, ScanResults& results) {
  if (w - layout.ImageBase >= layout.ImageSize) return;
  if (w == layout.IconVtable) {
    results.icons.push_back(address);
  } else if (w == layout.MinimapVtable) {
    results.minimapRoots.push_back(address);
  } else if (w == layout.WorldMapVtable) {
    results.worldMaps.push_back(address);
  } else if (layout.CameraVtable != 0 && w == layout.CameraVtable) {
    results.cameraManagers.push_back(address);
  }
}

constexpr std::size_t kGroupWords = 8;

#if defined(__SSE2__)
// Whether any of the eight words at `words` points into the image, without a branch per word. The
// image is smaller than 4 GB, so w - ImageBase is below ImageSize exactly when its high half is
// zero and its low half, compared unsigned (signed after flipping the top bit), is below.
struct ImageRangeTest {
  explicit ImageRangeTest(const GameLayout& layout)
      : base(_mm_set1_epi64x(static_cast<long long>(layout.ImageBase))),
        flip(_mm_set1_epi64x(0x80000000)),
        limit(_mm_set1_epi64x(static_cast<long long>(layout.ImageSize ^ 0x80000000))) {}
  [[nodiscard]] __m128i Inside(const std::uint64_t* two) const {
    const __m128i offset = _mm_sub_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(two)), base);
    const __m128i lowBelow = _mm_cmpgt_epi32(limit, _mm_xor_si128(offset, flip));
    const __m128i highZero = _mm_srli_epi64(_mm_cmpeq_epi32(offset, _mm_setzero_si128()), 32);
    return _mm_and_si128(lowBelow, highZero);
  }
  // Asks for the line at `address` in the cache. A hint, never a read: it cannot fault, touches no
  // guard page, and is dropped when nothing is mapped there.
  static void Prefetch(std::uint64_t address) {
    _mm_prefetch(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(address)), _MM_HINT_T0);
  }
  [[nodiscard]] bool AnyOfEight(const std::uint64_t* words) const {
    const __m128i any = _mm_or_si128(_mm_or_si128(Inside(words), Inside(words + 2)),
                                     _mm_or_si128(Inside(words + 4), Inside(words + 6)));
    return _mm_movemask_epi8(any) != 0;
  }
  __m128i base, flip, limit;
};
#else
struct ImageRangeTest {
  explicit ImageRangeTest(const GameLayout& layout) : base(layout.ImageBase), size(layout.ImageSize) {}
  static void Prefetch(std::uint64_t) {}
  [[nodiscard]] bool AnyOfEight(const std::uint64_t* words) const {
    bool any = false;
    for (std::size_t k = 0; k < kGroupWords; ++k) any |= words[k] - base < size;
    return any;
  }
  std::uint64_t base, size;
};
#endif

// Compares the whole words of each piece of a scan with the class tables, in their order. Nearly
// every word points nowhere near the image, so the words go eight at a time through the range test
// and only a group with a word inside it is looked at word by word. Each group asks for the game's
// line one piece further on, so that the copy of the next piece finds it in the cache instead of
// waiting for memory while nothing else runs.
class WordComparer final : public GameMemory::PieceVisitor {
 public:
  WordComparer(const GameLayout& layout, ScanResults& results) : layout_(layout), test_(layout), results_(results) {}

  void Piece(std::uint64_t address, const void* bytes, std::size_t size) override {
    const auto* words = static_cast<const std::uint64_t*>(bytes);
    const std::size_t count = size / 8;
    std::size_t i = 0;
    if (layout_.ImageSize <= 0xFFFFFFFFu) {
      const std::uint64_t ahead = address + size;
      for (; i + kGroupWords <= count; i += kGroupWords) {
        ImageRangeTest::Prefetch(ahead + i * 8);
        if (!test_.AnyOfEight(words + i)) continue;
        for (std::size_t k = i; k < i + kGroupWords; ++k) CompareWord(layout_, address + k * 8, words[k], results_);
      }
    }
    for (; i < count; ++i) CompareWord(layout_, address + i * 8, words[i], results_);
  }

 private:
  const GameLayout& layout_;
  const ImageRangeTest test_;
  ScanResults& results_;
};

}  // namespace

std::vector<std::uint64_t> BuildChunks(const std::vector<std::uint64_t>& icons) {
  std::vector<std::uint64_t> chunks;
  chunks.reserve(icons.size() * 3);
  for (const std::uint64_t icon : icons) {
    const std::uint64_t chunk = icon & ~(kChunkSize - 1);
    chunks.push_back(chunk - kChunkSize);
    chunks.push_back(chunk);
    chunks.push_back(chunk + kChunkSize);
  }
  std::sort(chunks.begin(), chunks.end());
  chunks.erase(std::unique(chunks.begin(), chunks.end()), chunks.end());
  return chunks;
}

Finder::Finder(Services services, const GameLayout& layout, PublishedGamePointers& pointers, std::size_t blockBytes)
    : memory_(services.memory),
      regions_(services.regions),
      tickCount_(std::move(services.tickCount)),
      lowerPriority_(std::move(services.lowerPriority)),
      layout_(layout),
      pointers_(pointers),
      scratchWords_(std::max<std::size_t>(std::min(blockBytes, kScanPieceBytes) / 8, 1)),
      buffer_(scratchWords_ + kScratchAlignment / 8 - 1, 0),
      scratch_(AlignUp(buffer_.data())),
      blockBytes_(std::max<std::size_t>(blockBytes / 8, 1) * 8) {}

// ---- scanning ---------------------------------------------------------------------------------

void Finder::ScanBlocks(std::uint64_t start, std::uint64_t end, ScanResults& results) {
  WordComparer compare(layout_, results);
  const std::size_t scratchBytes = scratchWords_ * 8;
  for (std::uint64_t at = start; at < end;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, blockBytes_));
    const std::size_t got = memory_.ReadPieces(at, want, scratch_, scratchBytes, compare);
    bufferUsed_ = std::max(bufferUsed_, (std::min(got, scratchBytes) + 7) / 8);
    if (got < want) return;  // a fault ends the range; what was found stays
    at += want;
  }
}

void Finder::ScanWords(std::uint64_t start, std::uint64_t size, ScanResults& results) {
  const std::uint64_t end = start + size < start ? ~std::uint64_t{0} : start + size;
  // Our own buffer is cut out of the range: it holds copies of the words just compared.
  const std::uint64_t bufferStart = ScanBufferAddress();
  const std::uint64_t bufferEnd = bufferStart + ScanBufferBytes();
  if (bufferEnd <= start || bufferStart >= end) {
    ScanBlocks(start, end, results);
    return;
  }
  if (start < bufferStart) ScanBlocks(start, bufferStart, results);
  if (bufferEnd < end) ScanBlocks(bufferEnd, end, results);
}

bool Finder::IsOwnStack(const MemoryRegion& region) const { return stackMarker_ - region.base < region.size; }

void Finder::WipeBuffer() {
  std::fill_n(scratch_, bufferUsed_, 0);
  bufferUsed_ = 0;
}

void Finder::ScanRegionPart(const MemoryRegion& region, std::uint64_t start, std::uint64_t end, ScanResults& results) {
  if (!region.scannable || IsOwnStack(region)) return;
  ScanWords(start, end - start, results);
}

std::uint64_t Finder::ScanRange(std::uint64_t start, std::uint64_t size, ScanResults& results) {
  stackMarker_ = StackAddress();
  const std::uint64_t end = start + size;
  std::uint64_t total = 0;
  for (std::uint64_t at = start; at < end;) {
    MemoryRegion region;
    if (!regions_.RegionAt(at, region) || region.size == 0) break;
    const std::uint64_t regionEnd = region.base + region.size;
    const std::uint64_t partStart = std::max(region.base, start);
    const std::uint64_t partEnd = std::min(regionEnd, end);
    if (region.scannable && partStart < partEnd) {
      ScanRegionPart(region, partStart, partEnd, results);
      total += partEnd - partStart;
    }
    if (regionEnd >= end || regionEnd <= at) break;
    at = regionEnd;
  }
  WipeBuffer();
  return total;
}

void Finder::FullScan(ScanResults& results) {
  stackMarker_ = StackAddress();
  iconRegions_.clear();
  const std::uint32_t started = tickCount_();
  std::uint64_t total = 0;
  for (std::uint64_t at = kLowestUserAddress; at <= kHighestUserAddress;) {
    MemoryRegion region;
    if (!regions_.RegionAt(at, region) || region.size == 0) break;
    if (region.scannable) {
      const std::size_t iconsBefore = results.icons.size();
      ScanRegionPart(region, region.base, region.base + region.size, results);
      total += region.size;
      if (results.icons.size() > iconsBefore) iconRegions_.push_back({region.base, region.size});
    }
    const std::uint64_t next = region.base + region.size;
    if (next <= at) break;
    at = next;
  }
  WipeBuffer();
  iconChunks_ = BuildChunks(results.icons);
  std::uint64_t iconBytes = 0;
  for (const IconRegion& r : iconRegions_) iconBytes += r.size;
  Log("Finder: full scan %zu MB in %lu ms: minimap=%zu worldmap=%zu icons=%zu in %zu regions (%zu MB), %zu chunks",
      static_cast<std::size_t>(total >> 20), static_cast<unsigned long>(tickCount_() - started),
      results.minimapRoots.size(), results.worldMaps.size(), results.icons.size(), iconRegions_.size(),
      static_cast<std::size_t>(iconBytes >> 20), iconChunks_.size());
}

// ---- map objects and direct reads -------------------------------------------------------------

void Finder::ChooseMapObjects(const ScanResults& results) {
  if (!results.minimapRoots.empty()) {
    std::uint64_t chosen = results.minimapRoots.front();
    bool hasPlayer = false;
    for (const std::uint64_t root : results.minimapRoots) {
      if (MinimapHasPlayer(memory_, layout_, offsets_, root)) {
        chosen = root;
        hasPlayer = true;
        break;
      }
    }
    if (pointers_.MinimapRoot.exchange(chosen) != chosen && results.minimapRoots.size() >= 2) {
      Log("Finder: %zu minimap roots, using %p (%s)", results.minimapRoots.size(), AsPointer(chosen),
          hasPlayer ? "has the player" : "none has a player yet");
    }
  }
  if (!results.worldMaps.empty()) {
    pointers_.WorldMapObject.exchange(results.worldMaps.front());
    for (std::size_t k = 0; k < pointers_.WorldMapCandidates.size(); ++k) {
      pointers_.WorldMapCandidates[k].exchange(k < results.worldMaps.size() ? results.worldMaps[k] : 0);
    }
  }
}

std::uint64_t Finder::ReadWaypointDirect(std::uint32_t pathOffset) {
  const std::uint64_t root = pointers_.MinimapRoot.load();
  if (!HasVtable(memory_, root, layout_.MinimapVtable)) return 0;
  std::uint64_t table = 0;
  if (!memory_.ReadValue(root + pathOffset, table) || !IsPlausiblePointer(table)) return 0;
  // One read of the whole table; entries in an unreadable tail would fault, which ends the walk.
  std::uint8_t bytes[kDirectTableBytes];
  const std::size_t got = memory_.ReadSome(table, bytes, sizeof bytes);
  for (std::uint64_t i = 0; i + kDirectEntryBytes <= got; i += 8) {
    const auto key = LoadLittle<std::uint64_t>(bytes + i);
    const auto array = LoadLittle<std::uint64_t>(bytes + i + 8);
    const auto count = LoadLittle<std::uint32_t>(bytes + i + 16);
    const auto capacity = LoadLittle<std::uint32_t>(bytes + i + 20);
    if (key != offsets_.waypointCategory || !IsPlausiblePointer(array) || count < 1 || count > 64 || capacity < count ||
        capacity > 4096) {
      continue;
    }
    for (std::uint32_t j = 0; j < count; ++j) {
      std::uint64_t icon = 0;
      if (!memory_.ReadValue(array + 8ull * j, icon)) return 0;
      IconPosition position;
      if (IsPlausiblePointer(icon) && ReadIconPosition(memory_, layout_, offsets_, icon, position)) return icon;
    }
  }
  return 0;
}

std::uint64_t Finder::CameraFromSession() {
  std::uint64_t session = 0;
  if (!memory_.ReadValue(layout_.SessionGlobal, session) || !IsPlausiblePointer(session)) return 0;
  std::uint64_t camera = 0;
  if (!memory_.ReadValue(session + offsets_.sessionCamera, camera)) return 0;
  return HasVtable(memory_, camera, layout_.CameraVtable) ? camera : 0;
}

// ---- the tick ---------------------------------------------------------------------------------

std::vector<WaypointCandidate> Finder::Candidates(const std::vector<std::uint64_t>& icons) {
  std::vector<WaypointCandidate> candidates;
  for (const std::uint64_t icon : icons) {
    IconPosition position;
    if (ReadIconPosition(memory_, layout_, offsets_, icon, position)) candidates.push_back({icon, position});
  }
  return candidates;
}

// The direct waypoint read; 0 when the tick must go on to the scanning steps.
std::uint32_t Finder::TickDirect(std::uint64_t root) {
  for (std::int32_t k = 0; k < 2; ++k) {
    const std::uint64_t icon = ReadWaypointDirect(kDirectPathOffsets[k]);
    if (icon == 0) continue;
    if (icon != pointers_.WaypointIcon.load() || k != directPath_) {
      IconPosition position;
      (void)ReadIconPosition(memory_, layout_, offsets_, icon, position);
      Log("Finder: waypoint icon %p at (%.1f, %.1f) read directly (path %d)", AsPointer(icon), position.x, position.z,
          k);
      directPath_ = k;
    }
    pointers_.WaypointIcon.exchange(icon);
    directReadWorked_ = true;
    return kSleepDirect;
  }
  const bool hasPlayer = MinimapHasPlayer(memory_, layout_, offsets_, root);
  if (directPath_ >= 0) {
    Log("Finder: no waypoint%s", directReadWorked_ && hasPlayer ? "" : "; searching");
    directPath_ = -1;
  }
  if (directReadWorked_ && hasPlayer) {
    pointers_.WaypointIcon.exchange(0);
    return kSleepNoWaypoint;
  }
  return 0;
}

std::uint32_t Finder::Tick(const Settings& settings) {
  if (!settings.debug.scan) return kSleepScanning;
  offsets_ = settings.offsets;

  if (layout_.SessionGlobal != 0 && layout_.CameraVtable != 0 &&
      !HasVtable(memory_, pointers_.CameraManagerObject.load(), layout_.CameraVtable)) {
    const std::uint64_t camera = CameraFromSession();
    if (camera != 0) {
      pointers_.CameraManagerObject.exchange(camera);
      Log("Finder: camera manager %p (session)", AsPointer(camera));
    }
  }

  const std::uint64_t root = pointers_.MinimapRoot.load();
  if (HasVtable(memory_, root, layout_.MinimapVtable)) {
    if (const std::uint32_t sleep = TickDirect(root); sleep != 0) return sleep;
  }

  if (!priorityLowered_) {
    lowerPriority_();
    priorityLowered_ = true;
  }

  ScanResults results;
  const bool playerShown = MinimapHasPlayer(memory_, layout_, offsets_, pointers_.MinimapRoot.load()) &&
                           HasVtable(memory_, pointers_.WorldMapObject.load(), layout_.WorldMapVtable);
  bool mapOpen = false;
  if (playerShown) {
    for (const auto& candidate : pointers_.WorldMapCandidates) {
      if (WorldMapIsOpen(memory_, layout_, offsets_, candidate.load())) {
        mapOpen = true;
        break;
      }
    }
  }
  const bool cameraMissing = playerShown && !iconRegions_.empty() && layout_.CameraVtable != 0 &&
                             !HasVtable(memory_, pointers_.CameraManagerObject.load(), layout_.CameraVtable);

  const std::uint32_t now = tickCount_();
  switch (schedule_.First(playerShown, mapOpen, !iconRegions_.empty(), cameraMissing, now)) {
    case ScanSchedule::Step::kNothing: return kSleepScanning;
    case ScanSchedule::Step::kChunks:
      for (const std::uint64_t chunk : iconChunks_) (void)ScanRange(chunk, kChunkSize, results);
      break;
    case ScanSchedule::Step::kFullScanForCamera:
      FullScan(results);
      if (!results.cameraManagers.empty()) {
        pointers_.CameraManagerObject.exchange(results.cameraManagers.front());
        Log("Finder: camera manager %p", AsPointer(results.cameraManagers.front()));
      }
      break;
    case ScanSchedule::Step::kFullScanForMinimap:
      FullScan(results);
      ChooseMapObjects(results);
      if (!results.cameraManagers.empty()) pointers_.CameraManagerObject.exchange(results.cameraManagers.front());
      break;
  }

  std::vector<WaypointCandidate> candidates = Candidates(results.icons);

  if (schedule_.RegionScanDue(playerShown, !iconRegions_.empty(), !candidates.empty(), now)) {
    results = {};
    const std::uint32_t started = tickCount_();
    std::uint64_t total = 0;
    for (const IconRegion& region : iconRegions_) total += ScanRange(region.base, region.size, results);
    if (!results.icons.empty()) iconChunks_ = BuildChunks(results.icons);
    Log("Finder: region scan %zu MB in %lu ms: icons=%zu, %zu chunks", static_cast<std::size_t>(total >> 20),
        static_cast<unsigned long>(tickCount_() - started), results.icons.size(), iconChunks_.size());
    if (results.icons.empty()) iconRegions_.clear();
    candidates = Candidates(results.icons);
    schedule_.RegionScanDone(!candidates.empty());
  }

  if (schedule_.FallbackScanDue(playerShown, !candidates.empty(), now)) {
    results = {};
    FullScan(results);
    candidates = Candidates(results.icons);
  }

  const std::uint64_t current = pointers_.WaypointIcon.load();
  WaypointChoice choice = ChooseWaypoint(std::move(candidates), seenIcons_, current);
  if (choice.icon != current) {
    IconPosition position;
    if (choice.icon != 0 && ReadIconPosition(memory_, layout_, offsets_, choice.icon, position)) {
      Log("Finder: waypoint icon %p at (%.1f, %.1f), %zu candidates", AsPointer(choice.icon), position.x, position.z,
          choice.candidates);
    } else {
      Log("Finder: no waypoint");
    }
    pointers_.WaypointIcon.exchange(choice.icon);
  }
  seenIcons_ = std::move(choice.seen);
  return kSleepScanning;
}

}  // namespace pathlight
