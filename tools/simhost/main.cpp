// The simulated game, CrimsonDesert.exe. It behaves towards Pathlight as the game does: it loads
// the library from its own folder at start (as the game's loader DLL would), opens a large main
// window, renders with Direct3D 12 through a flip-model swap chain about every 16 ms, pumps its
// messages, keeps the game's state in its heap (game_state.cpp), and plays a scenario of timed
// actions. It draws a game to draw over: a 3D world of ground and roads seen through the camera it
// publishes (world_view.cpp), its minimap, and the world map while that is open, with the roads of
// its game folder (game_draw.cpp).
//
//   CrimsonDesert.exe [--seconds N] [--scenario FILE] [--screenshot FILE.png] [--image VARIANT]
//                     [--no-library] [--swapchain-format rgba8|rgba16f|rgb10a2]
//
// --no-library leaves loading the library to a loader DLL in the game's folder (the project's
// version.dll), as a player's install does. The game imports version.dll as real games do and
// prints what its first call answered.
//
// Sections: options, built-in actions, main loop (the window and the frame step in host.cpp).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "game_state.hpp"
#include "host.hpp"
#include "log_watch.hpp"
#include "planted_image.hpp"
#include "scenario.hpp"
#include "swapchain.hpp"
#include "world_roads.hpp"

namespace simhost {

namespace {

// The main window's client area at the start.
constexpr SIZE kClientSize = {1280, 720};
constexpr unsigned kFrameMs = 16;
// How long a frame-shot waits for the game's own roads and its maps' renderer.
constexpr unsigned kMapsWaitMs = 30000;

// ---- options ----------------------------------------------------------------------------------

struct Options {
  double seconds = 0;  // 0: until a quit action or the window closes
  std::wstring scenario;
  std::wstring screenshot;
  ImageVariant image = ImageVariant::Full;
  bool loadLibrary = true;
  std::string swapchainFormat;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == L"--seconds" && hasValue) {
      wchar_t* end = nullptr;
      options.seconds = std::wcstod(argv[++i], &end);
      if (*end != L'\0' || options.seconds < 0) return false;
    } else if (arg == L"--scenario" && hasValue) {
      options.scenario = argv[++i];
    } else if (arg == L"--screenshot" && hasValue) {
      options.screenshot = argv[++i];
    } else if (arg == L"--no-library") {
      options.loadLibrary = false;
    } else if (arg == L"--swapchain-format" && hasValue) {
      const std::wstring name = argv[++i];
      options.swapchainFormat.assign(name.begin(), name.end());
    } else if (arg == L"--image" && hasValue) {
      if (!ParseImageVariant(argv[++i], options.image)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// The game folder: the executable lies in its bin64.
std::wstring GameFolder() {
  const std::wstring bin = ExecutableFolder();
  return bin.substr(0, bin.find_last_of(L"\\/"));
}

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
  return wide;
}

// ---- built-in actions -------------------------------------------------------------------------

const bool kScreenshotAction =
    RegisterAction("screenshot", {1, 1, [](Host& host, const Action& action) {
                                    if (!SavePresentedScreenshot(host, Widen(action.args[0])))
                                      Say("simhost: screenshot failed");
                                  }});

// Frames and messages go on while the game waits for its roads and its maps' renderer: the
// library must not see it stall.
void WaitForMaps(Host& host) {
  const unsigned start = host.ElapsedMs();
  const auto waiting = [&] { return GameRoads().Loading() || (host.swapchain && !host.swapchain->MapsSettled()); };
  while (waiting() && !host.quit && host.ElapsedMs() - start < kMapsWaitMs) {
    (void)PumpAndPresent(host);
    Sleep(kFrameMs);
  }
}

// The game's own frame as it drew it, read back from the GPU: no window laid over it and nothing
// drawn into it at present time. The game's roads are loaded first, so its maps show them.
const bool kFrameShotAction = RegisterAction(
    "frame-shot",
    {1, 1, [](Host& host, const Action& action) {
       WaitForMaps(host);
       if (!GameRoads().Ready()) Say("simhost: frame-shot without roads");
       host.FrameWork();
       if (!host.swapchain || !host.swapchain->RenderAndPresent(host, host.ElapsedMs(), Widen(action.args[0]))) {
         Say("simhost: frame-shot failed");
       }
     }});

// A line added to a text file (the library's INI before a reload): the words after the path,
// joined by single spaces, and CR LF.
const bool kAppendLineAction = RegisterAction(
    "append-line", {2, 32, [](Host&, const Action& action) {
                      std::string line;
                      for (std::size_t i = 1; i < action.args.size(); ++i) line += (i > 1 ? " " : "") + action.args[i];
                      line += "\r\n";
                      FILE* file = _wfopen(Widen(action.args[0]).c_str(), L"ab");
                      if (file == nullptr || std::fwrite(line.data(), 1, line.size(), file) != line.size())
                        Say("simhost: append-line failed");
                      if (file != nullptr) std::fclose(file);
                    }});

// The frame as presented: the game's own picture with what the library drew into it at present,
// once the game's roads and maps are there (a screenshot that waits like frame-shot).
const bool kPresentShotAction =
    RegisterAction("present-shot", {1, 1, [](Host& host, const Action& action) {
                                      WaitForMaps(host);
                                      if (!SavePresentedScreenshot(host, Widen(action.args[0])))
                                        Say("simhost: present-shot failed");
                                    }});

const bool kResizeAction = RegisterAction(
    "resize", {2, 2, [](Host& host, const Action& action) {
                 RECT rect = {0, 0, std::atoi(action.args[0].c_str()), std::atoi(action.args[1].c_str())};
                 AdjustWindowRectEx(&rect, GetWindowLongW(host.window, GWL_STYLE), FALSE,
                                    GetWindowLongW(host.window, GWL_EXSTYLE));
                 SetWindowPos(host.window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                              SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
               }});

const bool kQuitAction = RegisterAction("quit", {0, 0, [](Host& host, const Action&) { host.quit = true; }});

}  // namespace

}  // namespace simhost

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace simhost;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Options options;
  Host host;
  if (argv == nullptr || !ParseOptions(argc, argv, options) ||
      (!options.swapchainFormat.empty() && !ParseSwapchainFormat(options.swapchainFormat, host.swapchainFormat))) {
    Say("usage: CrimsonDesert.exe [--seconds N] [--scenario FILE] [--screenshot FILE.png] [--image VARIANT] "
        "[--no-library] [--swapchain-format rgba8|rgba16f|rgb10a2]");
    return 2;
  }
  std::vector<Action> actions;
  if (!options.scenario.empty()) {
    std::string error;
    if (!LoadScenario(options.scenario, actions, error)) {
      Say("simhost: scenario: %s", error.c_str());
      return 2;
    }
  }

