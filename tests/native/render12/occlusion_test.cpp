#include "render12/occlusion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;
using testing::Lines;

// A perspective matrix for row vectors (z' = z m22 + m32, w' = z), and its transpose.
void Perspective(float m[16], bool transposed) {
  std::fill(m, m + 16, 0.0f);
  m[0] = 1.2f;
  m[5] = 2.1f;
  m[10] = 0.0f;  // reversed depth, far at infinity
  m[transposed ? 14 : 11] = 1.0f;
  m[transposed ? 11 : 14] = 0.1f;
}

TEST(Occlusion, ProjectionTermsInBothLayouts) {
  float rowMajor[16], transposed[16];
  Perspective(rowMajor, false);
  Perspective(transposed, true);
  const auto a = ProjectionFrom(rowMajor);
  const auto b = ProjectionFrom(transposed);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->m32, 0.1f);
  EXPECT_EQ(b->m32, a->m32);
  EXPECT_EQ(b->m22, a->m22);

  float orthographic[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_FALSE(ProjectionFrom(orthographic));
  float garbage[16];
  std::fill(garbage, garbage + 16, NAN);
  EXPECT_FALSE(ProjectionFrom(garbage));
}

TEST(Occlusion, ReadFormats) {
  const std::map<int, int> table = {{19, 21}, {39, 41}, {41, 41}, {44, 46}, {53, 56}, {56, 56},
                                    {40, 0},  {45, 0},  {55, 0},  {28, 0},  {0, 0},   {-1, 0}};
  for (const auto& [format, read] : table) EXPECT_EQ(DepthReadFormat(format), read) << format;
}

struct FakeFacts final : DepthResourceFacts {
  ResourceDescription description{kDimensionTexture2D, 1920, 1080, 44, 1, 0};
  int asked = 0;
  ResourceDescription Describe(std::uint64_t) override {
    ++asked;
    return description;
  }
};

// A tag of a held buffer whose identity is its address unless given.
DepthChoiceInputs FreshInputs(std::uint64_t resource, std::uint64_t identity = 0) {
  DepthChoiceInputs in;
  in.occlusionEnabled = in.tagHooked = in.constantsHooked = true;
  in.now = 10'000;
  in.tag.native = resource;
  in.tag.identity = identity != 0 ? identity : resource;
  in.tag.refusal = DepthRefusal::None;
  in.tag.state = 0x10;
  in.tag.lifecycle = 1;
  in.tag.tick = 9'900;
  in.tag.sequence = 4;
  in.tag.function = "slSetTag";
  in.camera.tick = 9'950;
  in.camera.sequence = 7;
  Perspective(in.camera.viewToClip, false);
  in.tagCalls = 5;
  in.depthTags = 4;
  in.evaluateCalls = 3;
  return in;
}

