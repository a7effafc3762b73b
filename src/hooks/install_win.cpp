// The hook installation and the start-up thread's wait: the Win32 side of install_plan.cpp.
//
// Sections: start-up report, InstallGraphicsHooks, WaitForPresentRenderer.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "hooks/dxgi_hooks_win.hpp"
#include "hooks/graphics_hooks_win.hpp"
#include "hooks/hook_slots_win.hpp"
#include "hooks/hook_state.hpp"
#include "hooks/install_plan.hpp"
#include "hooks/upscaler_win.hpp"
#include "platform/log.hpp"
#include "platform/folders.hpp"
#include "platform/game_window_win.hpp"
#include "platform/ticks.hpp"
#include "platform/utf8.hpp"

namespace pathlight {

namespace {

constexpr wchar_t kStreamline[] = L"sl.interposer.dll";
constexpr wchar_t kFidelityFx[] = L"amd_fidelityfx_loader_dx12.dll";

std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// ---- start-up report ----------------------------------------------------------------------------

void LogStartupReport() {
  FILETIME creation{}, exit{}, kernel{}, user{}, now{};
  std::uint64_t start = 0;
  if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user)) start = FileTimeValue(creation);
  GetSystemTimeAsFileTime(&now);

  std::wstring exeFolder = ModuleFileName(nullptr);
  const std::size_t slash = exeFolder.find_last_of(L'\\');
  exeFolder = slash == std::wstring::npos ? std::wstring() : exeFolder.substr(0, slash + 1);

  std::vector<std::pair<std::string, std::wstring>> loaded;
  for (const char* name : kLoaderDllNames) {
    if (HMODULE module = GetModuleHandleA(name); module != nullptr) loaded.emplace_back(name, ModuleFileName(module));
  }
  HMODULE dxgi = GetModuleHandleW(L"dxgi.dll");
  const std::string dxgiPath = dxgi != nullptr ? ToUtf8(ModuleFileName(dxgi)) : std::string("not loaded");
  Log("Overlay: loaded %.1f s after the game started; dxgi.dll %s, d3d12.dll %s, sl.interposer.dll %s; in bin64: %s",
      SecondsSince(start, FileTimeValue(now)), dxgiPath.c_str(),
      GetModuleHandleW(L"d3d12.dll") != nullptr ? "loaded" : "not loaded",
      GetModuleHandleW(kStreamline) != nullptr ? "loaded" : "not loaded", LoaderDllList(exeFolder, loaded).c_str());
}

HMODULE SystemDxgi() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  // By full path: a dxgi.dll beside the game (another mod's proxy) must not be the one hooked.
  return LoadLibraryW((std::wstring(folder, length) + L"\\dxgi.dll").c_str());
}

void* Export(HMODULE module, const char* name) {
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace

// ---- InstallGraphicsHooks ---------------------------------------------------------------------------

void InstallGraphicsHooks(const Settings& settings) {
  LogStartupReport();
  if (settings.debug.noSwapchain) {
    Log("Debug: NoSwapchain=1, swapchain creation is not hooked");
    return;
  }

  // Swap chains that the game makes through Streamline come from the interposer's exports.
  HMODULE streamline = GetModuleHandleW(kStreamline);
  HMODULE factoryModule = streamline != nullptr ? streamline : SystemDxgi();
  const char* moduleName = streamline != nullptr ? "Streamline (sl.interposer.dll)" : "system dxgi.dll";
  void* exports[3] = {Export(factoryModule, "CreateDXGIFactory"), Export(factoryModule, "CreateDXGIFactory1"),
                      Export(factoryModule, "CreateDXGIFactory2")};
  if (exports[0] == nullptr && exports[1] == nullptr && exports[2] == nullptr) {
    Log("Overlay: no factory exports in %s", moduleName);
    return;
  }
  if (!HookEngineReady()) {
    Log("Overlay: MinHook init failed");
    return;
  }
  int hooked = 0;
  hooked += HookFactoryExport(FactoryExport::CreateDXGIFactory, exports[0]);
  hooked += HookFactoryExport(FactoryExport::CreateDXGIFactory1, exports[1]);
  hooked += HookFactoryExport(FactoryExport::CreateDXGIFactory2, exports[2]);
  Log("Overlay: %d factory exports hooked in %s", hooked, moduleName);

  if (HMODULE ffx = GetModuleHandleW(kFidelityFx); ffx == nullptr) {
    Log("Overlay: FSR frame generation not loaded");
  } else {
    const bool ok = HookUpscalerExport(UpscalerExport::FfxCreateContext, Export(ffx, "ffxCreateContext"));
    Log("Overlay: FSR frame generation %s", ok ? "hooked (ffxCreateContext)" : "not hooked");
  }

  const StreamlinePlan plan = PlanStreamlineHooks(settings);
  if (!plan.camera) return;
  // Looked up again: the interposer may have come in since the factory module was chosen.
  streamline = GetModuleHandleW(kStreamline);
  const bool camera = HookUpscalerExport(UpscalerExport::SlSetConstants, Export(streamline, "slSetConstants"));
  Log("Overlay: DLSS camera %s",
      camera ? "hooked (slSetConstants)" : "not available; the in-world route uses the game camera");
  if (!plan.depth || !camera) return;
  const bool tag = HookUpscalerExport(UpscalerExport::SlSetTag, Export(streamline, "slSetTag"));
  const bool tagForFrame = HookUpscalerExport(UpscalerExport::SlSetTagForFrame, Export(streamline, "slSetTagForFrame"));
  if (streamline != nullptr) {
    (void)HookUpscalerExport(UpscalerExport::SlEvaluateFeature, Export(streamline, "slEvaluateFeature"));
  }
  Log("Overlay: DLSS depth %s", DepthHooksText(tag, tagForFrame));
}

// ---- WaitForPresentRenderer ----------------------------------------------------------------------

namespace {

class WindowsPresentWait final : public PresentWaitServices {
 public:
  std::uint64_t PresentsReached() override { return PresentGate::Entered(); }
  void Sleep(std::uint32_t ms) override { SleepMs(ms); }

  bool GameWindowShown() override { return FindGameWindow(GameWindowRule::kWide) != nullptr; }

  bool ModuleLoaded(const char* name) override { return GetModuleHandleA(name) != nullptr; }
};

}  // namespace

void WaitForPresentRenderer() {
  WindowsPresentWait services;
  (void)pathlight::WaitForPresentRenderer(services);
}

}  // namespace pathlight
