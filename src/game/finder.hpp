// The object finder: keeps the published game pointers (game/game_objects.hpp) current.
//
// A game object's first word is its class table, so scanning the process's private read-write
// memory for words equal to one of the class tables that the image scan found yields the objects
// of those classes. Once the minimap root is known the waypoint icon is read through a fixed path
// from it, and the heap scans stop. The finder thread calls Tick for ever and sleeps for what it
// returns (100, 250 or 1000 ms).
//
// The Finder holds the finder state and reaches the system through four narrow services: guarded
// reads (GameMemory), the region query, the tick count and the "lower my priority" call. The
// process has one Finder over the real services (game/finder_win.hpp); tests build their own.
// Everything here runs on the finder thread alone, except the published pointers, which the
// readers load from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "game/game_layout.hpp"
#include "game/game_objects.hpp"
#include "game/scan_schedule.hpp"
#include "game/waypoint_choice.hpp"
#include "platform/game_memory.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// One region of the address space as the OS describes it, from the queried address on.
struct MemoryRegion {
  std::uint64_t base = 0;
  std::uint64_t size = 0;
  bool scannable = false;  // committed, private and exactly read-write (no guard, no execute)
};

class RegionQuery {
 public:
  virtual ~RegionQuery() = default;
  // The region holding `address`, from the page of `address` to the region's end; false when the
  // address lies beyond what the OS can describe.
  [[nodiscard]] virtual bool RegionAt(std::uint64_t address, MemoryRegion& region) = 0;
};

// Objects found by one scan, by address, in the order their words were met.
struct ScanResults {
  std::vector<std::uint64_t> minimapRoots{};
  std::vector<std::uint64_t> worldMaps{};
  std::vector<std::uint64_t> icons{};
  std::vector<std::uint64_t> cameraManagers{};
};

struct IconRegion {
  std::uint64_t base = 0;
  std::uint64_t size = 0;
  friend bool operator==(const IconRegion&, const IconRegion&) = default;
};

inline constexpr std::uint64_t kChunkSize = 0x10000;

// Each guarded read first asks the OS about the range, which costs microseconds under Wine; blocks
// of a megabyte make that negligible. A block is copied in pieces small enough for the first-level
// cache, each compared there before the next is copied, so the game's memory is read once and the
// copy is never read back from farther away (a full scan then runs about as fast as a plain
// summing read of the same memory).
inline constexpr std::size_t kScanBlockBytes = 1024 << 10;
inline constexpr std::size_t kScanPieceBytes = 16 << 10;

// The 64 KB chunks around each icon (its own and both neighbours), ascending, each once.
[[nodiscard]] std::vector<std::uint64_t> BuildChunks(const std::vector<std::uint64_t>& icons);

// The two direct paths from the minimap root to the waypoint icon table, in the order tried.
inline constexpr std::uint32_t kDirectPathOffsets[2] = {584, 568};

class Finder {
 public:
  struct Services {
    GameMemory& memory;
    RegionQuery& regions;
    std::function<std::uint32_t()> tickCount;
    std::function<void()> lowerPriority;
  };

  // `layout` and `pointers` are the process-wide records in the DLL; the Finder keeps references.
  // `blockBytes`: how much one guarded read of a scan covers (smaller only in tests); it is copied
  // in pieces of at most kScanPieceBytes.
  Finder(Services services, const GameLayout& layout, PublishedGamePointers& pointers,
         std::size_t blockBytes = kScanBlockBytes);
  Finder(const Finder&) = delete;
  Finder& operator=(const Finder&) = delete;

  // One step of the finder with the settings in force for it; returns the milliseconds to sleep
  // before the next.
  [[nodiscard]] std::uint32_t Tick(const Settings& settings);

  // The scanning steps, public for the tests and the benchmark.
  void ScanWords(std::uint64_t start, std::uint64_t size, ScanResults& results);
  std::uint64_t ScanRange(std::uint64_t start, std::uint64_t size, ScanResults& results);
  void FullScan(ScanResults& results);
  void ChooseMapObjects(const ScanResults& results);
  [[nodiscard]] std::uint64_t ReadWaypointDirect(std::uint32_t pathOffset);
  [[nodiscard]] std::uint64_t CameraFromSession();

  [[nodiscard]] const std::vector<IconRegion>& IconRegions() const { return iconRegions_; }
  [[nodiscard]] const std::vector<std::uint64_t>& IconChunks() const { return iconChunks_; }
  [[nodiscard]] const std::vector<std::uint64_t>& SeenIcons() const { return seenIcons_; }
  [[nodiscard]] std::int32_t DirectPath() const { return directPath_; }
  [[nodiscard]] bool DirectReadWorked() const { return directReadWorked_; }
  [[nodiscard]] std::uint32_t RegionScanInterval() const { return schedule_.RegionScanInterval(); }
  // Where the scan buffer lies, so the tests can show that it is never scanned.
  [[nodiscard]] std::uint64_t ScanBufferAddress() const { return reinterpret_cast<std::uintptr_t>(scratch_); }
  [[nodiscard]] std::uint64_t ScanBufferBytes() const { return scratchWords_ * 8; }

 private:
  void ScanBlocks(std::uint64_t start, std::uint64_t end, ScanResults& results);
  void ScanRegionPart(const MemoryRegion& region, std::uint64_t start, std::uint64_t end, ScanResults& results);
  [[nodiscard]] bool IsOwnStack(const MemoryRegion& region) const;
  void WipeBuffer();
  [[nodiscard]] std::vector<WaypointCandidate> Candidates(const std::vector<std::uint64_t>& icons);
  [[nodiscard]] std::uint32_t TickDirect(std::uint64_t root);

  GameMemory& memory_;
  RegionQuery& regions_;
  std::function<std::uint32_t()> tickCount_;
  std::function<void()> lowerPriority_;
  const GameLayout& layout_;
  PublishedGamePointers& pointers_;
  GameOffsets offsets_;  // the last tick's copy of the settings' offsets (the defaults before one)

  // The pieces of scan blocks are copied to the scratch, page-aligned inside the buffer (the rest
  // of the buffer stays zero), and compared in place. The scratch's own bytes are never scanned
  // (they hold copies of game words), and what a scan left in it is wiped when the scan ends.
  std::size_t scratchWords_;
  std::vector<std::uint64_t> buffer_;
  std::uint64_t* scratch_;
  std::size_t blockBytes_;
  std::size_t bufferUsed_ = 0;  // high-water mark since the last wipe, in words
  // An address on the finder thread's stack during a scan: the stack is private read-write memory
  // too and holds copies of class-table words from the checks, so its region is never scanned.
  std::uint64_t stackMarker_ = 0;

  std::vector<IconRegion> iconRegions_;
  std::vector<std::uint64_t> iconChunks_;
  std::vector<std::uint64_t> seenIcons_;  // ascending
  std::int32_t directPath_ = -1;
  bool directReadWorked_ = false;
  bool priorityLowered_ = false;
  ScanSchedule schedule_;
};

}  // namespace pathlight
