// The DLSS camera merged into the frame's snapshot, the choice and validation of the game's depth
// buffer for the occluded ribbon, and the constants its shader reads.
//
// The camera and depth-tag records come from the Streamline detours on the game's threads; these
// operations run on the presenting thread with their own copies. What must be asked of Direct3D
// about a tagged pointer goes through DepthResourceFacts, so the decisions stay portable.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "game/game_snapshot.hpp"
#include "hooks/upscaler.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// Camera records and depth tags older than this no longer describe the frame being presented.
inline constexpr std::uint32_t kUpscalerRecordFreshMs = 250;
// Positions further apart than this are two different cameras (a cut-scene, a photo mode): the
// game's own stays.
inline constexpr float kCameraSamePlaceMetres = 5.0f;

struct CameraMergeInputs {
  bool enabled = false;  // [World] DlssCamera and slSetConstants hooked
  DlssCameraRecord record;
  std::uint32_t now = 0;
};

// Replaces the snapshot's camera by the DLSS camera when one is fresh. Logs the one comparison
// line the first time it runs with a valid game camera (`compared` is the process-wide flag).
void MergeDlssCamera(GameSnapshot& snapshot, const CameraMergeInputs& inputs, std::atomic<bool>& compared);

// ---- depth ---------------------------------------------------------------------------------------

struct ProjectionTerms {
  float m22 = 0;
  float m32 = 0;
};

// m22 and m32 of the view-to-clip matrix (row-major), in its own or the transposed layout; nothing
// when neither layout has the perspective 1 where it belongs.
[[nodiscard]] std::optional<ProjectionTerms> ProjectionFrom(const float viewToClip[16]);

// The fields of D3D12_RESOURCE_DESC the depth view depends on.
struct ResourceDescription {
  std::uint32_t dimension = 0;  // 3: texture 2D
  std::uint64_t width = 0;
  std::uint32_t height = 0;
  std::int32_t format = 0;
  std::uint32_t samples = 0;
  std::uint32_t flags = 0;  // 0x8: deny shader resource
};

inline constexpr std::uint32_t kDimensionTexture2D = 3;
inline constexpr std::uint32_t kFlagDenyShaderResource = 0x8;
inline constexpr std::uint32_t kStatePixelShaderResource = 0x80;

// Whether a depth buffer can be in this D3D12 resource state and read after a transition: COMMON,
// DEPTH_WRITE alone, or read states only (depth read, shader resources, copy and resolve sources).
[[nodiscard]] bool DepthReadState(std::uint32_t state);

// The format a shader-resource view reads a depth format as; 0 when there is none.
[[nodiscard]] std::int32_t DepthReadFormat(std::int32_t format);
[[nodiscard]] bool DepthReadable(const ResourceDescription& description);

// What Direct3D tells about a tagged buffer the tag record holds (a checked ID3D12Resource).
class DepthResourceFacts {
 public:
  virtual ~DepthResourceFacts() = default;
  [[nodiscard]] virtual ResourceDescription Describe(std::uint64_t resource) = 0;
};

// One frame's depth buffer: the tag's resource, on which the caller's copy of the tag holds a
// reference.
struct DepthSource {
  std::uint64_t resource = 0;
  std::int32_t readFormat = 0;
  std::uint32_t state = 0;
  std::uint32_t x = 0, y = 0, width = 0, height = 0;  // the area holding the game's image
  std::uint64_t textureWidth = 0;
  std::uint32_t textureHeight = 0;
  ProjectionTerms projection;
};

struct DepthChoiceInputs {
  bool occlusionEnabled = false;  // [World] Occlusion
  bool tagHooked = false;         // slSetTag or slSetTagForFrame
  bool constantsHooked = false;   // slSetConstants
  DepthTagRecord tag;
  DlssCameraRecord camera;
  std::uint32_t now = 0;
  std::int32_t tagCalls = 0, depthTags = 0, evaluateCalls = 0;
};

// The reasons it logs and the resources it examined live for the process (one per presenting
// renderer); each reason is logged once per change, each resource once, so a game that tags two or
// three buffers in turn has each examined once. Resources are remembered by the tag record's
// identity, never by address: a buffer made where a released one lay is examined anew.
class DepthChooser {
 public:
  [[nodiscard]] std::optional<DepthSource> Choose(const DepthChoiceInputs& inputs, DepthResourceFacts& facts);

 private:
  struct Examined {
    std::uint64_t identity = 0;
    bool usable = false;
    ResourceDescription description;
    std::int32_t readFormat = 0;
  };
  const Examined& Examine(const DepthChoiceInputs& in, const ProjectionTerms& projection, DepthResourceFacts& facts);

  std::string lastReason_;
  bool projectionRefused_ = false;
  Examined examined_[kHeldDepthResources];
  int nextExamined_ = 0;
  std::uint64_t refusedNative_ = 0;  // the last pointer refused by the tag record, logged once
  int examinedCount_ = 0;
};

// The depth resources it reports on with a "depth via" line.
inline constexpr int kDepthLinesLogged = 6;

// ---- the shader's constants ------------------------------------------------------------------

struct OcclusionConstants {
  float invScreen[2] = {};
  float dSize[2] = {};
  float dOff[2] = {};
  float dMax[2] = {};
  float m22 = 0, m32 = 0;
  float tolBase = 0, tolSlope = 0;
};
static_assert(sizeof(OcclusionConstants) == 12 * sizeof(float), "twelve root constants");

[[nodiscard]] OcclusionConstants MakeOcclusionConstants(std::uint32_t screenWidth, std::uint32_t screenHeight,
                                                        const DepthSource& depth, const Settings& settings);

}  // namespace pathlight
