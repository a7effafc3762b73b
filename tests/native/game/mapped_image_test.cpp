#include "game/mapped_image.hpp"

#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "game/image_builder.hpp"

namespace pathlight {
namespace {

using namespace pathlight::testing;

TEST(ImageHeaders, SizeAndSectionsComeFromTheHeadersAndStayInsideTheImage) {
  ImageBuilder image;
  image.AddSection(0x1800, kCode);
  image.AddSection(0x100, kNoRead);
  image.AddSection(0x100, kData);
  const MappedImage view = image.Image();
  const std::vector<ImageSection> sections = ListImageSections(view);
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].start, kImageBase + 0x1000);
  EXPECT_EQ(sections[0].size, 0x1800u);
  EXPECT_TRUE(sections[0].executable);
  EXPECT_EQ(sections[1].start, kImageBase + 0x4000);
  EXPECT_FALSE(sections[1].executable);
  EXPECT_EQ(ImageSizeFromHeaders(std::as_bytes(std::span(view.At(kImageBase), 0x1000))), 0x5000u);
  // A section whose size claims more than the image holds is cut at the image's end.
  image.Poke32(kImageBase + ImageBuilder::kNtOffset + 24 + ImageBuilder::kOptionalHeaderSize + 80 + 8, 0x100000);
  EXPECT_EQ(ListImageSections(view)[1].size, 0x1000u);
}

}  // namespace
}  // namespace pathlight
