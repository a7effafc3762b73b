#include "hooks/upscaler.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/log.hpp"

namespace pathlight {

namespace {

constexpr std::uint32_t kDefaultTagStride = 64;
constexpr std::uint32_t kFirstStride = 48, kLastStride = 128, kStrideStep = 8;
constexpr std::uint32_t kMaxTagsWalked = 32;
constexpr std::int32_t kTagDumpCalls = 3;
constexpr std::int32_t kEvaluateDumpCalls = 4;
constexpr std::int32_t kFfxCreationsLogged = 8;
constexpr int kMaxFfxLinks = 16;

// A depth buffer the tag record holds a reference on.
struct HeldDepth {
  std::uint64_t native = 0;  // 0: a free place
  std::uint64_t identity = 0;
  std::uint32_t lastTagTick = 0;
};

struct UpscalerRecords {
  std::mutex cameraMutex;
  DlssCameraRecord camera;
  std::mutex tagMutex;
  DepthTagRecord tag;
  HeldDepth held[kHeldDepthResources];
  std::uint64_t identities = 0;
  std::uint64_t refusedNative = 0;  // the last pointer refused, not asked about again while tagged
  DepthRefusal refused = DepthRefusal::None;
};

UpscalerRecords& Records() {
  static UpscalerRecords records;
  return records;
}

// A fixed buffer filled as the diagnostic lines have always been: snprintf into what remains,
// cut where the buffer ends.
class LineBuffer {
 public:
  LineBuffer(char* data, std::size_t size) : data_(data), size_(size) { data_[0] = '\0'; }
  std::size_t Remaining() const { return size_ - used_; }
  void Append(const char* format, ...) PATHLIGHT_PRINTF(2, 3) {
    if (Remaining() <= 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(data_ + used_, Remaining(), format, args);
    va_end(args);
    if (n > 0) used_ = std::min(size_ - 1, used_ + static_cast<std::size_t>(n));
  }

 private:
  char* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

std::uint32_t Load32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool UnitLength(const float* v) { return std::fabs(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] - 1.0f) <= 0.02f; }

bool PlausibleScale(float s) { return s > 0.1f && s < 20.0f; }

}  // namespace

DlssCameraRecord CopyDlssCamera() {
  UpscalerRecords& r = Records();
  std::lock_guard lock(r.cameraMutex);
  return r.camera;
}

DepthTagRecord CopyDepthTag(DepthResourceKeeper* keeper) {
  UpscalerRecords& r = Records();
  std::lock_guard lock(r.tagMutex);
  DepthTagRecord copy = r.tag;
  copy.referenced = false;
  if (keeper != nullptr && copy.identity != 0) {
    keeper->AddRef(copy.native);
    copy.referenced = true;
  }
  return copy;
}

namespace {

// The identity of the tagged buffer, holding it if it is new; 0 with the reason when it cannot be
// held. Under the tag mutex. A buffer no longer tagged is let go after a while, and the least
// recently tagged one when a new one needs its place.
std::uint64_t HoldDepth(UpscalerRecords& r, DepthResourceKeeper& keeper, std::uint64_t native, std::uint32_t tick,
                        DepthRefusal& refusal) {
  refusal = DepthRefusal::None;
  HeldDepth* oldest = nullptr;
  std::uint64_t identity = 0;
  for (HeldDepth& h : r.held) {
    if (h.native == 0) continue;
    if (h.native == native) {
      h.lastTagTick = tick;
      identity = h.identity;
      continue;
    }
    if (static_cast<std::int32_t>(tick - h.lastTagTick) > static_cast<std::int32_t>(kHeldDepthForgetMs)) {
      keeper.Release(h.native);
      h = HeldDepth{};
      continue;
    }
    if (oldest == nullptr || static_cast<std::int32_t>(h.lastTagTick - oldest->lastTagTick) < 0) oldest = &h;
  }
  if (identity != 0) return identity;
  if (native == r.refusedNative) {
    refusal = r.refused;
    return 0;
  }
  refusal = keeper.Take(native);
  if (refusal != DepthRefusal::None) {
    r.refusedNative = native;
    r.refused = refusal;
    return 0;
  }
  r.refusedNative = 0;
  HeldDepth* place = nullptr;
  for (HeldDepth& h : r.held) {
    if (h.native == 0) place = &h;
  }
  if (place == nullptr) {
    place = oldest;
    keeper.Release(place->native);
  }
  *place = HeldDepth{native, ++r.identities, tick};
  return place->identity;
}

}  // namespace

UpscalerCounters& Counters() {
  static UpscalerCounters counters;
  return counters;
}

bool DlssConstantsPlausible(const float* c) {
  using namespace sl_layout;
  return UnitLength(c + kCameraFwd) && UnitLength(c + kCameraUp) && PlausibleScale(c[kViewToClip]) &&
         PlausibleScale(std::fabs(c[kViewToClip + 5])) && std::isfinite(c[kCameraPos]) &&
         std::isfinite(c[kCameraPos + 1]) && std::isfinite(c[kCameraPos + 2]);
}

std::uint32_t TagArrayStride(GameMemory& memory, std::uint64_t tags, std::uint32_t count) {
  if (count < 2) return kDefaultTagStride;
  // The first tag's type and every candidate position of the second tag's, in one read.
  unsigned char head[kLastStride + sl_layout::kStructType + 16];
  const std::size_t got = memory.ReadSome(tags, head, sizeof head);
  if (got < sl_layout::kStructType + 16) return 0;
  for (std::uint32_t stride = kFirstStride; stride <= kLastStride; stride += kStrideStep) {
    const std::size_t at = stride + sl_layout::kStructType;
    if (at + 16 > got) break;
    if (std::memcmp(head + at, head + sl_layout::kStructType, 16) == 0) return stride;
  }
  return 0;
}

std::optional<DepthTag> FindDepthTag(GameMemory& memory, std::uint64_t tags, std::uint32_t count,
                                     std::uint32_t stride) {
  using namespace sl_layout;
  if (tags == 0 || stride == 0) return std::nullopt;
  const std::uint32_t walked = std::min(count, kMaxTagsWalked);
  for (std::uint32_t i = 0; i < walked; ++i) {
    const std::uint64_t tag = tags + static_cast<std::uint64_t>(i) * stride;
    unsigned char bytes[kTagExtent + 8];
    if (!memory.Read(tag, bytes, sizeof bytes)) return std::nullopt;
    const std::uint64_t resource = Load64(bytes + kTagResource);
    if (Load32(bytes + kTagType) != 0 || resource == 0) continue;
    // The first depth tag with a resource is the one; a null native resource records nothing.
    unsigned char res[kResourceState + 4];
    if (!memory.Read(resource, res, sizeof res)) return std::nullopt;
    DepthTag found;
    found.native = Load64(res + kResourceNative);
    if (found.native == 0) return std::nullopt;
    found.state = Load32(res + kResourceState);
    found.lifecycle = Load32(bytes + kTagLifecycle);
    const std::uint64_t extent = Load64(bytes + kTagExtent);
    std::uint32_t e[4];  // top, left, width, height
    if (extent != 0 && memory.Read(extent, e, sizeof e) && e[2] != 0 && e[3] != 0) {
      found.hasExtent = true;
      found.x = e[1];
      found.y = e[0];
      found.width = e[2];
      found.height = e[3];
    }
    return found;
  }
  return std::nullopt;
}

std::string TagDump(GameMemory& memory, std::uint64_t tags, std::uint32_t count, std::uint32_t stride) {
  using namespace sl_layout;
  char data[2048];
  LineBuffer out(data, sizeof data);
  out.Append(" (stride %u)", stride);
  if (stride == 0 || tags == 0) return data;
  std::uint32_t written = 0;
  for (std::uint32_t i = 0; i < count && written < 14 && out.Remaining() > 120; ++i) {
    unsigned char bytes[kTagExtent + 8];
    if (!memory.Read(tags + static_cast<std::uint64_t>(i) * stride, bytes, sizeof bytes)) break;
    const std::uint64_t resource = Load64(bytes + kTagResource);
    const std::uint64_t extent = Load64(bytes + kTagExtent);
    out.Append(" [%u] guid %08X v%llu type %u life %u res %p", i, Load32(bytes + kStructType),
               static_cast<unsigned long long>(Load64(bytes + kStructVersion)), Load32(bytes + kTagType),
               Load32(bytes + kTagLifecycle), reinterpret_cast<void*>(resource));
    unsigned char res[kResourceState + 4];
    if (resource != 0 && memory.Read(resource, res, sizeof res)) {
      out.Append(" (rtype %u native %p state 0x%X)", Load32(res + kResourceType),
                 reinterpret_cast<void*>(Load64(res + kResourceNative)), Load32(res + kResourceState));
    }
    std::uint32_t e[4];
    if (extent != 0 && memory.Read(extent, e, sizeof e)) out.Append(" ext %u,%u %ux%u", e[1], e[0], e[2], e[3]);
    ++written;
  }
  return data;
}

std::string EvaluateDump(GameMemory& memory, std::uint64_t inputs, std::uint32_t count) {
  char data[1024];
  LineBuffer out(data, sizeof data);
  if (inputs == 0) return data;
  for (std::uint32_t i = 0; i < count && i < 16 && out.Remaining() > 60; ++i) {
    std::uint64_t input = 0;
    if (!memory.ReadValue(inputs + 8ull * i, input)) break;
    std::uint32_t guid = 0;
    std::uint64_t version = 0;
    if (input != 0) {
      unsigned char base[sl_layout::kStructVersion + 8];
      if (memory.Read(input, base, sizeof base)) {
        guid = Load32(base + sl_layout::kStructType);
        version = Load64(base + sl_layout::kStructVersion);
      }
    }
    out.Append(" [%u] guid %08X v%llu", i, guid, static_cast<unsigned long long>(version));
  }
  return data;
}

void OnSetConstants(GameMemory& memory, std::uint64_t constants, std::uint32_t tick) {
  using namespace sl_layout;
  float c[kConstantsFloatsRead];
  if (constants == 0 || !memory.Read(constants, c, sizeof c)) return;
  if (DlssConstantsPlausible(c)) {
    UpscalerRecords& r = Records();
    std::lock_guard lock(r.cameraMutex);
    DlssCameraRecord& cam = r.camera;
    std::memcpy(cam.position, c + kCameraPos, sizeof cam.position);
    std::memcpy(cam.up, c + kCameraUp, sizeof cam.up);
    std::memcpy(cam.right, c + kCameraRight, sizeof cam.right);
    std::memcpy(cam.forward, c + kCameraFwd, sizeof cam.forward);
    cam.projX = c[kViewToClip];
    cam.projY = std::fabs(c[kViewToClip + 5]);
    std::memcpy(cam.viewToClip, c + kViewToClip, sizeof cam.viewToClip);
    cam.tick = tick;
    ++cam.sequence;
    return;
  }
  if (Counters().constantsRefused.exchange(1) != 0) return;
  Log("DLSS camera: unexpected constants layout, using the game camera. floats 8..15: %.3f %.3f %.3f %.3f %.3f %.3f "
      "%.3f %.3f | 94..109: %.2f %.2f %.2f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f %.3f",
      c[8], c[9], c[10], c[11], c[12], c[13], c[14], c[15], c[94], c[95], c[96], c[97], c[98], c[99], c[100], c[101],
      c[102], c[103], c[104], c[105], c[106], c[107], c[108], c[109]);
}

void OnSetTag(GameMemory& memory, const char* function, std::uint64_t tags, std::uint32_t count, std::uint32_t tick,
              DepthResourceKeeper* keeper) {
  UpscalerCounters& counters = Counters();
  counters.tagCalls.fetch_add(1);
  if (tags == 0 || count == 0) return;
  const std::uint32_t stride = TagArrayStride(memory, tags, count);
  if (counters.tagDumps.fetch_add(1) < kTagDumpCalls) {
    Log("DLSS tags via %s: %u tags%s", function, count, TagDump(memory, tags, count, stride).c_str());
  }
  const std::optional<DepthTag> depth = FindDepthTag(memory, tags, count, stride);
  if (!depth) return;
  counters.depthTags.fetch_add(1);
  UpscalerRecords& r = Records();
  std::lock_guard lock(r.tagMutex);
  DepthTagRecord& rec = r.tag;
  rec.native = depth->native;
  if (keeper != nullptr) {
    rec.identity = HoldDepth(r, *keeper, depth->native, tick, rec.refusal);
  } else {
    rec.identity = 0;
    rec.refusal = DepthRefusal::NoKeeper;
  }
  rec.state = depth->state;
  rec.lifecycle = depth->lifecycle;
  rec.hasExtent = depth->hasExtent;
  rec.x = depth->x;
  rec.y = depth->y;
  rec.width = depth->width;
  rec.height = depth->height;
  rec.tick = tick;
  ++rec.sequence;
  rec.function = function;
}

void OnEvaluateFeature(GameMemory& memory, std::uint32_t feature, std::uint64_t inputs, std::uint32_t count) {
  UpscalerCounters& counters = Counters();
  counters.evaluateCalls.fetch_add(1);
  if (inputs == 0 || count == 0) return;
  if (counters.evaluateDumps.fetch_add(1) < kEvaluateDumpCalls) {
    Log("DLSS evaluate: feature %u, %u inputs%s", feature, count, EvaluateDump(memory, inputs, count).c_str());
  }
}

std::optional<FrameGenerationSwapChain> OnFfxContextCreated(GameMemory& memory, std::uint64_t chain,
                                                            std::uint32_t result) {
  using namespace ffx_layout;
  std::uint64_t firstType = 0;
  if (chain != 0 && !memory.ReadValue(chain, firstType)) firstType = 0;
  if (Counters().ffxCreations.fetch_add(1) < kFfxCreationsLogged) {
    Log("FidelityFX: create context type 0x%llX -> %u", static_cast<unsigned long long>(firstType), result);
  }
  if (result != 0) return std::nullopt;
  std::uint64_t link = chain;
  for (int i = 0; i < kMaxFfxLinks && link != 0; ++i) {
    unsigned char head[16];
    if (!memory.Read(link, head, sizeof head)) return std::nullopt;
    const std::uint64_t type = Load64(head);
    std::uint64_t queueAt = 0;
    if (type == kWrapSwapchain) queueAt = 24;
    if (type == kNewSwapchain) queueAt = 40;
    if (type == kNewSwapchainForHwnd) queueAt = 56;
    if (queueAt == 0) {
      link = Load64(head + kNext);
      continue;
    }
    FrameGenerationSwapChain found;
    found.type = type;
    std::uint64_t out = 0;
    if (!memory.ReadValue(link + kSwapchainOut, out) || out == 0) return std::nullopt;
    if (!memory.ReadValue(out, found.swapchain) || found.swapchain == 0) return std::nullopt;
    if (!memory.ReadValue(link + queueAt, found.queue) || found.queue == 0) return std::nullopt;
    return found;
  }
  return std::nullopt;
}

}  // namespace pathlight
