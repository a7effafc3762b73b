// Sections: image access, PE headers.
#include "game/mapped_image.hpp"

#include <algorithm>

#include "platform/bytes.hpp"

namespace pathlight {

// ---- image access -----------------------------------------------------------------------------

std::uint32_t MappedImage::U32(std::uint64_t address) const { return LoadLittle<std::uint32_t>(At(address)); }

std::uint64_t MappedImage::ReadableEnd(std::uint64_t address) const {
  for (const AddressRange& hole : unreadable_) {
    if (address < hole.end) return address < hole.start ? hole.start : address;
  }
  return End();
}

std::uint64_t MappedImage::NextReadable(std::uint64_t address) const {
  // Sorted, so one pass also steps over holes that follow each other.
  for (const AddressRange& hole : unreadable_) {
    if (address >= hole.start && address < hole.end) address = hole.end;
  }
  return address;
}

std::uint64_t MappedImage::U64(std::uint64_t address) const { return LoadLittle<std::uint64_t>(At(address)); }

// ---- PE headers -------------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kNtHeadersOffsetField = 0x3C;
constexpr std::uint32_t kSizeOfImageField = 0x50;  // in the NT headers
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kScnMemExecute = 0x20000000;
constexpr std::uint32_t kScnMemRead = 0x40000000;

std::uint32_t LoadU32(std::span<const std::byte> bytes, std::size_t offset) {
  return LoadLittle<std::uint32_t>(bytes.data() + offset);
}

}  // namespace

std::uint32_t ImageSizeFromHeaders(std::span<const std::byte> headers) {
  if (headers.size() < kNtHeadersOffsetField + 4) return 0;
  const std::uint32_t nt = LoadU32(headers, kNtHeadersOffsetField);
  if (nt > headers.size() || headers.size() - nt < kSizeOfImageField + 4) return 0;
  return LoadU32(headers, nt + kSizeOfImageField);
}

std::vector<ImageSection> ListImageSections(const MappedImage& image) {
  std::vector<ImageSection> sections;
  const std::uint64_t base = image.Base();
  if (!image.Contains(base + kNtHeadersOffsetField, 4)) return sections;
  const std::uint64_t nt = base + image.U32(base + kNtHeadersOffsetField);
  if (!image.Contains(nt, 24)) return sections;
  const auto count = LoadLittle<std::uint16_t>(image.At(nt + 6));
  const auto optionalSize = LoadLittle<std::uint16_t>(image.At(nt + 20));
  const std::uint64_t table = nt + 24 + optionalSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t header = table + static_cast<std::uint64_t>(i) * kSectionHeaderSize;
    if (!image.Contains(header, kSectionHeaderSize)) break;
    const std::uint32_t virtualSize = image.U32(header + 8);
    const std::uint32_t virtualAddress = image.U32(header + 12);
    const std::uint32_t characteristics = image.U32(header + 36);
    if ((characteristics & kScnMemRead) == 0) continue;
    // A section that reaches past SizeOfImage is cut there: nothing beyond the image is mapped
    // as part of it. Unreadable parts split it.
    const std::uint64_t start = base + virtualAddress;
    if (start >= image.End()) continue;
    const std::uint64_t end = start + std::min<std::uint64_t>(virtualSize, image.End() - start);
    for (std::uint64_t piece = start; piece < end;) {
      const std::uint64_t readableEnd = std::min(image.ReadableEnd(piece), end);
      if (readableEnd > piece) {
        sections.push_back({piece, readableEnd - piece, (characteristics & kScnMemExecute) != 0});
        piece = readableEnd;
      } else {
        piece = image.NextReadable(piece);
      }
    }
  }
  return sections;
}

}  // namespace pathlight
