// The Streamline and FidelityFX structures a game hands to the upscaler detours, read over an
// address space built from the input (fuzz_memory.hpp) through the same guarded reads.
// Header: u64 tags, u32 tag count, u32 stride, u64 constants, u64 evaluation inputs, u32 input
// count, u32 feature, u64 FidelityFX chain, u32 creation result; then the address space.
//
// Checked: the stride is 64, 0 or one of 48..128; a depth tag found has a native resource and an
// extent only with a width and a height; a stored camera is one the occlusion code may use (unit
// forward and up, projection scales in range, a finite position); the dump lines stay inside
// their buffers; a frame-generation swap chain found has its type, swap chain and queue; and
// every walk makes a bounded number of reads whatever the counts say.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_memory.hpp"
#include "fuzz_target.hpp"
#include "hooks/upscaler.hpp"

namespace pathlight::fuzzing {
namespace {

bool Unit(const float* v) { return std::fabs(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] - 1.0f) <= 0.02f; }
bool Scale(float s) { return s > 0.1f && s < 20.0f; }

// Runs `walk` and fails when it read more than `most` times.
template <typename Walk> auto Bounded(FuzzMemory& memory, int most, const char* what, Walk walk) {
  const int before = memory.reads;
  auto result = walk();
  if (memory.reads - before > most) Broken(what);
  return result;
}

}  // namespace

void FuzzInput(InputReader& input) {
  const auto tags = input.Take<std::uint64_t>();
  const auto count = input.Take<std::uint32_t>();
  const auto givenStride = input.Take<std::uint32_t>();
  const auto constants = input.Take<std::uint64_t>();
  const auto inputs = input.Take<std::uint64_t>();
  const auto inputCount = input.Take<std::uint32_t>();
  const auto feature = input.Take<std::uint32_t>();
  const auto chain = input.Take<std::uint64_t>();
  const auto result = input.Take<std::uint32_t>();
  FuzzMemory memory(input.Rest());

  const std::uint32_t stride = Bounded(memory, 1, "stride reads", [&] { return TagArrayStride(memory, tags, count); });
  if (!(stride == 0 || (count < 2 && stride == 64) || (stride >= 48 && stride <= 128 && stride % 8 == 0))) {
    Broken("stride");
  }
  for (const std::uint32_t s : {stride, givenStride}) {
    const auto depth = Bounded(memory, 32 + 2, "depth tag reads", [&] { return FindDepthTag(memory, tags, count, s); });
    if (depth && (depth->native == 0 || (depth->hasExtent && (depth->width == 0 || depth->height == 0)))) {
      Broken("depth tag");
    }
    const std::string dump = Bounded(memory, 14 * 3, "tag dump reads", [&] { return TagDump(memory, tags, count, s); });
    if (dump.size() >= 2048) Broken("tag dump beyond its buffer");
  }
  const std::string evaluate =
      Bounded(memory, 16 * 2, "evaluate dump reads", [&] { return EvaluateDump(memory, inputs, inputCount); });
  if (evaluate.size() >= 1024) Broken("evaluate dump beyond its buffer");

  const std::uint64_t cameras = CopyDlssCamera().sequence;
  Bounded(memory, 1, "constants reads", [&] {
    OnSetConstants(memory, constants, 7);
    return 0;
  });
  const DlssCameraRecord camera = CopyDlssCamera();
  if (camera.sequence != cameras) {
    if (!Unit(camera.forward) || !Unit(camera.up) || !Scale(camera.projX) || !Scale(camera.projY) ||
        !std::isfinite(camera.position[0]) || !std::isfinite(camera.position[1]) ||
        !std::isfinite(camera.position[2])) {
      Broken("an unusable camera stored");
    }
  }
  const std::int32_t depthTags = Counters().depthTags.load();
  Bounded(memory, 1 + 14 * 3 + 32 + 2, "tag call reads", [&] {
    OnSetTag(memory, "slSetTag", tags, count, 7);
    return 0;
  });
  if (Counters().depthTags.load() != depthTags && CopyDepthTag().native == 0) Broken("a depth tag without resource");
  Bounded(memory, 16 * 2, "evaluate reads", [&] {
    OnEvaluateFeature(memory, feature, inputs, inputCount);
    return 0;
  });
  const auto swapChain =
      Bounded(memory, 1 + 16 + 3, "FidelityFX chain reads", [&] { return OnFfxContextCreated(memory, chain, result); });
  if (swapChain) {
    if (result != 0 || swapChain->swapchain == 0 || swapChain->queue == 0 ||
        (swapChain->type != ffx_layout::kWrapSwapchain && swapChain->type != ffx_layout::kNewSwapchain &&
         swapChain->type != ffx_layout::kNewSwapchainForHwnd)) {
      Broken("frame-generation swap chain");
    }
  }
}

}  // namespace pathlight::fuzzing
