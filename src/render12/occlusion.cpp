#include "render12/occlusion.hpp"

#include <algorithm>
#include <cmath>

#include "platform/log.hpp"

namespace pathlight {

namespace {

// A record stored after `now` was read (on another thread, or during a slow frame) is fresh; the
// signed difference also carries across the tick count's wrap.
bool Fresh(std::uint32_t now, std::uint32_t tick) {
  return static_cast<std::int32_t>(now - tick) <= static_cast<std::int32_t>(kUpscalerRecordFreshMs);
}

float Distance3(const float a[3], const float b[3]) {
  const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void Copy3(float to[3], const float from[3]) { std::copy(from, from + 3, to); }

}  // namespace

void MergeDlssCamera(GameSnapshot& snapshot, const CameraMergeInputs& inputs, std::atomic<bool>& compared) {
  const DlssCameraRecord& dlss = inputs.record;
  if (!inputs.enabled || dlss.sequence == 0 || !Fresh(inputs.now, dlss.tick)) return;

  const float apart = Distance3(dlss.position, snapshot.cameraPosition);
  if (snapshot.cameraValid && !compared.exchange(true)) {
    Log("DLSS camera: pos (%.2f,%.2f,%.2f) fwd (%.3f,%.3f,%.3f) proj %.3f/%.3f; game camera pos (%.2f,%.2f,%.2f) fwd "
        "(%.3f,%.3f,%.3f) proj %.3f/%.3f; %.2f m apart",
        dlss.position[0], dlss.position[1], dlss.position[2], dlss.forward[0], dlss.forward[1], dlss.forward[2],
        dlss.projX, dlss.projY, snapshot.cameraPosition[0], snapshot.cameraPosition[1], snapshot.cameraPosition[2],
        snapshot.cameraColumn2[0], snapshot.cameraColumn2[1], snapshot.cameraColumn2[2], snapshot.cameraProjX,
        snapshot.cameraProjY, apart);
  }
  Copy3(snapshot.cameraColumn0, dlss.right);
  Copy3(snapshot.cameraColumn1, dlss.up);
  Copy3(snapshot.cameraColumn2, dlss.forward);
  snapshot.cameraProjX = dlss.projX;
  snapshot.cameraProjY = dlss.projY;
  // A NaN distance is not "near": the game's position stays.
  if (!snapshot.cameraValid || apart < kCameraSamePlaceMetres) Copy3(snapshot.cameraPosition, dlss.position);
  snapshot.cameraValid = 1;
  snapshot.cameraFromDlss = 1;
}

std::optional<ProjectionTerms> ProjectionFrom(const float m[16]) {
  const auto at = [m](int row, int column) { return m[row * 4 + column]; };
  const auto nearOne = [](float v) { return std::fabs(v - 1.0f) <= 0.01f; };
  if (nearOne(at(2, 3))) return ProjectionTerms{at(2, 2), at(3, 2)};
  if (nearOne(at(3, 2))) return ProjectionTerms{at(2, 2), at(2, 3)};
  return std::nullopt;
}

std::int32_t DepthReadFormat(std::int32_t format) {
  switch (format) {
    case 19: return 21;  // R32G8X24_TYPELESS -> R32_FLOAT_X8X24_TYPELESS
    case 39:             // R32_TYPELESS
    case 41: return 41;  // R32_FLOAT
    case 44: return 46;  // R24G8_TYPELESS -> R24_UNORM_X8_TYPELESS
    case 53:             // R16_TYPELESS
    case 56: return 56;  // R16_UNORM
    default: return 0;
  }
}

bool DepthReadable(const ResourceDescription& d) {
  return d.dimension == kDimensionTexture2D && d.samples == 1 && DepthReadFormat(d.format) != 0 &&
         (d.flags & kFlagDenyShaderResource) == 0;
}

const DepthChooser::Examined& DepthChooser::Examine(const DepthChoiceInputs& in, const ProjectionTerms& projection,
                                                    DepthResourceFacts& facts) {
  for (const Examined& e : examined_) {
    if (e.identity == in.tag.identity) return e;
  }
  Examined& e = examined_[nextExamined_];
  nextExamined_ = (nextExamined_ + 1) % kHeldDepthResources;
  ++examinedCount_;
  e = Examined{};
  e.identity = in.tag.identity;
  e.description = facts.Describe(in.tag.native);
  e.readFormat = DepthReadFormat(e.description.format);
  e.usable = DepthReadable(e.description);
  const ResourceDescription& d = e.description;
  if (!e.usable) {
    Log("Occlusion: depth %llux%u format %d dimension %d samples %u flags 0x%X is not readable; no occlusion",
        static_cast<unsigned long long>(d.width), d.height, d.format, static_cast<int>(d.dimension), d.samples,
        d.flags);
  } else if (examinedCount_ <= kDepthLinesLogged) {
    Log("Occlusion: depth via %s: %llux%u format %d (read as %d), state 0x%X, lifecycle %u, extent %s%u,%u %ux%u; "
        "projection m22=%.6f m32=%.6f",
        in.tag.function, static_cast<unsigned long long>(d.width), d.height, d.format, e.readFormat, in.tag.state,
        in.tag.lifecycle, in.tag.hasExtent ? "" : "(none) ", in.tag.x, in.tag.y, in.tag.width, in.tag.height,
        projection.m22, projection.m32);
  }
  return e;
}

bool DepthReadState(std::uint32_t state) {
  constexpr std::uint32_t kDepthWrite = 0x10;
  // Depth read, non-pixel and pixel shader resource, copy source, resolve source.
  constexpr std::uint32_t kReadStates = 0x20 | 0x40 | 0x80 | 0x800 | 0x2000;
  return state == 0 || state == kDepthWrite || (state & ~kReadStates) == 0;
}

std::optional<DepthSource> DepthChooser::Choose(const DepthChoiceInputs& in, DepthResourceFacts& facts) {
  if (!in.occlusionEnabled || !in.tagHooked || !in.constantsHooked) return std::nullopt;

  const char* reason = nullptr;
  if (in.tag.sequence == 0) {
    reason = "the game has not tagged a depth buffer";
  } else if (!Fresh(in.now, in.tag.tick)) {
    reason = "the depth tag is stale";
  } else if (in.camera.sequence == 0 || !Fresh(in.now, in.camera.tick)) {
    reason = "no fresh DLSS constants";
  } else if (in.tag.state == kNoResourceState) {
    reason = "the depth tag has no resource state";
  } else if (!DepthReadState(in.tag.state)) {
    // The frame's barrier starts from this state: one a depth buffer cannot be in would be an
    // invalid transition on the game's queue.
    reason = "the depth tag's resource state is not one a depth buffer is read from";
  }
  if (reason != nullptr) {
    if (lastReason_ != reason) {
      lastReason_ = reason;
      Log("Occlusion: not used yet: %s (tag calls %ld, depth tags %ld, evaluate calls %ld)", reason,
          static_cast<long>(in.tagCalls), static_cast<long>(in.depthTags), static_cast<long>(in.evaluateCalls));
    }
    return std::nullopt;
  }

  if (projectionRefused_) return std::nullopt;
  const std::optional<ProjectionTerms> projection = ProjectionFrom(in.camera.viewToClip);
  if (!projection) {
    const float* m = in.camera.viewToClip;
    Log("Occlusion: unexpected projection (%.4f %.4f %.4f %.4f); no occlusion", m[10], m[11], m[14], m[15]);
    projectionRefused_ = true;
    return std::nullopt;
  }

  if (in.tag.identity == 0) {
    // Not held by the tag record: nothing may be asked of the pointer.
    if (in.tag.native != refusedNative_) {
      refusedNative_ = in.tag.native;
      if (in.tag.refusal == DepthRefusal::NotInModule) {
        Log("Occlusion: the depth tag does not point at a D3D12 resource (layout changed?)");
      } else if (in.tag.refusal == DepthRefusal::NotResource) {
        Log("Occlusion: the depth tag is not an ID3D12Resource");
      }
    }
    return std::nullopt;
  }
  const Examined& examined = Examine(in, *projection, facts);
  if (!examined.usable) return std::nullopt;
  const ResourceDescription& description = examined.description;

  DepthSource source;
  source.resource = in.tag.native;
  source.readFormat = examined.readFormat;
  source.state = in.tag.state;
  source.textureWidth = description.width;
  source.textureHeight = description.height;
  // An empty extent would make every pixel read one texel: the whole texture is the better guess.
  if (in.tag.hasExtent && in.tag.width > 0 && in.tag.height > 0) {
    source.x = in.tag.x;
    source.y = in.tag.y;
    source.width = in.tag.width;
    source.height = in.tag.height;
  } else {
    source.width = static_cast<std::uint32_t>(std::min<std::uint64_t>(description.width, 0xFFFFFFFFu));
    source.height = description.height;
  }
  source.projection = *projection;
  return source;
}

OcclusionConstants MakeOcclusionConstants(std::uint32_t screenWidth, std::uint32_t screenHeight,
                                          const DepthSource& depth, const Settings& settings) {
  OcclusionConstants c;
  c.invScreen[0] = 1.0f / static_cast<float>(std::max<std::uint32_t>(screenWidth, 1));
  c.invScreen[1] = 1.0f / static_cast<float>(std::max<std::uint32_t>(screenHeight, 1));
  c.dSize[0] = static_cast<float>(depth.width);
  c.dSize[1] = static_cast<float>(depth.height);
  c.dOff[0] = static_cast<float>(depth.x);
  c.dOff[1] = static_cast<float>(depth.y);
  c.dMax[0] = static_cast<float>(std::max<std::uint64_t>(depth.textureWidth, 1) - 1);
  c.dMax[1] = static_cast<float>(std::max<std::uint32_t>(depth.textureHeight, 1) - 1);
  c.m22 = depth.projection.m22;
  c.m32 = depth.projection.m32;
  c.tolBase = settings.occlusionTolerance;
  c.tolSlope = settings.occlusionSlope;
  return c;
}

}  // namespace pathlight
