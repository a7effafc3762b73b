// What the Streamline and FidelityFX detours learn from the game's calls, and the records they
// leave for the occlusion and DLSS camera code.
//
// The structures are read in Streamline's and FidelityFX's published 64-bit layouts, always
// through a GameMemory: the game hands these pointers over, and a layout of another version or a
// stray pointer must leave the records as they were instead of faulting the game's thread. The
// detours in upscaler_win.cpp are thin glue over these operations. Callable from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/game_memory.hpp"

namespace pathlight {

// ---- published layouts (bytes on 64-bit) ------------------------------------------------------

namespace sl_layout {
// BaseStructure
inline constexpr std::uint64_t kStructType = 8;      // GUID, 16 bytes
inline constexpr std::uint64_t kStructVersion = 24;  // 64-bit
// ResourceTag
inline constexpr std::uint64_t kTagResource = 32;  // sl::Resource*
inline constexpr std::uint64_t kTagType = 40;      // 0: depth
inline constexpr std::uint64_t kTagLifecycle = 44;
inline constexpr std::uint64_t kTagExtent = 48;  // sl::Extent*
// Resource
inline constexpr std::uint64_t kResourceType = 32;
inline constexpr std::uint64_t kResourceNative = 40;  // ID3D12Resource*
inline constexpr std::uint64_t kResourceState = 64;
// Constants, in floats from the structure's start
inline constexpr int kViewToClip = 8;  // 16 floats, row-major
inline constexpr int kCameraPos = 94;
inline constexpr int kCameraUp = 97;
inline constexpr int kCameraRight = 100;
inline constexpr int kCameraFwd = 103;
inline constexpr int kConstantsFloatsRead = 110;  // through float 109, the last one logged
}  // namespace sl_layout

namespace ffx_layout {
inline constexpr std::uint64_t kNext = 8;
inline constexpr std::uint64_t kSwapchainOut = 16;
inline constexpr std::uint64_t kWrapSwapchain = 0x30001;        // game queue at 24
inline constexpr std::uint64_t kNewSwapchain = 0x30005;         // game queue at 40
inline constexpr std::uint64_t kNewSwapchainForHwnd = 0x30006;  // game queue at 56
}  // namespace ffx_layout

// ---- records ------------------------------------------------------------------------------------

// The latest camera the game handed to Streamline. Sequence 0: never stored.
struct DlssCameraRecord {
  float position[3] = {};
  float up[3] = {};
  float right[3] = {};
  float forward[3] = {};
  float projX = 0, projY = 0;  // view-to-clip [0][0] and |[1][1]|
  float viewToClip[16] = {};   // row-major
  std::uint32_t tick = 0;
  std::uint64_t sequence = 0;
};

inline constexpr std::uint32_t kNoResourceState = 0xFFFFFFFF;

// Why a tagged pointer is not held (DepthTagRecord::refusal).
enum class DepthRefusal : std::uint8_t {
  None,         // held: `identity` names it
  NotInModule,  // its first word does not point into a loaded module: no COM object
  NotResource,  // a COM object that is not an ID3D12Resource
  NoKeeper,     // recorded by a caller that holds nothing
};

// How the tag record keeps the game's depth buffers alive: a reference taken in the tagging call,
// while the game certainly holds the buffer, and given back when the record forgets it. Without
// one, a buffer the game releases (a render-size change) is freed under the presenting thread, and
// a new one may take its address.
class DepthResourceKeeper {
 public:
  virtual ~DepthResourceKeeper() = default;
  // Checks that `resource` is an ID3D12Resource and takes a reference on it.
  [[nodiscard]] virtual DepthRefusal Take(std::uint64_t resource) = 0;
  // One more reference on a resource already held, and giving one back.
  virtual void AddRef(std::uint64_t resource) = 0;
  virtual void Release(std::uint64_t resource) = 0;
};

// The depth buffers held at once (a game may tag two in turn, or three), and how long one that is
// no longer tagged is kept.
inline constexpr int kHeldDepthResources = 3;
inline constexpr std::uint32_t kHeldDepthForgetMs = 2000;

// The latest depth buffer the game tagged. Sequence 0: never stored.
struct DepthTagRecord {
  std::uint64_t native = 0;  // ID3D12Resource*
  // Names the held buffer for as long as the record holds it, and never another: a buffer the
  // record let go of and one made later at its address have different identities. 0: not held
  // (`refusal` says why), and then nothing may be asked of `native`.
  std::uint64_t identity = 0;
  DepthRefusal refusal = DepthRefusal::NoKeeper;
  // Set on a copy that carries a reference of its own (CopyDepthTag with a keeper): its taker
  // gives it back with the keeper's Release.
  bool referenced = false;
  std::uint32_t state = kNoResourceState;
  std::uint32_t lifecycle = 0;
  bool hasExtent = false;
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
  std::uint32_t tick = 0;
  std::uint64_t sequence = 0;
  const char* function = "";  // "slSetTag" or "slSetTagForFrame"
};

// Copies under each record's own mutex. With a keeper, a copy of a held tag carries a reference
// of its own on the buffer (`referenced`), taken before the tagging thread could let it go.
[[nodiscard]] DlssCameraRecord CopyDlssCamera();
[[nodiscard]] DepthTagRecord CopyDepthTag(DepthResourceKeeper* keeper = nullptr);

struct UpscalerCounters {
  std::atomic<std::int32_t> tagCalls{0};
  std::atomic<std::int32_t> depthTags{0};
  std::atomic<std::int32_t> evaluateCalls{0};
  // Limits of the diagnostic lines.
  std::atomic<std::int32_t> tagDumps{0};
  std::atomic<std::int32_t> evaluateDumps{0};
  std::atomic<std::int32_t> ffxCreations{0};
  std::atomic<std::uint8_t> constantsRefused{0};
};
[[nodiscard]] UpscalerCounters& Counters();

// ---- decisions ----------------------------------------------------------------------------------

// Forward and up of unit length (squared length within 0.02 of 1), projection scales strictly
// between 0.1 and 20, a finite position. `c` holds kConstantsFloatsRead floats.
[[nodiscard]] bool DlssConstantsPlausible(const float* c);

// The distance between two tags: 64 for fewer than two tags; otherwise the first of 48, 56, ...,
// 128 at which the second tag's structure type equals the first's; 0 when none does (the array
// is then not read).
[[nodiscard]] std::uint32_t TagArrayStride(GameMemory& memory, std::uint64_t tags, std::uint32_t count);

struct DepthTag {
  std::uint64_t native = 0;
  std::uint32_t state = 0;
  std::uint32_t lifecycle = 0;
  bool hasExtent = false;
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
};

// The first tag (of at most 32) of type depth with a resource; nothing when there is none, when
// its native resource is null or when it cannot be read.
[[nodiscard]] std::optional<DepthTag> FindDepthTag(GameMemory& memory, std::uint64_t tags, std::uint32_t count,
                                                   std::uint32_t stride);

// " (stride %u)" and up to 14 tags, as the tag line shows them, within a 2048-byte buffer.
[[nodiscard]] std::string TagDump(GameMemory& memory, std::uint64_t tags, std::uint32_t count, std::uint32_t stride);
// Up to 16 inputs' structure types and versions, within a 1024-byte buffer.
[[nodiscard]] std::string EvaluateDump(GameMemory& memory, std::uint64_t inputs, std::uint32_t count);

// ---- the detours' work ----------------------------------------------------------------------------

void OnSetConstants(GameMemory& memory, std::uint64_t constants, std::uint32_t tick);
// `function` is "slSetTag" or "slSetTagForFrame" (a string literal: the record keeps the pointer).
// The keeper holds each newly tagged buffer; without one the tag is recorded but not held.
void OnSetTag(GameMemory& memory, const char* function, std::uint64_t tags, std::uint32_t count, std::uint32_t tick,
              DepthResourceKeeper* keeper = nullptr);
void OnEvaluateFeature(GameMemory& memory, std::uint32_t feature, std::uint64_t inputs, std::uint32_t count);

struct FrameGenerationSwapChain {
  std::uint64_t type = 0;
  std::uint64_t swapchain = 0;
  std::uint64_t queue = 0;
};

// Logs the first 8 creations; after a successful one (result 0), the first frame-generation
// swap-chain descriptor within 16 links whose out-pointer gives a swap chain and whose game queue
// is set.
[[nodiscard]] std::optional<FrameGenerationSwapChain> OnFfxContextCreated(GameMemory& memory, std::uint64_t chain,
                                                                          std::uint32_t result);

}  // namespace pathlight