  // A first call into version.dll, as games make to read their own or a driver's version; with
  // the project's loader in the folder it is the loader that answers.
  {
    DWORD handle = 0;
    Say("simhost: version information of the game: %lu bytes",
        GetFileVersionInfoSizeW(ExecutablePath().c_str(), &handle));
  }

  host.instance = instance;

  PrepareImage(host, options.image);
  host.game = PrepareGameState(kClientSize.cy);
  // The game's state at 0 ms is there before the library looks at it; these actions leave the list.
  std::vector<Action> later;
  bool beforeFirstWait = true;  // a time of 0 after a wait is later in the story
  for (Action& action : actions) {
    if (beforeFirstWait && RunsBeforeLibrary(action)) {
      RunAction(host, action);
    } else {
      beforeFirstWait = beforeFirstWait && !HoldsClock(action);
      later.push_back(std::move(action));
    }
  }
  actions = std::move(later);
  // As the loader DLL does: the library comes from the executable's own folder, early.
  const std::wstring library = BesideGame(L"Pathlight.dll");
  if (options.loadLibrary && LoadLibraryW(library.c_str()) == nullptr) {
    Say("simhost: Pathlight.dll not loaded (error %lu)", GetLastError());
  }

  host.window = CreateMainWindow(host, kClientSize.cx, kClientSize.cy);
  if (host.window == nullptr) {
    Say("simhost: the main window could not be created");
    return 1;
  }
  if (!host.deferSwapchain) {
    host.swapchain = std::make_unique<Swapchain>();
    if (!host.swapchain->Create(host.window, SwapchainRoute::System, host.swapchainFormat)) {
      Say("simhost: Direct3D 12 output unavailable; running without frames");
      host.swapchain.reset();
    }
  }
  // The game's maps read their roads once the library is loaded and the window is up.
  GameRoads().StartLoading(GameFolder());

  // ---- main loop --------------------------------------------------------------------------------
  // Scenario times count from here, with the window up: creating the device may take a while. A
  // wait's line is looked for on every pass, about once a frame.
  host.startTick = GetTickCount();
  const unsigned limitMs = options.seconds > 0 ? static_cast<unsigned>(options.seconds * 1000.0) : 0;
  std::size_t nextAction = 0;
  unsigned nextFrame = 0;
  // The scenario's clock: starts with the main loop and again at the end of every wait.
  DWORD clockTick = host.startTick;
  LogWatch& watch = ScenarioLogWatch();
  while (!host.quit) {
    PumpMessages(host);
    const unsigned now = host.ElapsedMs();
    if (watch.Waiting()) {
      bool timedOut = false;
      if (watch.Poll(timedOut)) {
        clockTick = GetTickCount();
      } else if (timedOut) {
        watch.ReportTimeOut();
        host.exitCode = kWaitTimedOutStatus;
        host.quit = true;
      }
    }
    while (!host.quit && !watch.Waiting() && nextAction < actions.size() &&
           actions[nextAction].atMs <= GetTickCount() - clockTick) {
      RunAction(host, actions[nextAction++]);
    }
    if (limitMs != 0 && now >= limitMs) host.quit = true;
    if (host.quit) break;
    TickGameState(host.game, now);
    if (now >= nextFrame) {
      host.FrameWork();
      if (host.swapchain) host.swapchain->RenderAndPresent(host, now);
      nextFrame = now + kFrameMs;
    }
    const unsigned wait = nextFrame > host.ElapsedMs() ? nextFrame - host.ElapsedMs() : 0;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
  }

  if (!options.screenshot.empty() && !SavePresentedScreenshot(host, options.screenshot)) {
    Say("simhost: screenshot failed");
    host.exitCode = 1;
  }
  Say("simhost: %llu presents, the longest %.0f us", Presents().presents, Presents().longestUs);
  Say("simhost: leaving the main loop");
  host.swapchain.reset();
  DestroyWindow(host.window);
  LocalFree(argv);
  RecordImageAtExit(host);
  Say("simhost: exiting with status %d", host.exitCode);
  // Ends the process without the loader's shutdown of its libraries. Under Wine that shutdown
  // follows the killing of every other thread, and a thread killed while it held a lock of the
  // shared C runtime (its heap, a stream) can block it until the wine server kills the process
  // (status 137): seen about once in thirty drawing runs, read by the tests as a failed game.
  std::fflush(stdout);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(host.exitCode));
  return host.exitCode;
}
