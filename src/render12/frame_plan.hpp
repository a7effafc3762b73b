// What one overlay frame of the in-frame renderer does, decided without the GPU: which of the
// route views it draws, the five-second diagnostic line, the output mode its shaders convert to,
// when its device objects must be rebuilt, and the once-only failure lines.
//
// Called on the game's presenting thread(s); the failure list and the diagnostic claim are safe
// from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "game/game_snapshot.hpp"
#include "mapgeom/map_projection.hpp"
#include "settings/settings.hpp"

namespace pathlight {

// ---- what a frame draws --------------------------------------------------------------------------

struct FrameDecisions {
  bool minimap = false;
  bool worldMap = false;
  bool routeUsable = false;
  bool ribbon = false;
  bool roadDebug = false;
  // The frame records anything at all; without it no lock is taken.
  bool goOn = false;
};

[[nodiscard]] FrameDecisions DecideFrame(const Settings& settings, const GameSnapshot& snapshot,
                                         std::size_t routePoints, bool minimapRouteShown, bool worldRouteShown);

// ---- the diagnostic line -------------------------------------------------------------------------

inline constexpr std::uint32_t kDiagnosticPeriodMs = 5000;

// True for the one caller that moves the next diagnostic time on from `now` (0: never written).
[[nodiscard]] bool ClaimDiagnostic(std::atomic<std::uint32_t>& nextTick, std::uint32_t now);

struct DiagnosticFacts {
  long presents = 0;
  long drawn = 0;
  const void* swapchain = nullptr;
  std::size_t routePoints = 0;
  bool worldRouteShown = false;
  bool occlusionUsed = false;  // in any frame since the last line
};

// The message of the "Diag:" line.
[[nodiscard]] std::string DiagnosticLine(const DiagnosticFacts& facts, const GameSnapshot& snapshot,
                                         const FrameDecisions& decisions);

// ---- output mode -----------------------------------------------------------------------------------

enum OutputMode : std::uint32_t { kOutputSdr = 0, kOutputScRgb = 1, kOutputHdr10 = 2 };

// DXGI values the choice depends on (the core does not see dxgi's headers).
inline constexpr std::int32_t kFormatR16G16B16A16Float = 10;
inline constexpr std::int32_t kFormatR10G10B10A2Unorm = 24;
inline constexpr std::int32_t kColourSpacePq2020 = 12;  // DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020

struct OutputChoice {
  std::uint32_t mode = kOutputSdr;
  float whiteNits = 203.0f;
  friend bool operator==(const OutputChoice&, const OutputChoice&) = default;
};

[[nodiscard]] OutputChoice ChooseOutputMode(const Settings& settings, std::int32_t format, std::int32_t colourSpace);

// ---- rebuilding --------------------------------------------------------------------------------------

// What the device objects were built for, and what the frame finds.
struct TargetShape {
  const void* swapchain = nullptr;
  std::uint32_t bufferCount = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::int32_t format = 0;
  std::int32_t colourSpace = -1;
  // Which creation of the swap chain at this address (the queue table's number; 0: not recorded).
  // A new swap chain at a released one's address is another swap chain on another queue.
  std::uint64_t creation = 0;
  friend bool operator==(const TargetShape&, const TargetShape&) = default;
};

// ---- which swap chain ------------------------------------------------------------------------------

// A swap chain as a present shows it: its address, which creation of that address it is (the queue
// table's number; 0 when it was made before the hooks), and the window it presents to (0: unknown).
struct PresentingSwapChain {
  const void* swapchain = nullptr;
  std::uint64_t creation = 0;
  std::uintptr_t window = 0;
  friend bool operator==(const PresentingSwapChain&, const PresentingSwapChain&) = default;
};

// Whether this present is drawn into. One swap chain is: of those presenting, the one on the game's
// main window (`mainWindow`, 0 when not known) before any other, and among equals the newest
// creation; `drawn` (swapchain null: none yet) moves to `presenting` when it ranks higher. The rank
// rests on each swap chain's own facts, so presents alternating between two never move the
// overlay back and forth, while a new swap chain of the main window (the game replaced it) is
// taken at its first present.
[[nodiscard]] bool ChooseSwapChain(PresentingSwapChain& drawn, const PresentingSwapChain& presenting,
                                   std::uintptr_t mainWindow);

// `rebuildRequested` is the already consumed RebuildRequested flag.
[[nodiscard]] bool NeedsRebuild(const TargetShape& built, const TargetShape& now, bool rebuildRequested);

inline constexpr std::uint32_t kSetupRetryMs = 2000;
// A failed set-up is tried again once the retry time is reached (0: no failure yet).
[[nodiscard]] bool SetupDue(std::uint32_t now, std::uint32_t retryTick);

// Frame contexts follow the swap chain's buffer count; a description with absurd numbers is not
// one to build for.
inline constexpr std::uint32_t kMostBuffers = 16;
inline constexpr std::uint32_t kLargestSide = 16384;
[[nodiscard]] bool ShapeBuildable(const TargetShape& shape);

// ---- failures ----------------------------------------------------------------------------------------

// Logs "Overlay: %s failed (hr=0x%08lX)" the first time `name` is reported in the process.
// Returns whether it logged.
bool ReportFailure(const char* name, std::int32_t hr);

inline constexpr std::int32_t kHrUnexpected = static_cast<std::int32_t>(0x8000FFFF);
inline constexpr std::int32_t kHrPending = static_cast<std::int32_t>(0x8000000A);

}  // namespace pathlight
