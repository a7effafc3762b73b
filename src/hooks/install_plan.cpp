#include "hooks/install_plan.hpp"

#include "hooks/hook_state.hpp"
#include "platform/log.hpp"
#include "platform/text.hpp"
#include "platform/utf8.hpp"

namespace pathlight {

namespace {

constexpr std::size_t kMaxNameBytes = 64;

}  // namespace

std::string LoaderDllList(const std::wstring& exeFolder,
                          const std::vector<std::pair<std::string, std::wstring>>& loaded) {
  std::string list;
  for (const auto& [name, path] : loaded) {
    if (exeFolder.empty() || !StartsWithIgnoringCase(path, exeFolder)) continue;
    if (!list.empty()) list += ", ";
    list += name.substr(0, kMaxNameBytes);
  }
  return list.empty() ? "no loader DLL" : list;
}

double SecondsSince(std::uint64_t startFileTime, std::uint64_t nowFileTime) {
  if (startFileTime == 0) return -1.0;
  return (static_cast<double>(nowFileTime) - static_cast<double>(startFileTime)) / 10000000.0;
}

StreamlinePlan PlanStreamlineHooks(const Settings& settings) {
  StreamlinePlan plan;
  if (!settings.worldEnabled && !settings.worldToggle.Bound()) return plan;
  if (settings.worldDlssCamera == 0 && !settings.worldOcclusion) return plan;
  plan.camera = true;
  plan.depth = settings.worldOcclusion;
  return plan;
}

const char* DepthHooksText(bool setTag, bool setTagForFrame) {
  if (setTag && setTagForFrame) return "hooked (slSetTag, slSetTagForFrame)";
  if (setTag) return "hooked (slSetTag)";
  if (setTagForFrame) return "hooked (slSetTagForFrame)";
  return "not available; the in-world route is drawn without occlusion";
}

PresentWaitResult WaitForPresentRenderer(PresentWaitServices& services) {
  PresentWaitResult result;
  int pollsWithWindow = 0;
  const auto handedOver = [] { return Hooks().CompositionHandover.load() != 0; };
  const auto hooksTried = [] {
    return Hooks().SwapChainHooksInstalled.load() != 0 || Hooks().SwapChainHooksFailed.load() != 0;
  };
  // A hand-over that came first (FidelityFX's frame generation, before any swap chain of the
  // game's own) ends the wait at once: nothing is left to wait for, and the reason is logged.
  while (!hooksTried() && !handedOver() && pollsWithWindow < kPollsWithWindow && result.polls < kPollsInAll) {
    services.Sleep(kPresentWaitPollMs);
    ++result.polls;
    if (services.GameWindowShown()) ++pollsWithWindow;
  }
  if (handedOver()) return result;
  const char* composition = "switching to the Composition renderer (minimap and world map; no in-world route)";
  if (Hooks().SwapChainHooksFailed.load() != 0) {
    result.swapchainSeen = true;
    Hooks().PresentDisabled.store(1);
    Log("Overlay: the swapchain hooks are not in place; %s", composition);
    return result;
  }
  if (Hooks().SwapChainHooksInstalled.load() != 0) {
    result.swapchainSeen = true;
    int polls = 0, withWindow = 0;
    while (services.PresentsReached() == 0 && !handedOver()) {
      if (withWindow >= kFirstPresentPollsWithWindow || polls >= kFirstPresentPollsInAll) {
        Hooks().PresentDisabled.store(1);
        Log("Overlay: no present reached the swapchain hooks in %d s; %s",
            polls * static_cast<int>(kPresentWaitPollMs) / 1000, composition);
        return result;
      }
      services.Sleep(kPresentWaitPollMs);
      ++polls;
      if (services.GameWindowShown()) ++withWindow;
    }
    while (!handedOver()) services.Sleep(kPresentWaitPollMs);
    return result;
  }
  Hooks().PresentDisabled.store(1);
  const auto yesNo = [&](const char* name) { return services.ModuleLoaded(name) ? "yes" : "no"; };
  Log("Overlay: no D3D12 swapchain creation seen; switching to the Composition renderer (minimap and world map; no "
      "in-world route). The game made its swapchain without going through Streamline (FSR frame generation, or "
      "another overlay, upscaler or frame-generation mod) or before Pathlight was loaded. Loaded: FidelityFX frame "
      "generation %s, FidelityFX loader %s, DLSS frame generation %s",
      yesNo("amd_fidelityfx_framegeneration_dx12.dll"), yesNo("amd_fidelityfx_loader_dx12.dll"),
      yesNo("sl.dlss_g.dll"));
  return result;
}

}  // namespace pathlight
