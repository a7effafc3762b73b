// The decisions of the hook installation and of the start-up thread's wait for the in-frame
// renderer, apart from the Win32 calls that feed them (install_win.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.hpp"

namespace pathlight {

// ---- start-up report ------------------------------------------------------------------------------

// The DLLs a loader of plug-ins usually poses as, in the order the report names them.
inline constexpr const char* kLoaderDllNames[] = {"winmm.dll",     "dinput8.dll",   "version.dll", "dxgi.dll",
                                                  "d3d11.dll",     "d3d12.dll",     "dsound.dll",  "winhttp.dll",
                                                  "xinput1_3.dll", "xinput1_4.dll", "wininet.dll"};

// The loaded loader DLLs (name, full path) that lie in the game executable's folder (the folder
// with its trailing backslash; compared without regard to letter case over its length), joined
// by ", "; "no loader DLL" when there is none. Each name at most 64 bytes.
[[nodiscard]] std::string LoaderDllList(const std::wstring& exeFolder,
                                        const std::vector<std::pair<std::string, std::wstring>>& loaded);

// Seconds between two file times (100 ns units); -1 when the start is unknown (0).
[[nodiscard]] double SecondsSince(std::uint64_t startFileTime, std::uint64_t nowFileTime);

// ---- Streamline hooks -------------------------------------------------------------------------------

struct StreamlinePlan {
  bool camera = false;  // hook slSetConstants
  bool depth = false;   // then the tag and evaluation hooks, if slSetConstants is hooked
};

// Nothing when the in-world route can neither show nor be switched on, or when neither the DLSS
// camera nor occlusion is wanted.
[[nodiscard]] StreamlinePlan PlanStreamlineHooks(const Settings& settings);

// The "Overlay: DLSS depth %s" text for the tag hooks made.
[[nodiscard]] const char* DepthHooksText(bool setTag, bool setTagForFrame);

// ---- the start-up thread's wait ----------------------------------------------------------------------

class PresentWaitServices {
 public:
  virtual ~PresentWaitServices() = default;
  virtual void Sleep(std::uint32_t ms) = 0;
  // A visible top-level window of this process whose client area reaches beyond 640 pixels.
  [[nodiscard]] virtual bool GameWindowShown() = 0;
  [[nodiscard]] virtual bool ModuleLoaded(const char* name) = 0;
  // How many presents have reached the swap chain's hooks so far.
  [[nodiscard]] virtual std::uint64_t PresentsReached() = 0;
};

inline constexpr std::uint32_t kPresentWaitPollMs = 500;
inline constexpr int kPollsWithWindow = 40;  // about 20 s after the game window appeared
inline constexpr int kPollsInAll = 240;      // about 120 s
// From the hooks' installation to the first present: a game may compile its shaders before its
// first frame, behind a window that shows nothing; a minute with the window shown is plenty.
inline constexpr int kFirstPresentPollsWithWindow = 120;
inline constexpr int kFirstPresentPollsInAll = 600;  // about 5 minutes, window or not

struct PresentWaitResult {
  bool swapchainSeen = false;
  int polls = 0;  // before a swap chain was seen or the wait gave up on one
};

// Polls until the first D3D12 swap chain's hooks have been tried or the time limit passes; then,
// with the hooks in place, until a present reaches them, within its own limit; then until the
// Present renderer hands over (CompositionHandover). Hooks that could not be made, no swap chain,
// or no present: sets PresentDisabled and logs why. A hand-over at any time ends the wait at once.
// Returns when the Composition renderer is to take over.
PresentWaitResult WaitForPresentRenderer(PresentWaitServices& services);

}  // namespace pathlight