TEST(Occlusion, ReasonsLoggedOncePerChange) {
  DepthChooser chooser;
  FakeFacts facts;
  struct Step {
    std::function<void(DepthChoiceInputs&)> change;
    bool chosen;
  };
  const Step steps[] = {
      {[](DepthChoiceInputs& in) { in.tag.sequence = 0; }, false},
      {[](DepthChoiceInputs& in) { in.tag.sequence = 0; }, false},         // same reason: silent
      {[](DepthChoiceInputs& in) { in.tag.tick = in.now - 251; }, false},  // 251 ms old
      {[](DepthChoiceInputs& in) { in.tag.tick = in.now - 250; }, true},   // 250 ms is still fresh
      {[](DepthChoiceInputs& in) { in.camera.sequence = 0; }, false},
      {[](DepthChoiceInputs& in) { in.camera.tick = in.now - 300; }, false},  // same text: silent
      {[](DepthChoiceInputs& in) { in.tag.state = kNoResourceState; }, false},
      // The states the frame's barrier may start from: a write state only alone, else reads only.
      {[](DepthChoiceInputs& in) { in.tag.state = 0x14; }, false},          // render target and depth write
      {[](DepthChoiceInputs& in) { in.tag.state = 0x8; }, false},           // unordered access: silent again
      {[](DepthChoiceInputs& in) { in.tag.state = 0x0; }, true},            // common
      {[](DepthChoiceInputs& in) { in.tag.state = 0xA0; }, true},           // depth read, pixel shader resource
      {[](DepthChoiceInputs& in) { in.tag.state = 0x820; }, true},          // depth read, copy source
      {[](DepthChoiceInputs& in) { in.tag.state = 0x7FFFFFF0; }, false},    // the last reason still: silent
      {[](DepthChoiceInputs& in) { in.tag.tick = in.now + 10; }, true},     // stored while the frame ran
      {[](DepthChoiceInputs& in) { in.occlusionEnabled = false; }, false},  // not a reason: silent
  };
  const Lines lines = CaptureLog(
      [&] {
        for (const Step& step : steps) {
          DepthChoiceInputs in = FreshInputs(0x1000);
          step.change(in);
          EXPECT_EQ(chooser.Choose(in, facts).has_value(), step.chosen);
        }
      },
      "Occlusion: not used");
  const std::string counters = " (tag calls 5, depth tags 4, evaluate calls 3)";
  EXPECT_EQ(lines,
            (Lines{"Occlusion: not used yet: the game has not tagged a depth buffer" + counters,
                   "Occlusion: not used yet: the depth tag is stale" + counters,
                   "Occlusion: not used yet: no fresh DLSS constants" + counters,
                   "Occlusion: not used yet: the depth tag has no resource state" + counters,
                   "Occlusion: not used yet: the depth tag's resource state is not one a depth buffer is read from" +
                       counters}));
}

TEST(Occlusion, UnexpectedProjectionRefusedOnceForTheProcess) {
  DepthChooser chooser;
  FakeFacts facts;
  const Lines lines = CaptureLog([&] {
    DepthChoiceInputs in = FreshInputs(0x1000);
    in.camera.viewToClip[11] = 0.5f;
    in.camera.viewToClip[14] = 0.25f;
    EXPECT_FALSE(chooser.Choose(in, facts));
    EXPECT_FALSE(chooser.Choose(FreshInputs(0x1000), facts));  // later frames stay off, silently
  });
  EXPECT_EQ(lines, (Lines{"Occlusion: unexpected projection (0.0000 0.5000 0.2500 0.0000); no occlusion"}));
  EXPECT_EQ(facts.asked, 0);
}

TEST(Occlusion, ResourcesExaminedOnceAndRefusedWithReasons) {
  struct Case {
    const char* name;
    std::function<void(FakeFacts&)> change;
    const char* line;                           // null: usable
    DepthRefusal refusal = DepthRefusal::None;  // the tag record's: the buffer is not held
  };
  const Case cases[] = {
      {"not in a module", [](FakeFacts&) {},
       "Occlusion: the depth tag does not point at a D3D12 resource (layout changed?)", DepthRefusal::NotInModule},
      {"not a resource", [](FakeFacts&) {}, "Occlusion: the depth tag is not an ID3D12Resource",
       DepthRefusal::NotResource},
      {"MSAA", [](FakeFacts& f) { f.description.samples = 4; },
       "Occlusion: depth 1920x1080 format 44 dimension 3 samples 4 flags 0x0 is not readable; no occlusion"},
      {"deny shader resource", [](FakeFacts& f) { f.description.flags = 0xA; },
       "Occlusion: depth 1920x1080 format 44 dimension 3 samples 1 flags 0xA is not readable; no occlusion"},
      {"buffer", [](FakeFacts& f) { f.description.dimension = 1; },
       "Occlusion: depth 1920x1080 format 44 dimension 1 samples 1 flags 0x0 is not readable; no occlusion"},
      {"colour format", [](FakeFacts& f) { f.description.format = 28; },
       "Occlusion: depth 1920x1080 format 28 dimension 3 samples 1 flags 0x0 is not readable; no occlusion"},
      {"usable", [](FakeFacts&) {}, nullptr},
  };
  for (const Case& c : cases) {
    DepthChooser chooser;
    FakeFacts facts;
    c.change(facts);
    std::optional<DepthSource> first, second;
    DepthChoiceInputs in = FreshInputs(0x1000);
    if (c.refusal != DepthRefusal::None) in.tag.identity = 0, in.tag.refusal = c.refusal;
    const Lines lines = CaptureLog([&] {
      first = chooser.Choose(in, facts);
      second = chooser.Choose(in, facts);
    });
    // A pointer the record does not hold is never asked about.
    EXPECT_EQ(facts.asked, c.refusal == DepthRefusal::None ? 1 : 0) << c.name;
    EXPECT_EQ(first.has_value(), c.line == nullptr) << c.name;
    EXPECT_EQ(second.has_value(), c.line == nullptr) << c.name;
    ASSERT_EQ(lines.size(), 1u) << c.name;
    if (c.line != nullptr) {
      EXPECT_EQ(lines[0], c.line) << c.name;
    }
  }
}

