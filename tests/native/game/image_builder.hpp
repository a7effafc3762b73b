// Builds executable images in memory as the game's lies mapped: PE headers, then sections at
// their virtual addresses, with the run-time type information and code patterns the image scan
// looks for planted at known addresses. Shared by the tests of the image scan's parts and the scan benchmark.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "game/mapped_image.hpp"

namespace pathlight::testing {

inline constexpr std::uint64_t kImageBase = 0x140000000;
inline constexpr std::uint32_t kCode = 0x60000020;   // code, execute, read
inline constexpr std::uint32_t kRdata = 0x40000040;  // initialised data, read
inline constexpr std::uint32_t kData = 0xC0000040;   // initialised data, read, write
inline constexpr std::uint32_t kNoRead = 0x00000040;

using Bytes = std::vector<std::uint8_t>;

class ImageBuilder {
 public:
  static constexpr std::uint32_t kNtOffset = 0x80;
  static constexpr std::uint32_t kOptionalHeaderSize = 0xF0;

  ImageBuilder() : bytes_(0x1000) {}

  // Appends a section of `size` bytes at the next page; returns its index.
  int AddSection(std::uint32_t size, std::uint32_t characteristics) {
    const auto rva = static_cast<std::uint32_t>(bytes_.size());
    sections_.push_back({rva, size, characteristics, 0});
    bytes_.resize(rva + ((size + 0xFFF) & ~0xFFFu));
    return static_cast<int>(sections_.size()) - 1;
  }

  // Appends bytes to a section after aligning its fill point; returns their address.
  std::uint64_t Put(int section, std::span<const std::uint8_t> data, std::uint32_t align = 1) {
    Section& s = sections_[section];
    s.used = (s.used + align - 1) / align * align;
    const std::uint64_t address = kImageBase + s.rva + s.used;
    std::memcpy(bytes_.data() + s.rva + s.used, data.data(), data.size());
    s.used += static_cast<std::uint32_t>(data.size());
    if (s.used > s.size) throw std::length_error("section full");
    return address;
  }
  std::uint64_t Put(int section, std::initializer_list<std::uint8_t> data, std::uint32_t align = 1) {
    return Put(section, std::span<const std::uint8_t>(data.begin(), data.size()), align);
  }
  std::uint64_t PutString(int section, std::string_view text) {
    Bytes data(text.begin(), text.end());
    data.push_back(0);
    return Put(section, data);
  }
  std::uint64_t Skip(int section, std::uint32_t count) { return Put(section, Bytes(count, 0xCC)); }
  std::uint64_t Fill(int section) { return Skip(section, sections_[section].size - sections_[section].used); }

  void Poke32(std::uint64_t address, std::uint32_t value) { std::memcpy(At(address), &value, 4); }
  void Poke64(std::uint64_t address, std::uint64_t value) { std::memcpy(At(address), &value, 8); }
  std::uint8_t* At(std::uint64_t address) { return bytes_.data() + (address - kImageBase); }

  std::uint64_t SectionStart(int section) const { return kImageBase + sections_[section].rva; }
  std::uint64_t SectionEnd(int section) const { return SectionStart(section) + sections_[section].size; }
  std::uint64_t End() const { return kImageBase + bytes_.size(); }

  // Writes the headers and returns a view of the image; valid while the builder lives and
  // nothing is added.
  MappedImage Image() {
    Poke32(kImageBase + 0x3C, kNtOffset);
    std::uint8_t* nt = bytes_.data() + kNtOffset;
    std::memcpy(nt, "PE\0\0", 4);
    const auto count = static_cast<std::uint16_t>(sections_.size());
    const std::uint16_t optionalSize = kOptionalHeaderSize;
    std::memcpy(nt + 6, &count, 2);
    std::memcpy(nt + 20, &optionalSize, 2);
    Poke32(kImageBase + kNtOffset + 0x50, static_cast<std::uint32_t>(bytes_.size()));
    std::uint8_t* table = nt + 24 + kOptionalHeaderSize;
    for (const Section& s : sections_) {
      std::memcpy(table + 8, &s.size, 4);
      std::memcpy(table + 12, &s.rva, 4);
      std::memcpy(table + 36, &s.characteristics, 4);
      table += 40;
    }
    return MappedImage(kImageBase, std::as_bytes(std::span(bytes_)));
  }

