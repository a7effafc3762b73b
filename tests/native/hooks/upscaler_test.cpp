#include "hooks/upscaler.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <vector>

#include "log_capture.hpp"

namespace pathlight {
namespace {

using testing::CaptureLog;

// The test's own memory, read directly: every structure below is built by the test.
class PlainMemory final : public GameMemory {
 public:
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    if (address == 0) return 0;
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return size;
  }
};

std::uint64_t Addr(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

struct Resource {
  unsigned char bytes[72] = {};
  explicit Resource(std::uint64_t native, std::uint32_t state = 0x8) {
    std::memcpy(bytes + sl_layout::kResourceNative, &native, 8);
    std::memcpy(bytes + sl_layout::kResourceState, &state, 4);
  }
};

struct Extent {
  std::uint32_t top, left, width, height;
};

// An array of tags `stride` bytes apart, each with the same structure type, as a game passes it.
class TagArray {
 public:
  TagArray(std::uint32_t count, std::uint32_t stride) : stride_(stride), bytes_(std::size_t{count} * stride + 160) {
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t guid = 0x4C6A5D2Bu;
      std::memcpy(At(i) + sl_layout::kStructType, &guid, 4);
      std::memset(At(i) + sl_layout::kStructType + 4, 0xA5, 12);
      const std::uint32_t colour = 1;  // not depth
      std::memcpy(At(i) + sl_layout::kTagType, &colour, 4);
    }
  }
  unsigned char* At(std::uint32_t i) { return bytes_.data() + std::size_t{i} * stride_; }
  void Set(std::uint32_t i, std::uint32_t type, const Resource* resource, const Extent* extent = nullptr,
           std::uint32_t lifecycle = 0) {
    std::memcpy(At(i) + sl_layout::kTagType, &type, 4);
    const std::uint64_t r = Addr(resource), e = Addr(extent);
    std::memcpy(At(i) + sl_layout::kTagResource, &r, 8);
    std::memcpy(At(i) + sl_layout::kTagExtent, &e, 8);
    std::memcpy(At(i) + sl_layout::kTagLifecycle, &lifecycle, 4);
  }
  std::uint64_t Address() const { return Addr(bytes_.data()); }

 private:
  std::uint32_t stride_;
  std::vector<unsigned char> bytes_;
};

TEST(UpscalerTags, StrideOfTheTagArray) {
  PlainMemory memory;
  struct Case {
    std::uint32_t count, stride, expected;
  };
  for (const Case& c : {Case{2, 64, 64}, Case{5, 56, 56}, Case{3, 128, 128}, Case{2, 48, 48}, Case{4, 96, 96}}) {
    TagArray tags(c.count, c.stride);
    EXPECT_EQ(TagArrayStride(memory, tags.Address(), c.count), c.expected) << c.stride;
  }
  // One tag: 64 without looking at memory at all.
  EXPECT_EQ(TagArrayStride(memory, 0, 1), 64u);
  // No second tag's type at any candidate offset: the array is not read.
  TagArray odd(2, 136);
  EXPECT_EQ(TagArrayStride(memory, odd.Address(), 2), 0u);
  EXPECT_EQ(TagDump(memory, odd.Address(), 2, 0), " (stride 0)");
}

TEST(UpscalerTags, DepthTagChoice) {
  PlainMemory memory;
  Resource first(0x1000, 0x80), second(0x2000), nullNative(0);
  const Extent zeroWidth{4, 8, 0, 600}, area{10, 20, 1600, 900};
  {
    // Two depth tags: the first with a resource wins; a depth tag without resource is passed over.
    TagArray tags(4, 64);
    tags.Set(0, 0, nullptr);
    tags.Set(1, 0, &first, &zeroWidth, 2);
    tags.Set(2, 0, &second, &area);
    const auto depth = FindDepthTag(memory, tags.Address(), 4, 64);
    ASSERT_TRUE(depth.has_value());
    EXPECT_EQ(depth->native, 0x1000u);
    EXPECT_EQ(depth->state, 0x80u);
    EXPECT_EQ(depth->lifecycle, 2u);
    EXPECT_FALSE(depth->hasExtent);  // zero width: no extent
  }
  {
    TagArray tags(2, 72);
    tags.Set(1, 0, &second, &area);
    const auto depth = FindDepthTag(memory, tags.Address(), 2, 72);
    ASSERT_TRUE(depth.has_value());
    EXPECT_TRUE(depth->hasExtent);
    EXPECT_EQ(std::vector<std::uint32_t>({depth->x, depth->y, depth->width, depth->height}),
              std::vector<std::uint32_t>({20, 10, 1600, 900}));
  }
  {
    // The first depth tag's native resource is null: nothing, even with a good one after it.
    TagArray tags(2, 64);
    tags.Set(0, 0, &nullNative);
    tags.Set(1, 0, &second);
    EXPECT_FALSE(FindDepthTag(memory, tags.Address(), 2, 64).has_value());
  }
  {
    // Only the first 32 tags are walked, however many the count claims.
    TagArray tags(40, 64);
    tags.Set(35, 0, &second);
    EXPECT_FALSE(FindDepthTag(memory, tags.Address(), 40, 64).has_value());
    EXPECT_FALSE(FindDepthTag(memory, tags.Address(), 40, 0).has_value());
  }
}

TEST(UpscalerTags, RecordsAndCountsEveryCallAndDumpsOnlyTheFirstThree) {
  PlainMemory memory;
  Resource depth(0x3000, 0x20);
  TagArray tags(20, 64);
  tags.Set(3, 0, &depth);
  const std::int32_t callsBefore = Counters().tagCalls.load(), depthBefore = Counters().depthTags.load();
  const std::uint64_t sequence = CopyDepthTag().sequence;
  const auto lines = CaptureLog(
      [&] {
        for (int i = 0; i < 5; ++i) OnSetTag(memory, i % 2 ? "slSetTagForFrame" : "slSetTag", tags.Address(), 20, 1234);
        OnSetTag(memory, "slSetTag", 0, 0, 1234);  // no array: counted, nothing else
      },
      "DLSS tags");
  EXPECT_EQ(Counters().tagCalls.load() - callsBefore, 6);
  EXPECT_EQ(Counters().depthTags.load() - depthBefore, 5);
  const DepthTagRecord rec = CopyDepthTag();
  EXPECT_EQ(rec.sequence, sequence + 5);
  EXPECT_EQ(rec.native, 0x3000u);
  EXPECT_EQ(rec.state, 0x20u);
  EXPECT_EQ(rec.tick, 1234u);
  EXPECT_STREQ(rec.function, "slSetTag");
  // Dumps limited to the first three calls (this process may have made some already), each
  // within its buffer: at most 14 tags written.
  ASSERT_LE(lines.size(), 3u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind("DLSS tags via slSetTag", 0), 0u) << line;
    EXPECT_NE(line.find(" (stride 64) [0] guid 4C6A5D2B v0 type 1"), std::string::npos) << line;
    EXPECT_NE(line.find("[13]"), std::string::npos);
    EXPECT_EQ(line.find("[14]"), std::string::npos);
    EXPECT_LT(line.size(), 2048u);
  }
}