// Buffers are known by the record's identity: a pair tagged in turn is examined once each, and a
// new buffer at a released one's address is examined anew.
TEST(Occlusion, PingPongPairExaminedOnceAndANewBufferAtAnOldAddressAnew) {
  DepthChooser chooser;
  FakeFacts facts;
  const Lines lines = CaptureLog([&] {
    for (int frame = 0; frame < 10; ++frame) {
      EXPECT_TRUE(chooser.Choose(FreshInputs(frame % 2 ? 0x2000 : 0x1000), facts));
    }
    EXPECT_EQ(facts.asked, 2);
    facts.description.width = 1280;  // a smaller buffer made where the first lay
    const std::optional<DepthSource> again = chooser.Choose(FreshInputs(0x1000, 0x77), facts);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->textureWidth, 1280u);
  });
  EXPECT_EQ(facts.asked, 3);
  EXPECT_EQ(lines.size(), 3u);
}

TEST(Occlusion, DepthViaLinesForTheFirstSixResourcesOnly) {
  DepthChooser chooser;
  FakeFacts facts;
  const Lines lines = CaptureLog([&] {
    for (std::uint64_t resource = 1; resource <= 8; ++resource) {
      DepthChoiceInputs in = FreshInputs(resource * 0x1000);
      if (resource == 2) {
        in.tag.hasExtent = true;
        in.tag.x = 8;
        in.tag.y = 4;
        in.tag.width = 1280;
        in.tag.height = 720;
        in.tag.function = "slSetTagForFrame";
      }
      EXPECT_TRUE(chooser.Choose(in, facts));
    }
  });
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "Occlusion: depth via slSetTag: 1920x1080 format 44 (read as 46), state 0x10, lifecycle 1, extent (none) "
            "0,0 0x0; projection m22=0.000000 m32=0.100000");
  EXPECT_EQ(lines[1],
            "Occlusion: depth via slSetTagForFrame: 1920x1080 format 44 (read as 46), state 0x10, lifecycle 1, extent "
            "8,4 1280x720; projection m22=0.000000 m32=0.100000");
}

