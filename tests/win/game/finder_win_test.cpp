// The finder's full scan over this very process (under Wine): objects planted in private
// read-write memory are found at their addresses, read-only, mapped and image memory is passed
// over, a region decommitted between the question and the read ends that region softly, and the
// scan never finds its own copies of the words it compares (its buffer, its stack).
#include "game/finder_win.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/fault_guard_win.hpp"

namespace pathlight {
namespace {

constexpr std::size_t kRegionBytes = 1 << 20;

// The class tables are the addresses of these words in our own image; nothing in the process
// holds such addresses unless the test puts them there.
const std::uint64_t kTables[4] = {1, 2, 3, 4};
// An image copy of a table word: image memory is never scanned.
std::uint64_t g_imageCopy = 0;

std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

GameLayout& TestLayout() {
  static GameLayout layout = [] {
    GameLayout l;
    const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    l.ImageBase = Address(base);
    l.ImageSize = nt->OptionalHeader.SizeOfImage;
    l.IconVtable = Address(&kTables[0]);
    l.MinimapVtable = Address(&kTables[1]);
    l.WorldMapVtable = Address(&kTables[2]);
    l.CameraVtable = Address(&kTables[3]);
    return l;
  }();
  return layout;
}

struct Allocation {
  explicit Allocation(DWORD protect = PAGE_READWRITE)
      : base(static_cast<std::uint8_t*>(VirtualAlloc(nullptr, kRegionBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))),
        protect(protect) {}
  ~Allocation() { VirtualFree(base, 0, MEM_RELEASE); }
  void Plant(std::size_t offset, std::uint64_t table) const { std::memcpy(base + offset, &table, 8); }
  void Seal() const {
    DWORD old;
    if (protect != PAGE_READWRITE) VirtualProtect(base, kRegionBytes, protect, &old);
  }
  std::uint64_t At(std::size_t offset) const { return Address(base) + offset; }
  std::uint8_t* base;
  DWORD protect;
};

struct ScanFixture {
  PublishedGamePointers pointers;
  Finder MakeFinder(RegionQuery& regions) {
    return Finder({GuardedMemory(), regions, [] { return static_cast<std::uint32_t>(GetTickCount()); }, [] {}},
                  TestLayout(), pointers);
  }
};

std::vector<std::uint64_t> Sorted(std::vector<std::uint64_t> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(FinderWin, FullScanFindsPlantedObjectsOnlyInPrivateReadWriteMemory) {
  const GameLayout& layout = TestLayout();
  Allocation heap, readOnly(PAGE_READONLY), executable(PAGE_EXECUTE_READWRITE);
  heap.Plant(0x1000, layout.IconVtable);
  heap.Plant(0x2008, layout.MinimapVtable);
  heap.Plant(0x3010, layout.WorldMapVtable);
  heap.Plant(0xFFFF8, layout.IconVtable);  // the region's last word
  heap.Plant(0x4000, layout.CameraVtable);
  readOnly.Plant(0x1000, layout.IconVtable);
  readOnly.Seal();
  executable.Plant(0x1000, layout.IconVtable);
  executable.Seal();
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRegionBytes, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<std::uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kRegionBytes));
  ASSERT_NE(view, nullptr);
  std::memcpy(view + 0x1000, &layout.IconVtable, 8);
  g_imageCopy = layout.IconVtable;
  // A copy on this thread's stack, as the checks leave them there.
  volatile std::uint64_t onStack = layout.MinimapVtable;
  (void)onStack;

  ScanFixture fixture;
  Finder finder = fixture.MakeFinder(WritableRegions());
  for (int pass = 0; pass < 2; ++pass) {  // the second pass would see what the first left behind
    ScanResults results;
    finder.FullScan(results);
    EXPECT_EQ(Sorted(results.icons), (std::vector<std::uint64_t>{heap.At(0x1000), heap.At(0xFFFF8)})) << pass;
    EXPECT_EQ(results.minimapRoots, (std::vector<std::uint64_t>{heap.At(0x2008)})) << pass;
    EXPECT_EQ(results.worldMaps, (std::vector<std::uint64_t>{heap.At(0x3010)})) << pass;
    EXPECT_EQ(results.cameraManagers, (std::vector<std::uint64_t>{heap.At(0x4000)})) << pass;
    ASSERT_EQ(finder.IconRegions().size(), 1u);
    EXPECT_EQ(finder.IconRegions()[0].base, heap.At(0));
    EXPECT_EQ(finder.IconRegions()[0].size, kRegionBytes);
  }
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

TEST(FinderWin, ScanBufferIsNeverScannedAndIsWipedAfterEachScan) {
  const GameLayout& layout = TestLayout();
  Allocation heap;
  heap.Plant(0x1000, layout.IconVtable);
  ScanFixture fixture;
  Finder finder = fixture.MakeFinder(WritableRegions());
  ScanResults results;
  finder.ScanWords(heap.At(0x1000), 8, results);  // the buffer's first word now holds the table
  EXPECT_EQ(results.icons, (std::vector<std::uint64_t>{heap.At(0x1000)}));
  ScanResults own;
  finder.ScanWords(finder.ScanBufferAddress(), finder.ScanBufferBytes(), own);
  EXPECT_TRUE(own.icons.empty());
  // Around the buffer the range is scanned as usual.
  const std::uint64_t before = finder.ScanBufferAddress() - 8;
  finder.ScanWords(before, finder.ScanBufferBytes() + 16, own);
  EXPECT_TRUE(own.icons.empty());
  (void)finder.ScanRange(heap.At(0), 0x2000, results);
  std::uint64_t first = 1;
  ASSERT_TRUE(GuardedMemory().ReadValue(finder.ScanBufferAddress(), first));
  EXPECT_EQ(first, 0u);
}

// Answers as VirtualQuery does, but decommits the second half of one region just after saying it
// is committed: the game freeing memory under the scan.
class DecommittingRegions final : public RegionQuery {
 public:
  explicit DecommittingRegions(std::uint8_t* victim) : victim_(victim) {}
  bool RegionAt(std::uint64_t address, MemoryRegion& region) override {
    if (!WritableRegions().RegionAt(address, region)) return false;
    if (region.base == Address(victim_) && region.scannable && !done_) {
      VirtualFree(victim_ + kRegionBytes / 2, kRegionBytes / 2, MEM_DECOMMIT);
      done_ = true;
    }
    return true;
  }
  bool done_ = false;

 private:
  std::uint8_t* victim_;
};

TEST(FinderWin, RegionDecommittedBetweenQueryAndReadEndsThatRegionOnly) {
  const GameLayout& layout = TestLayout();
  Allocation victim, after;
  victim.Plant(0x100, layout.IconVtable);
  victim.Plant(kRegionBytes / 2 + 0x100, layout.IconVtable);
  after.Plant(0x200, layout.IconVtable);
  DecommittingRegions regions(victim.base);
  ScanFixture fixture;
  Finder finder = fixture.MakeFinder(regions);
  ScanResults results;
  finder.FullScan(results);
  EXPECT_TRUE(regions.done_);
  EXPECT_EQ(Sorted(results.icons), Sorted({victim.At(0x100), after.At(0x200)}));
  // The chunk re-scan of a range that is gone entirely finds nothing and reads nothing.
  VirtualFree(after.base, kRegionBytes, MEM_DECOMMIT);
  ScanResults again;
  EXPECT_EQ(finder.ScanRange(after.At(0), 0x10000, again), 0u);
  EXPECT_TRUE(again.icons.empty());
}

}  // namespace
}  // namespace pathlight