 private:
  struct Section {
    std::uint32_t rva;
    std::uint32_t size;
    std::uint32_t characteristics;
    std::uint32_t used;
  };
  std::vector<std::uint8_t> bytes_;
  std::vector<Section> sections_;
};

inline void Append32(Bytes& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline std::uint32_t Rva(std::uint64_t address) { return static_cast<std::uint32_t>(address - kImageBase); }

// An address as the scan's log lines give it: "+0x" and its offset from the image base (+0x0 for 0).
inline std::string Hex(std::uint64_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "+0x%llX", static_cast<unsigned long long>(address == 0 ? 0 : address - kImageBase));
  return text;
}

// ---- run-time type information --------------------------------------------------------------

// Type descriptor: class-table pointer, spare word, decorated name. Returns its address.
inline std::uint64_t PutTypeDescriptor(ImageBuilder& image, int section, std::string_view name) {
  const std::uint64_t descriptor = image.Put(section, Bytes(16, 0), 8);
  image.PutString(section, name);
  return descriptor;
}

struct LocatorFields {
  std::uint32_t signature = 1;
  std::uint32_t offset = 0;
  bool selfRvaRight = true;
};

inline std::uint64_t PutLocator(ImageBuilder& image, int section, std::uint64_t descriptor, LocatorFields fields = {}) {
  Bytes bytes;
  const std::uint64_t at = image.Put(section, Bytes(24, 0), 4);
  Append32(bytes, fields.signature);
  Append32(bytes, fields.offset);
  Append32(bytes, 0);
  Append32(bytes, Rva(descriptor));
  Append32(bytes, 0);
  Append32(bytes, fields.selfRvaRight ? Rva(at) : Rva(at) + 4);
  std::memcpy(image.At(at), bytes.data(), bytes.size());
  return at;
}

// The locator's pointer, then the slots; returns the class table (its first slot).
inline std::uint64_t PutClassTable(ImageBuilder& image, int section, std::uint64_t locator,
                                   std::initializer_list<std::uint64_t> slots = {0, 0}) {
  const std::uint64_t pointer = image.Put(section, Bytes(8, 0), 8);
  image.Poke64(pointer, locator);
  for (const std::uint64_t slot : slots) image.Poke64(image.Put(section, Bytes(8, 0)), slot);
  return pointer + 8;
}

// A class as the game's compiler lays it out: descriptor in data, locator and class table in
// read-only data. Returns the class table.
struct ClassSections {
  int descriptors;
  int tables;
};
inline std::uint64_t PutClass(ImageBuilder& image, ClassSections where, std::string_view name,
                              std::initializer_list<std::uint64_t> slots = {0, 0}) {
  const std::uint64_t descriptor = PutTypeDescriptor(image, where.descriptors, name);
  return PutClassTable(image, where.tables, PutLocator(image, where.tables, descriptor), slots);
}

// ---- code -------------------------------------------------------------------------------------

// An instruction that ends in a 32-bit displacement relative to its own end (call, jmp, a
// rip-relative load); returns its address.
inline std::uint64_t PutRelative(ImageBuilder& image, int section, std::initializer_list<std::uint8_t> opcode,
                                 std::uint64_t target) {
  Bytes bytes(opcode);
  Append32(bytes, 0);
  const std::uint64_t at = image.Put(section, bytes);
  image.Poke32(at + opcode.size(), static_cast<std::uint32_t>(target - (at + bytes.size())));
  return at;
}

// mov r64, [rip+target] then mov r64, [base+disp8] with the encodings given; the defaults are
// mov rax, [rip+target]; mov rcx, [rax+0x30].
struct SiteEncoding {
  std::uint8_t rex0 = 0x48, modrm0 = 0x05, rex1 = 0x48, modrm1 = 0x48, disp8 = 0x30;
};
inline std::uint64_t PutSessionSite(ImageBuilder& image, int section, std::uint64_t target, SiteEncoding e = {}) {
  const std::uint64_t at = PutRelative(image, section, {e.rex0, 0x8B, e.modrm0}, target);
  image.Put(section, {e.rex1, 0x8B, e.modrm1, e.disp8});
  return at;
}

inline void PutSessionSites(ImageBuilder& image, int section, std::uint64_t target, int count) {
  for (int i = 0; i < count; ++i) {
    PutSessionSite(image, section, target);
    image.Put(section, {0x90});  // the sites do not touch each other, as in real code
  }
}

// The clock read: mov r8, [rip+seconds]; test r8, r8; je; mov rcx, [rip+ms]; mov rax, 1/1000.
inline std::uint64_t PutClockRead(ImageBuilder& image, int section, std::uint64_t seconds, std::uint64_t milliseconds) {
  const std::uint64_t at = PutRelative(image, section, {0x4C, 0x8B, 0x05}, seconds);
  image.Put(section, {0x4D, 0x85, 0xC0, 0x74, 0x20});
  PutRelative(image, section, {0x48, 0x8B, 0x0D}, milliseconds);
  image.Put(section, {0x48, 0xB8, 0x77, 0xBE, 0x9F, 0x1A, 0x2F, 0xDD, 0x24, 0x06});
  return at;
}

struct VehicleGlobals {
  std::uint64_t actors = 0, characters = 0, vehicles = 0;
};

// A getter that loads a global into rbx (mov rbx, [rip+global]); returns its address. Without a
// global it is a bare return, padded so that the next function's load lies beyond the search.
inline std::uint64_t PutGetter(ImageBuilder& image, int section, std::uint64_t global) {
  if (global == 0) {
    const std::uint64_t at = image.Put(section, {0xC3});
    image.Skip(section, 64);
    return at;
  }
  const std::uint64_t at = image.Put(section, {0x53, 0x48, 0x83, 0xEC, 0x20});  // push rbx; sub rsp, 20h
  PutRelative(image, section, {0x48, 0x8B, 0x1D}, global);
  image.Put(section, {0x48, 0x89, 0xD8, 0xC3});  // mov rax, rbx; ret
  return at;
}

inline std::uint64_t PutJumpThunk(ImageBuilder& image, int section, std::uint64_t target) {
  return PutRelative(image, section, {0xE9}, target);
}

// The riding-vehicle condition's check, as FindVehicleTypeGlobals reads it. Each getter and the
// character lookup is reached through a jump thunk. `characterLookup`, when given, replaces the
// lookup function (for one outside the image).
inline std::uint64_t PutVehicleCheck(ImageBuilder& image, int section, const VehicleGlobals& globals,
                                     std::uint64_t characterLookup = 0) {
  const std::uint64_t charactersGetter = PutJumpThunk(image, section, PutGetter(image, section, globals.characters));
  const std::uint64_t vehiclesGetter = PutJumpThunk(image, section, PutGetter(image, section, globals.vehicles));
  if (characterLookup == 0) {
    const std::uint64_t lookup = image.Put(section, {0x48, 0x83, 0xEC, 0x28});
    PutRelative(image, section, {0xE8}, charactersGetter);
    image.Put(section, {0x0F, 0xB7, 0x88, 0xA0, 0x00, 0x00, 0x00, 0xC3});
    characterLookup = PutJumpThunk(image, section, lookup);
  }
  const std::uint64_t f = image.Put(section, {0x65, 0x48, 0x8B, 0x04, 0x25, 0x58, 0x00, 0x00, 0x00});
  image.Put(section, {0x48, 0x8B, 0x04, 0xC8});  // mov rax, [rax+rcx*8]
  PutRelative(image, section, {0x48, 0x8B, 0x05}, globals.actors);
  PutRelative(image, section, {0xE8}, vehiclesGetter);
  image.Put(section, {0x8B, 0x4E, 0x18, 0x39, 0x48, 0x40, 0x75, 0x10});
  PutRelative(image, section, {0xE8}, characterLookup);
  image.Put(section, {0x0F, 0xB7, 0x55, 0x38, 0xC3});
  return f;
}

}  // namespace pathlight::testing
