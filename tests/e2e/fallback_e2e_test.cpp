// The library in the simulated game with [Style] Renderer Composition and the overlay window: the
// route on the minimap and on the world map. Checked through the log and through X screenshots, in which the overlay
// window shows premultiplied and unblended (black where transparent); the pictures a person looks at are the game's own
// frame with the overlay's pixels laid over it (overlay-compose), left as minimap.png and worldmap.png in the test's
// folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "game_folder.hpp"
#include "synthetic_world.hpp"

namespace e2e {
namespace {

// The world and the walk of the game-state scenarios: a route of some hundred metres on roads.
constexpr int kWorldSeed = 3;
constexpr int kWorldNodes = 2000;
constexpr double kStartX = -980, kStartZ = -990;
constexpr double kWaypointX = -480, kWaypointZ = -530;

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

// An X screenshot as xshot leaves it: the screen's pixels and where the client and the overlay lay.
struct XShot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB
  long clientX = 0, clientY = 0, clientW = 0, clientH = 0;
  long left = 0, top = 0, right = 0, bottom = 0;  // the overlay window; all 0 when none showed

  bool Overlay() const { return right > left && bottom > top; }
  std::uint32_t At(long x, long y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

std::uint32_t Big32(const std::vector<unsigned char>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

bool ReadXShot(const fs::path& path, XShot& shot) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 100) return false;
  const std::size_t header = Big32(b, 0), colours = Big32(b, 76), stride = Big32(b, 48);
  shot.width = static_cast<int>(Big32(b, 16));
  shot.height = static_cast<int>(Big32(b, 20));
  // Xvfb's depth-24 screen: packed 3-byte pixels, lines padded.
  if (Big32(b, 44) != 24 || shot.width <= 0 || stride < static_cast<std::size_t>(shot.width) * 3) return false;
  const bool lsb = Big32(b, 28) == 0;
  const std::size_t start = header + colours * 12;
  if (start + stride * shot.height > b.size()) return false;
  shot.pixels.resize(static_cast<std::size_t>(shot.width) * shot.height);
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const std::size_t at = start + y * stride + x * 3;
      shot.pixels[static_cast<std::size_t>(y) * shot.width + x] =
          lsb ? (std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 1]} << 8 | b[at])
              : (std::uint32_t{b[at]} << 16 | std::uint32_t{b[at + 1]} << 8 | b[at + 2]);
    }
  }
  std::FILE* where = std::fopen((path.string() + ".where").c_str(), "r");
  if (where == nullptr) return false;
  const int got = std::fscanf(where, "%ld %ld %ld %ld %ld %ld %ld %ld", &shot.clientX, &shot.clientY, &shot.clientW,
                              &shot.clientH, &shot.left, &shot.top, &shot.right, &shot.bottom);
  std::fclose(where);
  return got == 8;
}

// Overlay pixels that are the route's colour (the default [Style] Color, 0xF5 alpha, premultiplied:
// about (200, 74, 66)) and the overlay pixels of any colour, counted over the overlay's rectangle.
struct Census {
  long route = 0, painted = 0;
  long outsideDisc = 0;  // painted pixels outside the disc inscribed in the rectangle (minimap)
};

Census Count(const XShot& shot) {
  Census c;
  const double cx = (shot.left + shot.right) / 2.0, cy = (shot.top + shot.bottom) / 2.0;
  const double r = std::min(shot.right - shot.left, shot.bottom - shot.top) / 2.0;
  for (long y = std::max(0L, shot.top); y < std::min<long>(shot.bottom, shot.height); ++y) {
    for (long x = std::max(0L, shot.left); x < std::min<long>(shot.right, shot.width); ++x) {
      const std::uint32_t p = shot.At(x, y);
      if (p == 0) continue;
      ++c.painted;
      const int red = static_cast<int>(p >> 16), green = static_cast<int>((p >> 8) & 0xFF),
                blue = static_cast<int>(p & 0xFF);
      if (std::abs(red - 200) < 24 && std::abs(green - 74) < 24 && std::abs(blue - 66) < 24) ++c.route;
      if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) > r) ++c.outsideDisc;
    }
  }
  return c;
}

bool Compose(const fs::path& frame, const fs::path& shot, const fs::path& out) {
  const std::string command = std::string(PATHLIGHT_OVERLAY_COMPOSE) + " '" + frame.string() + "' '" + shot.string() +
                              "' '" + out.string() + "' >/dev/null";
  return std::system(command.c_str()) == 0;
}

