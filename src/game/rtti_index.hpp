// The class tables of the image, found through the Microsoft x64 run-time type information: a
// decorated type name, the complete object locators that name it, and the class table whose slot
// before the first refers to the locator.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "game/mapped_image.hpp"

namespace pathlight {

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

}  // namespace pathlight
