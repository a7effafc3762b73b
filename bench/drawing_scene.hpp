// The scene the route-drawing benchmarks draw: a gently winding 300-point route east of the
// player, a point every 2 m (600 m), with the camera 3 m behind and 2 m above the player looking
// along it. The minimap keeps the part within its reach, the world map shows it all, and the
// ribbon lies on the first 50 m.
#pragma once

#include <cmath>
#include <vector>

#include <imgui.h>

#include "render12/route_drawing.hpp"

namespace pathlight::bench {

constexpr float kSceneWidth = 1920, kSceneHeight = 1080;
constexpr int kSceneRoutePoints = 300;

struct DrawingScene {
  Settings settings;
  GameSnapshot snapshot;
  Route route;
  RouteNearest nearest;
  std::vector<GroundPoint> polyline;

  DrawingScene() {
    for (int i = 0; i < kSceneRoutePoints; ++i) {
      const float x = 2.0f * static_cast<float>(i);
      route.points.push_back({x, 10 * std::sin(x / 20)});
      route.heights.push_back(0.5f * std::sin(x / 30));
    }
    snapshot.playerValid = snapshot.minimapValid = snapshot.cameraValid = 1;
    snapshot.playerX = 1, snapshot.playerZ = 1;
    snapshot.minimapAlpha = 1;
    snapshot.minimapRotation = 30;
    snapshot.worldMapZoom = 2.4f;
    snapshot.worldMapCenterX = 300;
    snapshot.clockHours = 20;
    const float right[3] = {0, 0, -1}, up[3] = {0, 1, 0}, forward[3] = {1, 0, 0};
    for (int i = 0; i < 3; ++i) {
      snapshot.cameraColumn0[i] = right[i];
      snapshot.cameraColumn1[i] = up[i];
      snapshot.cameraColumn2[i] = forward[i];
    }
    snapshot.cameraPosition[0] = -2, snapshot.cameraPosition[1] = 2, snapshot.cameraPosition[2] = 1;
    snapshot.cameraProjX = 1, snapshot.cameraProjY = 1.78f;
    settings.debug.drawRoads = false;
    nearest = NearestOnRoute(route.points, {snapshot.playerX, snapshot.playerZ});
    RouteFromPlayer(route.points, snapshot, nearest, polyline);
  }
};

// The overlay's own work in a frame on the road, as the renderer does it: Dear ImGui's frame, the
// route from the player, the ribbon without occlusion and the minimap route, ended by Render; every
// list in the caller's scratch, as the renderer keeps its own. The caller's backend, if any, starts
// its frame first.
inline void DrawSceneFrame(const DrawingScene& scene, DrawingScratch& scratch) {
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(kSceneWidth, kSceneHeight);
  io.DeltaTime = 1.0f / 60.0f;
  ImGui::NewFrame();
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  FrameDecisions decisions;
  decisions.minimap = decisions.ribbon = decisions.routeUsable = decisions.goOn = true;
  DrawRouteViews(draw, scratch, scene.snapshot, &scene.route, decisions, kSceneWidth, kSceneHeight, scene.settings,
                 nullptr, RibbonOcclusion{});
  ImGui::Render();
}

}  // namespace pathlight::bench