TEST(FallbackE2E, OverlayWindowDrawsMinimapAndWorldMap) {
  GameFolder game("fallback");
  ASSERT_TRUE(MakeWorld(game, kWorldSeed, kWorldNodes));
  // Wine has no DirectComposition, so this is the whole fall: composition refused, the overlay
  // window instead.
  std::ofstream(game.Bin64() / "Pathlight.ini") << "[Style]\r\nRenderer=Composition\r\n";
  const fs::path root = game.Root();
  const auto at = [&](const char* name) { return WindowsPath(root / name); };
  // Diagnostic lines come every 5 s: two in a row with the same state prove a whole interval of
  // ticks drew that state.
  const std::string minimapDrawn = "Diag: .* worldmap=0 route=[1-9][0-9]* -> mm=1 wm=0 shown=1";
  const std::string worldDrawn = "Diag: .* worldmap=1 route=[1-9][0-9]* -> mm=0 wm=1 shown=1";
  std::ofstream(root / "scenario.txt") << "0 place " << kStartX << " " << kStartZ
                                       << "  # on the main road south-west of a town\n"
                                       << "0 waypoint " << kWaypointX << " " << kWaypointZ << "  # in the town\n"
                                       << "0 wait 60000 ^Overlay window: composition setup failed\n"
                                       << "0 wait 30000 " << minimapDrawn << "\n"
                                       << "0 wait 30000 " << minimapDrawn << "\n"
                                       << "0 frame-shot " << at("minimap.frame.png") << "\n"
                                       << "0 xshot " << (root / "minimap.xwd").string() << "\n"
                                       << "0 worldmap open\n"
                                       << "0 mark\n"
                                       << "0 wait 30000 " << worldDrawn << "\n"
                                       << "0 wait 30000 " << worldDrawn << "\n"
                                       << "0 frame-shot " << at("worldmap.frame.png") << "\n"
                                       << "0 xshot " << (root / "worldmap.xwd").string() << "\n"
                                       << "0 worldmap close\n"
                                       << "0 mark\n"
                                       << "0 wait 30000 " << minimapDrawn << "\n"
                                       << "0 wait 30000 " << minimapDrawn << "\n"
                                       << "0 xshot " << (root / "closed.xwd").string() << "\n"
                                       << "0 quit\n";
  RunOptions options;
  options.timeoutSeconds = 240;
  options.beside = PATHLIGHT_SOURCE_DIR "/scripts/xshot.sh";
  ASSERT_EQ(game.Run({"--scenario", at("scenario.txt")}, options), 0);

  const auto log = game.Log();
  ASSERT_TRUE(log.has_value());
  std::vector<std::string> renderer;
  for (const std::string& line : LogMessages(*log)) {
    if (line.rfind("Composition:", 0) == 0 || line.rfind("Overlay window:", 0) == 0 ||
        line.rfind("Renderer:", 0) == 0) {
      renderer.push_back(line);
    }
  }
  EXPECT_EQ(renderer, (std::vector<std::string>{
                          "Renderer: Composition (DirectComposition); scanning on",
                          "Composition: setup failed (hr=0x80004001)",
                          "Overlay window: composition setup failed; drawing the route in an overlay window instead "
                          "(minimap and world map)",
                      }));

  XShot minimap, world, closed;
  ASSERT_TRUE(ReadXShot(root / "minimap.xwd", minimap));
  ASSERT_TRUE(ReadXShot(root / "worldmap.xwd", world));
  ASSERT_TRUE(ReadXShot(root / "closed.xwd", closed));

  // The minimap: the route's colour, nothing outside the disc; the overlay lies on the client.
  ASSERT_TRUE(minimap.Overlay());
  const Census m = Count(minimap);
  EXPECT_GT(m.route, 30);
  EXPECT_EQ(m.outsideDisc, 0);
  EXPECT_GE(minimap.left, minimap.clientX);
  EXPECT_LE(minimap.bottom, minimap.clientY + minimap.clientH);

  // The world map: a larger drawing, the route's colour.
  ASSERT_TRUE(world.Overlay());
  const Census w = Count(world);
  EXPECT_GT(w.route, 100);
  EXPECT_GT((world.right - world.left) * (world.bottom - world.top),
            (minimap.right - minimap.left) * (minimap.bottom - minimap.top));

  // Closed again: the overlay is back over the minimap alone, the world map's drawing gone.
  ASSERT_TRUE(closed.Overlay());
  EXPECT_EQ(closed.left, minimap.left);
  EXPECT_EQ(closed.top, minimap.top);
  EXPECT_EQ(closed.right, minimap.right);
  EXPECT_EQ(closed.bottom, minimap.bottom);
  EXPECT_EQ(Count(closed).outsideDisc, 0);

  // The pictures a person looks at.
  EXPECT_TRUE(Compose(root / "minimap.frame.png", root / "minimap.xwd", root / "minimap.png"));
  EXPECT_TRUE(Compose(root / "worldmap.frame.png", root / "worldmap.xwd", root / "worldmap.png"));
}

}  // namespace
}  // namespace e2e