// References as a Direct3D object would count them; addresses below 0x100 are no resource.
class CountingKeeper final : public DepthResourceKeeper {
 public:
  std::map<std::uint64_t, int> references;
  int takes = 0;
  DepthRefusal Take(std::uint64_t resource) override {
    ++takes;
    if (resource < 0x100) return DepthRefusal::NotResource;
    ++references[resource];
    return DepthRefusal::None;
  }
  void AddRef(std::uint64_t resource) override { ++references[resource]; }
  void Release(std::uint64_t resource) override { --references[resource]; }
};

// The record holds each tagged buffer with a reference taken in the tagging call: a pair tagged in
// turn is taken once each, a fourth buffer lets the least recently tagged go, one no longer tagged
// is let go after a while, a refused pointer is asked about once, and a copy carries its own
// reference.
TEST(UpscalerTags, DepthBuffersHeldWithReferencesAndKnownByIdentity) {
  PlainMemory memory;
  CountingKeeper keeper;
  std::uint32_t tick = 50'000;
  const auto tag = [&](std::uint64_t native) {
    Resource depth(native, 0x10);
    TagArray tags(1, 64);
    tags.Set(0, 0, &depth);
    OnSetTag(memory, "slSetTag", tags.Address(), 1, tick += 16, &keeper);
    return CopyDepthTag();
  };
  const DepthTagRecord a = tag(0xA000), b = tag(0xB000);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(tag(i % 2 ? 0xB000 : 0xA000).identity, i % 2 ? b.identity : a.identity);
  }
  EXPECT_EQ(keeper.takes, 2);
  EXPECT_NE(a.identity, b.identity);
  EXPECT_EQ(keeper.references[0xA000], 1);

  tag(0xC000);
  const DepthTagRecord d = tag(0xD000);  // A was tagged longest ago
  EXPECT_EQ(keeper.references[0xA000], 0);
  EXPECT_EQ(keeper.references[0xB000], 1);
  // A new buffer where A lay is another buffer.
  const DepthTagRecord again = tag(0xA000);
  EXPECT_NE(again.identity, a.identity);
  EXPECT_EQ(keeper.references[0xA000], 1);
  EXPECT_EQ(keeper.references[0xB000], 0);

  // Untagged for longer than the limit: let go at the next tag.
  tick += kHeldDepthForgetMs + 1;
  EXPECT_EQ(tag(0xD000).identity, d.identity);
  EXPECT_EQ(keeper.references[0xC000], 0);
  EXPECT_EQ(keeper.references[0xA000], 0);
  EXPECT_EQ(keeper.references[0xD000], 1);

  const int takes = keeper.takes;
  for (int i = 0; i < 3; ++i) {
    const DepthTagRecord refused = tag(0x40);
    EXPECT_EQ(refused.identity, 0u);
    EXPECT_EQ(refused.refusal, DepthRefusal::NotResource);
  }
  EXPECT_EQ(keeper.takes, takes + 1);

  tag(0xD000);
  const DepthTagRecord copy = CopyDepthTag(&keeper);
  EXPECT_TRUE(copy.referenced);
  EXPECT_EQ(keeper.references[0xD000], 2);
  keeper.Release(copy.native);
  // Nothing of this test's stays held for the tests after it.
  tick += kHeldDepthForgetMs + 1;
  tag(0x41);
  EXPECT_EQ(keeper.references[0xD000], 0);
}

