// The graphics hooks in the simulated game under Wine: the factory exports hooked in the system's
// DXGI or in Streamline's interposer, the swap-chain hooks from the first D3D12 swap chain only,
// Streamline's depth tags and camera constants, FidelityFX's frame generation handing over, the
// wait that gives up, and the project's own loader. The upscalers are the test doubles; they answer
// each call with a receipt of its arguments, and the game ends with status 1 when an answer that
// came through the library differs, so every scenario also proves the detours change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "game_folder.hpp"

namespace e2e {
namespace {

using Lines = std::vector<std::string>;

const std::vector<fs::path> kDoubles = {"doubles/sl.interposer.dll", "doubles/amd_fidelityfx_loader_dx12.dll"};

Lines RunAndRead(GameFolder& game, const std::vector<std::string>& scenario, const std::vector<std::string>& args = {},
                 RunOptions options = {}) {
  if (options.copies.empty()) options.copies = kDoubles;
  EXPECT_EQ(game.RunScenario(scenario, args, options), 0);
  const auto log = game.Log();
  return log ? LogMessages(*log) : Lines{};
}

TEST(HooksE2E, StreamlineFactoryExportsDepthTagsAndCamera) {
  GameFolder game("hooks-streamline");
  const Lines lines = RunAndRead(
      game, {"0 defer-swapchain", "0 load-streamline",
             "0 wait 60000 ^Overlay: DLSS depth hooked \\(slSetTag, slSetTagForFrame\\)$", "0 swapchain streamline",
             "0 wait 20000 ^Overlay: swapchain hooks installed in ", "0 streamline-frames",
             "0 wait 20000 ^DLSS evaluate: ", "0 wait 20000 ^DLSS evaluate: ", "0 wait 20000 ^DLSS evaluate: ",
             "0 wait 20000 ^DLSS evaluate: ", "+500 quit"});  // some 30 frames more, none of them dumped
  EXPECT_EQ(Count(lines,
                  "^Overlay: loaded -?[0-9.]+ s after the game started; dxgi.dll .*dxgi.dll, d3d12.dll loaded, "
                  "sl.interposer.dll loaded; in bin64: no loader DLL$"),
            1u)
      << Dump(lines);
  EXPECT_EQ(Count(lines, "^Overlay: 3 factory exports hooked in Streamline \\(sl.interposer.dll\\)$"), 1u);
  EXPECT_EQ(Count(lines, "^Overlay: DLSS camera hooked \\(slSetConstants\\)$"), 1u);
  EXPECT_EQ(Count(lines, "^Overlay: swapchain-creation hooks installed in "), 1u);
  EXPECT_EQ(Count(lines, "^Overlay: swapchain [0-9A-Fa-fx]+ created on queue [0-9A-Fa-fx]+$"), 1u);
  // The depth tag second in the array, 64 bytes after the colour tag, with the whole window as its
  // area; both tag functions are seen.
  EXPECT_GE(Count(lines,
                  "^DLSS tags via slSetTag(ForFrame)?: 2 tags \\(stride 64\\) \\[0\\] guid 4C6A5D2B v1 type 4 "
                  "life 0 .* \\[1\\] guid 4C6A5D2B v1 type 0 life 1 res .* state 0x10\\) ext 0,0 1280x720$"),
            2u)
      << Dump(lines);
  EXPECT_EQ(Count(lines, "^DLSS tags via slSetTagForFrame: "), 2u);
  EXPECT_EQ(Count(lines, "^DLSS tags via"), 3u);
  EXPECT_EQ(Count(lines, "^DLSS evaluate: feature 1, 1 inputs \\[0\\] guid 0000007E v1$"), 4u);
  EXPECT_EQ(Count(lines, "^DLSS camera: unexpected"), 0u);
}

TEST(HooksE2E, ConstantsOfAnUnknownLayoutAreRefusedOnce) {
  GameFolder game("hooks-wrong-layout");
  const Lines lines = RunAndRead(
      game,
      {"0 defer-swapchain", "0 load-streamline", "0 wait 60000 ^Overlay: DLSS depth hooked", "0 swapchain streamline",
       "0 streamline-frames wrong-layout", "0 wait 20000 ^DLSS camera: unexpected constants layout",
       // Three more frames, each handing over the same constants.
       "0 wait 20000 ^DLSS evaluate: ", "0 wait 20000 ^DLSS evaluate: ", "0 wait 20000 ^DLSS evaluate: ", "0 quit"});
  EXPECT_EQ(Count(lines,
                  "^DLSS camera: unexpected constants layout, using the game camera. floats 8..15: 1.200 0.000 "
                  "0.000 0.000 0.000 2.100 0.000 0.000 \\| 94..109: 100.00 50.00 200.00 0.000 1.000 0.000 "
                  "1.000 0.000 0.000 0.000 0.000 0.900 0.000 0.000 0.000 0.000$"),
            1u)
      << Dump(lines);
}

TEST(HooksE2E, SystemDxgiIgnoresDirect3D11AndHooksTheFirstFactoryOnly) {
  GameFolder game("hooks-system");
  const Lines lines = RunAndRead(
      game, {"0 defer-swapchain", "0 wait 60000 ^Overlay: 3 factory exports hooked in system dxgi.dll$",
             "0 d3d11-swapchain",  // the first factory, and a swap chain on a Direct3D 11 device
             "0 wait 20000 ^Overlay: swapchain-creation hooks installed in .*dxgi.dll$",
             "0 swapchain system",  // a second factory, and the game's D3D12 swap chain
             "0 wait 20000 ^Overlay: swapchain hooks installed in .*dxgi.dll \\(Present, Present1, ResizeBuffers, "
             "ResizeBuffers1, SetColorSpace1\\)$",
             "0 wait 20000 ^Overlay: presents reach the overlay",
             "0 resize 1000 600",  // through the resize detour: the game goes on presenting
             "+500 quit"});
  EXPECT_EQ(Count(lines, "^Overlay: FSR frame generation not loaded$"), 1u) << Dump(lines);
  EXPECT_EQ(Count(lines, "^Overlay: swapchain-creation hooks installed in "), 1u);
  // Only the D3D12 swap chain is recorded, and it brought the method hooks.
  EXPECT_EQ(Count(lines, "^Overlay: swapchain [0-9A-Fa-fx]+ created on queue "), 1u);
  EXPECT_LT(Find(lines, "created on queue"), Find(lines, "^Overlay: swapchain hooks installed"));
}

TEST(HooksE2E, FidelityFxFrameGenerationHandsOverAndAFailedCreationDoesNot) {
  {
    GameFolder game("hooks-ffx-fail");
    const Lines lines = RunAndRead(
        game, {"0 defer-swapchain", "0 load-fidelityfx",
               "0 wait 60000 ^Overlay: FSR frame generation hooked \\(ffxCreateContext\\)$", "0 swapchain system",
               "0 wait 20000 ^Overlay: swapchain hooks installed",
               // The detour logs the creation and, within the same call, any hand-over.
               "0 ffx-fail", "0 wait 20000 ^FidelityFX: create context type 0x30001 -> 2147483648$", "0 quit"});
    EXPECT_EQ(Count(lines, "^FidelityFX: frame-generation swapchain"), 0u) << Dump(lines);
  }
  GameFolder game("hooks-ffx");
  const Lines lines = RunAndRead(
      game, {"0 defer-swapchain", "0 load-fidelityfx", "0 wait 60000 ^Overlay: FSR frame generation hooked",
             "0 swapchain fidelityfx",
             "0 wait 20000 ^FidelityFX: frame-generation swapchain [0-9A-Fa-fx]+ \\(in .*dxgi.dll\\); switching to the "
             "Composition renderer \\(minimap and world map; no in-world route\\)$",
             "0 quit"});
  EXPECT_EQ(Count(lines, "^FidelityFX: create context type 0x30006 -> 0$"), 1u) << Dump(lines);
  // FidelityFX's own swap chain, made inside the context creation, is not taken for the game's.
  EXPECT_EQ(Count(lines, "created on queue"), 0u);
}

TEST(HooksE2E, NoSwapchainHooksNothingAndTheWaitHandsOver) {
  GameFolder game("hooks-noswapchain");
  {
    std::ofstream ini(game.Bin64() / "Pathlight.ini");
    ini << "[Debug]\nNoSwapchain=1\n";
  }
  // With the game window up, the wait gives up after 40 polls of 500 ms.
  const Lines lines = RunAndRead(
      game,
      {"0 wait 60000 ^Debug: NoSwapchain=1, swapchain creation is not hooked$",
       "0 wait 60000 ^Overlay: no D3D12 swapchain creation seen; switching to the Composition renderer \\(minimap and "
       "world map; no in-world route\\)\\. .* Loaded: FidelityFX frame generation no, FidelityFX loader no, DLSS frame "
       "generation no$",
       "0 quit"});
  EXPECT_EQ(Count(lines, "^Overlay: [0-9] factory exports hooked"), 0u) << Dump(lines);
  EXPECT_EQ(Count(lines, "created on queue|hooks installed"), 0u);
}

// Another tool patched Present's entry with a two-byte jump before the game made its swap chain:
// no inline hook fits over it, and the Composition renderer takes over at once with the reason,
// instead of the start-up thread waiting for a present that can never reach the overlay.
TEST(HooksE2E, PresentHotPatchedByAnotherToolHandsOverAtOnce) {
  GameFolder game("hooks-hot-patched");
  const Lines lines = RunAndRead(
      game,
      {"0 hot-patch-present", "0 wait 60000 ^Overlay: creating swapchain hooks failed$",
       "0 wait 30000 ^Overlay: the swapchain hooks are not in place; switching to the Composition renderer \\(minimap "
       "and world map; no in-world route\\)$",
       // Wine has no DirectComposition: the overlay window draws instead.
       "0 wait 30000 ^Overlay window: composition setup failed", "0 quit"});
  EXPECT_EQ(Count(lines, "^Overlay: swapchain hooks installed|^Overlay: ready on |^Overlay: no D3D12 swapchain"), 0u)
      << Dump(lines);
}

TEST(HooksE2E, TheLoaderLoadsPathlightOnlyWhereItsDllIsUsed) {
  RunOptions loader;
  loader.copies = {"game/bin64/version.dll"};
  loader.dllOverrides = "version=n,b";
  GameFolder game("hooks-loader");
  const Lines lines =
      RunAndRead(game,
                 {"0 defer-swapchain", "0 wait 60000 ^Overlay: 3 factory exports hooked in system dxgi.dll$",
                  "0 swapchain system", "0 wait 20000 ^Overlay: swapchain hooks installed in ", "0 quit"},
                 {"--no-library"}, loader);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Pathlight 1.2.5 loaded");
  EXPECT_EQ(Count(lines, "^Overlay: loaded .*; in bin64: version.dll$"), 1u) << Dump(lines);

  // Without the override Wine keeps its own version.dll, and nothing loads the library.
  GameFolder plain("hooks-loader-plain");
  loader.dllOverrides.clear();
  EXPECT_EQ(plain.Run({"--no-library", "--seconds", "4"}, loader), 0);
  EXPECT_FALSE(plain.Log().has_value());
}

}  // namespace
}  // namespace e2e