TEST(Occlusion, SourceAreaAndConstants) {
  struct Case {
    bool hasExtent;
    std::uint32_t x, y, width, height;
    float dOff[2], dSize[2];
  };
  const Case cases[] = {
      {false, 0, 0, 0, 0, {0, 0}, {1920, 1080}},
      {true, 8, 4, 1280, 720, {8, 4}, {1280, 720}},
      {true, 8, 4, 0, 720, {0, 0}, {1920, 1080}},  // an empty extent: the whole texture
  };
  for (const Case& c : cases) {
    DepthChooser chooser;
    FakeFacts facts;
    DepthChoiceInputs in = FreshInputs(0x1000);
    in.tag.hasExtent = c.hasExtent;
    in.tag.x = c.x;
    in.tag.y = c.y;
    in.tag.width = c.width;
    in.tag.height = c.height;
    std::optional<DepthSource> source;
    (void)CaptureLog([&] { source = chooser.Choose(in, facts); });
    ASSERT_TRUE(source);
    EXPECT_EQ(source->readFormat, 46);
    EXPECT_EQ(source->state, 0x10u);
    Settings settings;
    settings.occlusionTolerance = 0.5f;
    settings.occlusionSlope = 0.1f;
    const OcclusionConstants k = MakeOcclusionConstants(2560, 1440, *source, settings);
    const float expected[12] = {1.0f / 2560, 1.0f / 1440, c.dSize[0], c.dSize[1], c.dOff[0], c.dOff[1],
                                1919,        1079,        0.0f,       0.1f,       0.5f,      0.1f};
    const float* got = &k.invScreen[0];
    for (int i = 0; i < 12; ++i) EXPECT_EQ(got[i], expected[i]) << c.width << " float " << i;
  }
}

TEST(DlssCamera, MergedWhenFreshAndNear) {
  DlssCameraRecord record;
  const float position[3] = {100, 50, 200};
  std::copy(position, position + 3, record.position);
  record.right[0] = 1;
  record.up[1] = 1;
  record.forward[2] = 1;
  record.projX = 1.2f;
  record.projY = 2.1f;
  record.tick = 1000;
  record.sequence = 3;

  struct Case {
    const char* name;
    bool enabled, gameValid;
    float gameX;  // game camera at (gameX, 50, 200)
    std::uint32_t now;
    bool merged;
    float positionX;
  };
  const Case cases[] = {
      {"disabled", false, true, 101, 1100, false, 101},
      {"stale", true, true, 101, 1251, false, 101},
      {"near", true, true, 101, 1250, true, 100},
      {"five metres apart keeps the game's position", true, true, 105, 1100, true, 105},
      {"no game camera", true, false, 500, 1100, true, 100},
  };
  for (const Case& c : cases) {
    GameSnapshot s;
    s.cameraValid = c.gameValid;
    s.cameraPosition[0] = c.gameX;
    s.cameraPosition[1] = 50;
    s.cameraPosition[2] = 200;
    std::atomic<bool> compared{true};
    MergeDlssCamera(s, {c.enabled, record, c.now}, compared);
    EXPECT_EQ(s.cameraFromDlss != 0, c.merged) << c.name;
    EXPECT_EQ(s.cameraPosition[0], c.positionX) << c.name;
    if (c.merged) {
      EXPECT_TRUE(s.cameraValid) << c.name;
      EXPECT_EQ(s.cameraProjX, 1.2f) << c.name;
      EXPECT_EQ(s.cameraColumn2[2], 1.0f) << c.name;
    }
  }

  std::atomic<bool> compared{false};
  const Lines lines = CaptureLog([&] {
    GameSnapshot invalid;
    MergeDlssCamera(invalid, {true, record, 1100}, compared);  // no game camera: no comparison yet
    for (int i = 0; i < 2; ++i) {
      GameSnapshot s;
      s.cameraValid = 1;
      s.cameraPosition[0] = 103;
      s.cameraPosition[1] = 54;
      s.cameraPosition[2] = 200;
      s.cameraProjX = 1.0f;
      s.cameraProjY = 1.5f;
      MergeDlssCamera(s, {true, record, 1100}, compared);
    }
  });
  EXPECT_EQ(lines,
            (Lines{"DLSS camera: pos (100.00,50.00,200.00) fwd (0.000,0.000,1.000) proj 1.200/2.100; game camera "
                   "pos (103.00,54.00,200.00) fwd (0.000,0.000,0.000) proj 1.000/1.500; 5.00 m apart"}));
}

}  // namespace
}  // namespace pathlight
