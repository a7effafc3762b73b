// The start-up scan of the game's executable image: class tables through the Microsoft x64
// run-time type information, and a few globals through code patterns. Everything here works on
// the image's bytes as they lie mapped (in the DLL the main module in place, in tests a byte
// buffer), so the searches are the same code in both builds.
//
// The image is read without a fault guard: every search stays inside the image's sections, every
// address taken from the image's own data (class-table slots, call and jump targets) is checked
// to lie inside the image before a byte behind it is read, and the parts of the image the OS
// reports unreadable (see MappedImage) are never touched.
//
// Single-threaded: GameInit runs once, on the init thread, before the worker threads exist.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "game/game_layout.hpp"

namespace pathlight {

// A range of addresses [start, end).
struct AddressRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// The mapped image: byte i of `bytes` lies at address base + i. `unreadable` lists the parts of
// it that must not be touched (pages that are not committed, not readable or guard pages, which
// packers and anti-tamper layers leave in an image), in ascending order; the scan treats them as
// if they were not part of the image.
class MappedImage {
 public:
  MappedImage(std::uint64_t base, std::span<const std::byte> bytes, std::vector<AddressRange> unreadable = {})
      : base_(base), bytes_(bytes), unreadable_(std::move(unreadable)) {}

  [[nodiscard]] std::uint64_t Base() const { return base_; }
  [[nodiscard]] std::uint64_t End() const { return base_ + bytes_.size(); }
  // True when [address, address + length) lies inside the image and may be read.
  [[nodiscard]] bool Contains(std::uint64_t address, std::uint64_t length = 1) const {
    return address >= base_ && address - base_ <= bytes_.size() && length <= bytes_.size() - (address - base_) &&
           ReadableEnd(address) - address >= length;
  }
  // Where the readable stretch that holds `address` ends: the next unreadable part or the end
  // of the image.
  [[nodiscard]] std::uint64_t ReadableEnd(std::uint64_t address) const;
  // The first address at or after `address` that is not in an unreadable part.
  [[nodiscard]] std::uint64_t NextReadable(std::uint64_t address) const;
  // Reads at an address the caller has checked with Contains.
  [[nodiscard]] const std::uint8_t* At(std::uint64_t address) const {
    return reinterpret_cast<const std::uint8_t*>(bytes_.data()) + (address - base_);
  }
  [[nodiscard]] std::uint8_t U8(std::uint64_t address) const { return *At(address); }
  [[nodiscard]] std::uint32_t U32(std::uint64_t address) const;
  [[nodiscard]] std::int32_t I32(std::uint64_t address) const { return static_cast<std::int32_t>(U32(address)); }
  [[nodiscard]] std::uint64_t U64(std::uint64_t address) const;

 private:
  std::uint64_t base_;
  std::span<const std::byte> bytes_;
  std::vector<AddressRange> unreadable_;
};

// SizeOfImage from the PE headers at the start of `headers` (0 when they are not readable as
// such). The DLL uses it to learn how far its view of the main module may reach.
[[nodiscard]] std::uint32_t ImageSizeFromHeaders(std::span<const std::byte> headers);

struct ImageSection {
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  bool executable = false;
};

// The readable sections in header order, each cut to the image's bytes; a section with unreadable
// parts comes as its readable pieces, in order.
[[nodiscard]] std::vector<ImageSection> ListImageSections(const MappedImage& image);

// The class table (its first slot) of the class with this decorated name, or 0.
[[nodiscard]] std::uint64_t FindVtable(const MappedImage& image, std::string_view decoratedName);

// What class-table lookups need from the whole image, gathered once: where decorated names may
// begin, the complete object locators of complete objects (offset 0, own self RVA) section by
// section, and the first word that refers to each. Looking up several classes then passes over
// the image three times in all rather than three times per class, with the same results as
// FindVtable. Valid while the image is.
class RttiIndex {
 public:
  explicit RttiIndex(const MappedImage& image);
  [[nodiscard]] std::uint64_t FindVtable(std::string_view decoratedName) const;

 private:
  std::uint64_t ClassTableNamed(std::uint64_t name) const;
  std::uint64_t FirstReference(std::uint64_t locator) const;

  const MappedImage& image_;
  std::vector<ImageSection> sections_;
  std::vector<std::vector<std::uint64_t>> names_;     // per section: where ".?" stands
  std::vector<std::vector<std::uint64_t>> locators_;  // per section, ascending
  std::vector<std::uint64_t> locatorAddresses_;       // all locators, sorted
  std::vector<std::uint64_t> references_;             // per locatorAddresses_ entry; 0 for none
};

inline constexpr std::size_t kSiteTableEntries = 4096;

// Counts the code sites that load a global and then the field at +0x30 of the object it points
// to; the global with a clear majority of them is the session global. Logs its line; returns the
// global's address or 0.
std::uint64_t FindSessionGlobal(const MappedImage& image);

// Reads the code of the riding-vehicle condition class (its class table `table`) for the three
// vehicle-type globals; writes them into `layout` (each may stay 0).
void FindVehicleTypeGlobals(const MappedImage& image, std::uint64_t table, GameLayout& layout);

// The global that the function at `code` loads into rbx first, or 0.
[[nodiscard]] std::uint64_t FindLoadedGlobal(const MappedImage& image, std::uint64_t code);

// The two clock counters; writes them into `layout` (both or neither) and logs its line.
void FindGameClock(const MappedImage& image, GameLayout& layout);

// The settings that decide which searches run, as they stand at start.
struct GameScanSettings {
  bool worldEnabled = true;                // [World] Enabled
  std::uint32_t worldToggleKey = 0xDD;     // [World] ToggleKey's virtual-key code; 0 = unbound
  bool wagonRoutingEnabled = true;         // [WagonRouting] Enabled

  [[nodiscard]] bool InWorldRouteCanBeShown() const { return worldEnabled || worldToggleKey != 0; }
};

using TickSource = std::uint32_t (*)();

// Fills `layout` from the image, logs the "GameInit:" lines, and returns true when the three
// user-interface class tables were found.
[[nodiscard]] bool GameInit(const MappedImage& image, const GameScanSettings& settings, GameLayout& layout,
                            TickSource ticks);

// Decorated names of the classes the scan looks for.
namespace decorated {
inline constexpr std::string_view kMinimap = ".?AVUIGamePlayControlRootMiniMap@uiCommonScript@pa@@";
inline constexpr std::string_view kWorldMap = ".?AVUIGamePlayControlRootWorldMap@uiCommonScript@pa@@";
inline constexpr std::string_view kIcon = ".?AVUIGamePlayControlCommon_MiniMapIcon@uiCommonScript@pa@@";
inline constexpr std::string_view kCamera = ".?AVCameraManager@pa@@";
inline constexpr std::string_view kVehicleComponent = ".?AVClientVehicleActorComponent@pa@@";
inline constexpr std::string_view kActorManager = ".?AVClientActorManager@pa@@";
inline constexpr std::string_view kRidingVehicleCondition = ".?AVConditionData_CheckRidingVehicleType@pa@@";
}  // namespace decorated

}  // namespace pathlight
