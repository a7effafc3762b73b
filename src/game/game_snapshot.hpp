// One consistent reading of the game state: the player, the waypoint, the minimap and world map,
// the mount, the clock and the camera. There is no shared snapshot: every consumer (route worker,
// renderers) fills a record of its own whenever it needs one and may change its copy afterwards.
// Fields keep their start values when they cannot be read.
#pragma once

#include <cstdint>

namespace pathlight {

// What the player sits on, as the mount reader decides it.
enum MountState : std::int32_t {
  kMountUnknown = -1,
  kMountOnFoot = 0,
  kMountRiding = 1,
  kMountWagon = 2,
};

struct GameSnapshot {
  std::uint8_t playerValid = 0;
  float playerX = 0, playerY = 0, playerZ = 0;  // metres; y is height
  std::uint8_t waypointValid = 0;
  float waypointX = 0, waypointZ = 0;
  std::uint8_t minimapValid = 0;
  float minimapRotation = 0;  // degrees
  float minimapAlpha = 0;     // 1 shown, 0 hidden by the game
  float minimapZoom = 1.0f;
  float widgetScale = 1.0f;
  float widgetOffsetX = 0, widgetOffsetY = 0;  // reference pixels of a 1080-line screen
  float widgetX = 0, widgetY = 0;
  float widgetSize = 0;  // 0: not read
  std::uint8_t worldMapOpen = 0;
  float worldMapCenterX = 0, worldMapCenterY = 0;  // world x and z
  float worldMapZoom = 0;
  std::int32_t mountState = kMountUnknown;
  float clockHours = -1.0f;  // 0 <= h < 24; -1 when not read
  std::uint8_t cameraValid = 0;
  std::uint8_t cameraFromDlss = 0;
  float cameraPosition[3] = {0, 0, 0};
  float cameraColumn0[3] = {0, 0, 0};
  float cameraColumn1[3] = {0, 0, 0};
  float cameraColumn2[3] = {0, 0, 0};
  float cameraProjX = 0, cameraProjY = 0;
};

}  // namespace pathlight