TEST(UpscalerConstants, PlausibilityAndTheOneTimeRefusal) {
  using namespace sl_layout;
  std::vector<float> good(kConstantsFloatsRead, 0.0f);
  good[kViewToClip] = 1.2f;
  good[kViewToClip + 5] = -2.1f;  // a flipped y scale is accepted by its absolute value
  good[kCameraPos] = 100.0f;
  good[kCameraUp + 1] = 1.0f;
  good[kCameraRight] = 1.0f;
  good[kCameraFwd + 2] = 1.0f;
  EXPECT_TRUE(DlssConstantsPlausible(good.data()));

  struct Case {
    const char* what;
    int index;
    float value;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Case& c : {Case{"forward 0.9 long", kCameraFwd + 2, 0.9f}, Case{"up 1.1 long", kCameraUp + 1, 1.1f},
                        Case{"x scale 20", kViewToClip, 20.0f}, Case{"x scale 0.1", kViewToClip, 0.1f},
                        Case{"y scale -25", kViewToClip + 5, -25.0f}, Case{"NaN position", kCameraPos + 1, nan},
                        Case{"infinite position", kCameraPos + 2, std::numeric_limits<float>::infinity()},
                        Case{"NaN forward", kCameraFwd, nan}}) {
    std::vector<float> bad = good;
    bad[c.index] = c.value;
    EXPECT_FALSE(DlssConstantsPlausible(bad.data())) << c.what;
  }
  // Squared length 0.985 is within 0.02 of 1.
  std::vector<float> nearly = good;
  nearly[kCameraFwd + 2] = std::sqrt(0.985f);
  EXPECT_TRUE(DlssConstantsPlausible(nearly.data()));

  PlainMemory memory;
  std::vector<float> refused = good;
  refused[kCameraFwd + 2] = 0.9f;
  const std::uint64_t sequence = CopyDlssCamera().sequence;
  const auto lines = CaptureLog(
      [&] {
        OnSetConstants(memory, Addr(refused.data()), 50);
        OnSetConstants(memory, Addr(refused.data()), 60);
      },
      "DLSS camera");
  EXPECT_EQ(CopyDlssCamera().sequence, sequence);  // the game camera stays in use
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "DLSS camera: unexpected constants layout, using the game camera. floats 8..15: 1.200 0.000 0.000 0.000 "
            "0.000 -2.100 0.000 0.000 | 94..109: 100.00 0.00 0.00 0.000 1.000 0.000 1.000 0.000 0.000 0.000 0.000 "
            "0.900 0.000 0.000 0.000 0.000");

  OnSetConstants(memory, Addr(good.data()), 70);
  const DlssCameraRecord cam = CopyDlssCamera();
  EXPECT_EQ(cam.sequence, sequence + 1);
  EXPECT_EQ(cam.tick, 70u);
  EXPECT_FLOAT_EQ(cam.projX, 1.2f);
  EXPECT_FLOAT_EQ(cam.projY, 2.1f);
  EXPECT_FLOAT_EQ(cam.viewToClip[5], -2.1f);
  EXPECT_FLOAT_EQ(cam.position[0], 100.0f);
  EXPECT_FLOAT_EQ(cam.forward[2], 1.0f);
  EXPECT_FLOAT_EQ(cam.right[0], 1.0f);
}

