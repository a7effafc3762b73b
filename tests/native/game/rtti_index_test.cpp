#include "game/rtti_index.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "game/game_init.hpp"
#include "game/image_builder.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

TEST(FindVtable, PassesOverThePlainStringAndTheBaseClassLocator) {
  ImageBuilder image;
  const int rdata = image.AddSection(0x1000, kRdata);
  const int data = image.AddSection(0x1000, kData);
  // The name as an ordinary string, earlier than its type descriptor and in an earlier section.
  image.Skip(rdata, 40);
  image.PutString(rdata, decorated::kCamera);
  const std::uint64_t descriptor = PutTypeDescriptor(image, data, decorated::kCamera);
  // A base-class sub-object's class table comes first and would be taken if the offset were
  // ignored; then locators with a wrong signature or self RVA, each with its own class table.
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.offset = 8}));
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.signature = 0}));
  PutClassTable(image, rdata, PutLocator(image, rdata, descriptor, {.selfRvaRight = false}));
  const std::uint64_t table = PutClassTable(image, rdata, PutLocator(image, rdata, descriptor));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kCamera), table);
}

TEST(FindVtable, OnlyABaseClassLocatorOrALongerNameGivesNothing) {
  ImageBuilder image;
  const int rdata = image.AddSection(0x1000, kRdata);
  const std::uint64_t base = PutTypeDescriptor(image, rdata, decorated::kCamera);
  PutClassTable(image, rdata, PutLocator(image, rdata, base, {.offset = 16}));
  // A class whose decorated name begins with the searched one.
  const std::uint64_t longer = PutTypeDescriptor(image, rdata, ".?AVCameraManager@pa@@Ex");
  PutClassTable(image, rdata, PutLocator(image, rdata, longer));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kCamera), 0u);
}

TEST(FindVtable, UnreferencedLocatorMovesOnToTheNextSection) {
  ImageBuilder image;
  const int first = image.AddSection(0x1000, kRdata);
  const int second = image.AddSection(0x1000, kRdata);
  const std::uint64_t descriptor = PutTypeDescriptor(image, first, decorated::kMinimap);
  PutLocator(image, first, descriptor);  // no class table points at it
  const std::uint64_t locator = PutLocator(image, second, descriptor);
  const std::uint64_t table = PutClassTable(image, second, locator);
  PutClassTable(image, second, locator);  // a later word referring to it does not count
  EXPECT_EQ(FindVtable(image.Image(), decorated::kMinimap), table);
}

TEST(FindVtable, NameEndingAtTheSectionEndIsFoundAndUnreadableSectionsAreNot) {
  ImageBuilder image;
  const int hidden = image.AddSection(0x1000, kNoRead);
  const int names = image.AddSection(static_cast<std::uint32_t>(16 + decorated::kIcon.size() + 1), kRdata);
  const int tables = image.AddSection(0x1000, kRdata);
  PutClassTable(image, tables, PutLocator(image, tables, PutTypeDescriptor(image, hidden, decorated::kIcon)));
  const std::uint64_t descriptor = PutTypeDescriptor(image, names, decorated::kIcon);
  const std::uint64_t table = PutClassTable(image, tables, PutLocator(image, tables, descriptor));
  // A short name in a section of its own, so few bytes follow where it begins.
  const int shortNames = image.AddSection(16 + 8, kRdata);
  const std::uint64_t shortTable =
      PutClassTable(image, tables, PutLocator(image, tables, PutTypeDescriptor(image, shortNames, ".?AVX@@")));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kIcon), table);
  EXPECT_EQ(FindVtable(image.Image(), ".?AVX@@"), shortTable);
}

TEST(FindVtable, LocatorAndReferenceFillingTheirSectionsExactly) {
  ImageBuilder image;
  const int names = image.AddSection(0x1000, kRdata);
  const int locators = image.AddSection(0x1000 + 24, kRdata);
  const int tables = image.AddSection(0x1000 + 16, kRdata);
  const std::uint64_t descriptor = PutTypeDescriptor(image, names, decorated::kWorldMap);
  image.Skip(locators, 0x1000);
  const std::uint64_t locator = PutLocator(image, locators, descriptor);
  image.Skip(tables, 0x1000);
  const std::uint64_t table = PutClassTable(image, tables, locator, {0});
  ASSERT_EQ(table + 8, image.SectionEnd(tables));
  EXPECT_EQ(FindVtable(image.Image(), decorated::kWorldMap), table);
}

}  // namespace
}  // namespace pathlight