// A FidelityFX descriptor: type, next, then the fields up to the game queue.
struct Descriptor {
  std::uint64_t words[8] = {};
  Descriptor(std::uint64_t type, void* swapchainOut, std::uint64_t queue, int queueWord) {
    words[0] = type;
    words[2] = Addr(swapchainOut);
    words[queueWord] = queue;
  }
};

TEST(UpscalerFidelityFx, FrameGenerationSwapChainOnlyAfterSuccess) {
  PlainMemory memory;
  void* swapchain = reinterpret_cast<void*>(0x5000);
  void* noSwapchain = nullptr;
  Descriptor wrap(0x30001, &swapchain, 0x7000, 3), fresh(0x30005, &swapchain, 0x7100, 5),
      forHwnd(0x30006, &swapchain, 0x7200, 7), other(0x10000, nullptr, 0, 3), empty(0x30005, &noSwapchain, 0x7100, 5),
      noQueue(0x30006, &swapchain, 0, 7);
  struct Case {
    const char* what;
    Descriptor* chain;
    std::uint32_t result;
    std::uint64_t queue;  // 0: no hand-over
  };
  for (const Case& c :
       {Case{"wrap", &wrap, 0, 0x7000}, Case{"new", &fresh, 0, 0x7100}, Case{"hwnd", &forHwnd, 0, 0x7200},
        Case{"failed", &fresh, 0x80000001u, 0}, Case{"not frame generation", &other, 0, 0},
        Case{"no swap chain made", &empty, 0, 0}, Case{"no game queue", &noQueue, 0, 0}}) {
    const auto found = OnFfxContextCreated(memory, Addr(c.chain), c.result);
    EXPECT_EQ(found.has_value(), c.queue != 0) << c.what;
    if (found) {
      EXPECT_EQ(found->queue, c.queue) << c.what;
      EXPECT_EQ(found->swapchain, 0x5000u) << c.what;
    }
  }
  // Further down the chain, and a chain that loops on itself ends after 16 links.
  other.words[1] = Addr(&fresh);
  EXPECT_TRUE(OnFfxContextCreated(memory, Addr(&other), 0).has_value());
  Descriptor loop(0x10000, nullptr, 0, 3);
  loop.words[1] = Addr(&loop);
  EXPECT_FALSE(OnFfxContextCreated(memory, Addr(&loop), 0).has_value());
  EXPECT_FALSE(OnFfxContextCreated(memory, 0, 0).has_value());
  // Only the first 8 creations are logged.
  EXPECT_EQ(CaptureLog([&] { (void)OnFfxContextCreated(memory, Addr(&wrap), 0); }, "FidelityFX").size(), 0u);
}

}  // namespace
}  // namespace pathlight
