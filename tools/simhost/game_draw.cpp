// Sections: the game's map geometry, set-up, minimap, world map.
#include "game_draw.hpp"

#include <imgui.h>
#include <imgui_impl_dx12.h>

#include <algorithm>
#include <cmath>

#include "host.hpp"
#include "testkit/d3d12_kit_win.hpp"
#include "world_roads.hpp"

namespace simhost {

namespace {

// ---- the game's map geometry -------------------------------------------------------------------
// The minimap's round map sits in a widget box of 200 units: radius 100 units, its centre 2 units
// left of and 1.25 units above the widget's anchor; at zoom 1 a metre of the world is 3.55 units.
constexpr float kWidgetBox = 200.0f;
constexpr float kDiscRadius = 100.0f;
constexpr float kDiscOffsetX = -2.0f, kDiscOffsetY = -1.25f;
constexpr float kUnitsPerMetre = 3.55f;
// The world map shows zoom ÷ 2.4 pixels a metre on a 1080-line screen, its centre mid-window.
constexpr float kWorldMapZoomDivisor = 2.4f;
constexpr float kReferenceLines = 1080.0f;
constexpr float kDegrees = 3.14159265f / 180.0f;
// However far a map is zoomed out, a frame draws no more lines than this.
constexpr std::size_t kMaxLinesPerFrame = 400000;

constexpr ImU32 kMinimapGround = IM_COL32(34, 44, 54, 255);
constexpr ImU32 kMinimapMajor = IM_COL32(236, 212, 150, 255);
constexpr ImU32 kMinimapMinor = IM_COL32(196, 178, 132, 255);
constexpr ImU32 kMinimapRim = IM_COL32(16, 18, 20, 255);
constexpr ImU32 kPlayerMarker = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kParchment = IM_COL32(206, 192, 158, 255);
constexpr ImU32 kWorldMapMajor = IM_COL32(110, 62, 36, 255);
constexpr ImU32 kWorldMapMinor = IM_COL32(140, 104, 72, 255);
constexpr ImU32 kWorldMapPlayer = IM_COL32(196, 40, 40, 255);

bool Finite(float v, float limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

// The part of a→b inside the circle, if any.
bool ClipToDisc(ImVec2& a, ImVec2& b, const MinimapDisc& disc) {
  const float dx = b.x - a.x, dy = b.y - a.y;
  const float fx = a.x - disc.centreX, fy = a.y - disc.centreY;
  const float qa = dx * dx + dy * dy;
  const float qb = 2 * (fx * dx + fy * dy);
  const float qc = fx * fx + fy * fy - disc.radius * disc.radius;
  if (qa < 1e-9f) return false;
  const float discriminant = qb * qb - 4 * qa * qc;
  if (discriminant <= 0) return false;
  const float root = std::sqrt(discriminant);
  const float t0 = std::max(0.0f, (-qb - root) / (2 * qa));
  const float t1 = std::min(1.0f, (-qb + root) / (2 * qa));
  if (t0 >= t1) return false;
  const ImVec2 start = a;
  a = ImVec2(start.x + dx * t0, start.y + dy * t0);
  b = ImVec2(start.x + dx * t1, start.y + dy * t1);
  return true;
}

}  // namespace

bool PlaceGameMinimap(const GameView& view, MinimapDisc& disc) {
  if (!view.valid || !Finite(view.widgetSize, 20000) || view.widgetSize < 1 || !Finite(view.widgetX, 100000) ||
      !Finite(view.widgetY, 100000)) {
    return false;
  }
  // The game's own zoom is always sane; a garbage one shows the map unzoomed.
  const float zoom = Finite(view.minimapZoom, 100) && view.minimapZoom > 0.01f ? view.minimapZoom : 1.0f;
  const float unit = view.widgetSize / kWidgetBox;
  disc.centreX = view.widgetX + kDiscOffsetX * unit;
  disc.centreY = view.widgetY + kDiscOffsetY * unit;
  disc.radius = kDiscRadius * unit;
  disc.pixelsPerMetre = kUnitsPerMetre * zoom * unit;
  return true;
}

void GameDraw::Background(const GameView& view, float rgba[4]) {
  if (!view.valid || !view.worldMapOpen) return;
  rgba[0] = static_cast<float>(kParchment >> IM_COL32_R_SHIFT & 0xFF) / 255.0f;
  rgba[1] = static_cast<float>(kParchment >> IM_COL32_G_SHIFT & 0xFF) / 255.0f;
  rgba[2] = static_cast<float>(kParchment >> IM_COL32_B_SHIFT & 0xFF) / 255.0f;
  rgba[3] = 1.0f;
}

// ---- set-up ----------------------------------------------------------------------------------------

GameDraw::~GameDraw() {
  if (heapMaker_.joinable()) heapMaker_.join();
  if (context_ != nullptr) {
    ImGui::SetCurrentContext(context_);
    if (backend_) ImGui_ImplDX12_Shutdown();
    ImGui::DestroyContext(context_);
  }
  if (fontHeap_ != nullptr) fontHeap_->Release();
}

void GameDraw::Init(ID3D12Device* device, int framesInFlight, DXGI_FORMAT format) {
  device_ = device;
  framesInFlight_ = framesInFlight;
  format_ = format;
  heapMaker_ = std::thread([this] {
    if (FAILED(testkit::CreateDescriptorHeap(device_, D3D12_DESCRIPTOR_HEAP_TYPE_CBV_SRV_UAV, 1, &fontHeap_,
                                             D3D12_DESCRIPTOR_HEAP_FLAG_SHADER_VISIBLE))) {
      fontHeap_ = nullptr;
    }
    heapMade_.store(true, std::memory_order_release);
  });
}

// Once the heap is there: Dear ImGui and its Direct3D 12 renderer, on the window thread.
bool GameDraw::StartRenderer() {
  if (backend_ || failed_) return backend_;
  if (!heapMade_.load(std::memory_order_acquire)) return false;
  heapMaker_.join();
  if (fontHeap_ == nullptr) {
    Say("simhost: the game's maps cannot be drawn; frames are plain");
    failed_ = true;
    return false;
  }
  context_ = ImGui::CreateContext();
  ImGui::SetCurrentContext(context_);
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  io.LogFilename = nullptr;
  backend_ =
      ImGui_ImplDX12_Init(device_, framesInFlight_, format_, fontHeap_, fontHeap_->GetCPUDescriptorHandleForHeapStart(),
                          fontHeap_->GetGPUDescriptorHandleForHeapStart());
  failed_ = !backend_;
  return backend_;
}

void GameDraw::Record(ID3D12GraphicsCommandList* list, unsigned width, unsigned height, const GameView& view) {
  if (!StartRenderer() || width == 0 || height == 0) return;
  ImGui::SetCurrentContext(context_);
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
  io.DeltaTime = 1.0f / 60.0f;
  ImGui_ImplDX12_NewFrame();
  ImGui::NewFrame();
  ImDrawList& draw = *ImGui::GetBackgroundDrawList();
  if (view.valid && view.worldMapOpen) {
    DrawWorldMap(draw, view, io.DisplaySize.x, io.DisplaySize.y);
  } else if (view.valid && view.minimapShown) {
    DrawMinimap(draw, view);
  }
  ImGui::Render();
  list->SetDescriptorHeaps(1, &fontHeap_);
  ImGui_ImplDX12_RenderDrawData(ImGui::GetDrawData(), list);
}

// ---- minimap -----------------------------------------------------------------------------------------

void GameDraw::DrawMinimap(ImDrawList& draw, const GameView& view) {
  MinimapDisc disc;
  if (!PlaceGameMinimap(view, disc)) return;
  const ImVec2 centre(disc.centreX, disc.centreY);
  const float unit = disc.radius / kDiscRadius;
  draw.AddCircleFilled(centre, disc.radius, kMinimapGround, 0);

  // World metres the round map reaches from the player; the lines near them are collected again
  // only when the player walks out of what was collected, or the map zooms far in or out.
  const float reach = disc.radius / disc.pixelsPerMetre;
  const bool roads = GameRoads().Ready() && Finite(view.playerX, 1e7f) && Finite(view.playerZ, 1e7f) && reach < 1e6f;
  if (roads) {
    const float moved = std::max(std::fabs(view.playerX - minimapAtX_), std::fabs(view.playerZ - minimapAtZ_));
    if (!minimapRoadsIn_ || moved + reach > minimapReach_ || minimapReach_ > 4 * reach + 200) {
      minimapAtX_ = view.playerX;
      minimapAtZ_ = view.playerZ;
      minimapReach_ = 1.5f * reach + 100;
      GameRoads().Collect(minimapAtX_ - minimapReach_, minimapAtZ_ - minimapReach_, minimapAtX_ + minimapReach_,
                          minimapAtZ_ + minimapReach_, minimapLines_);
      minimapRoadsIn_ = true;
    }
    // The map turns by the minimap's rotation: a world offset (east, north) shows at
    // (east cos - north sin, east sin + north cos) on the map, north up the screen.
    const float angle = std::isfinite(view.minimapRotation) ? std::fmod(view.minimapRotation, 360.0f) * kDegrees : 0.0f;
    const float c = std::cos(angle), s = std::sin(angle);
    const auto toScreen = [&](float x, float z) {
      const float east = x - view.playerX, north = z - view.playerZ;
      return ImVec2(disc.centreX + (east * c - north * s) * disc.pixelsPerMetre,
                    disc.centreY - (east * s + north * c) * disc.pixelsPerMetre);
    };
    const float major = std::max(2.0f, 3.0f * unit), minor = std::max(1.2f, 1.8f * unit);
    const std::vector<RoadLine>& lines = GameRoads().Lines();
    const std::size_t count = std::min(minimapLines_.size(), kMaxLinesPerFrame);
    for (std::size_t i = 0; i < count; ++i) {
      const RoadLine& line = lines[minimapLines_[i]];
      ImVec2 a = toScreen(line.x0, line.z0), b = toScreen(line.x1, line.z1);
      if (!ClipToDisc(a, b, disc)) continue;
      draw.AddLine(a, b, line.major ? kMinimapMajor : kMinimapMinor, line.major ? major : minor);
    }
  }
  // The rim covers the lines' soft ends at the edge.
  draw.AddCircle(centre, disc.radius, kMinimapRim, 0, std::max(2.0f, 4.0f * unit));
  // The player, always at the centre, facing up the map.
  const float arrow = std::max(4.0f, 8.0f * unit);
  draw.AddTriangleFilled(ImVec2(centre.x, centre.y - arrow), ImVec2(centre.x + 0.7f * arrow, centre.y + 0.7f * arrow),
                         ImVec2(centre.x - 0.7f * arrow, centre.y + 0.7f * arrow), kPlayerMarker);
}

// ---- world map ---------------------------------------------------------------------------------------

void GameDraw::DrawWorldMap(ImDrawList& draw, const GameView& view, float width, float height) {
  // The parchment is the frame's clear colour (Background).
  const float perMetre = view.worldMapZoom / kWorldMapZoomDivisor * (height / kReferenceLines);
  if (!Finite(view.worldMapCenterX, 1e7f) || !Finite(view.worldMapCenterZ, 1e7f) || !(perMetre > 1e-6f) ||
      !std::isfinite(perMetre)) {
    return;
  }
  const auto toScreen = [&](float x, float z) {
    return ImVec2(width / 2 + (x - view.worldMapCenterX) * perMetre,
                  height / 2 - (z - view.worldMapCenterZ) * perMetre);
  };
  if (GameRoads().Ready()) {
    const float halfX = width / 2 / perMetre, halfZ = height / 2 / perMetre;
    const float minX = view.worldMapCenterX - halfX, maxX = view.worldMapCenterX + halfX;
    const float minZ = view.worldMapCenterZ - halfZ, maxZ = view.worldMapCenterZ + halfZ;
    const bool inside = minX >= worldMinX_ && maxX <= worldMaxX_ && minZ >= worldMinZ_ && maxZ <= worldMaxZ_;
    const bool tooWide = (worldMaxX_ - worldMinX_) > 4 * (maxX - minX);
    if (!worldMapRoadsIn_ || !inside || tooWide) {
      worldMinX_ = minX - halfX / 2;
      worldMaxX_ = maxX + halfX / 2;
      worldMinZ_ = minZ - halfZ / 2;
      worldMaxZ_ = maxZ + halfZ / 2;
      GameRoads().Collect(worldMinX_, worldMinZ_, worldMaxX_, worldMaxZ_, worldMapLines_);
      worldMapRoadsIn_ = true;
    }
    const float scale = height / kReferenceLines;
    const float major = std::max(1.5f, 3.0f * scale), minor = std::max(1.0f, 1.6f * scale);
    const std::vector<RoadLine>& lines = GameRoads().Lines();
    const std::size_t count = std::min(worldMapLines_.size(), kMaxLinesPerFrame);
    for (std::size_t i = 0; i < count; ++i) {
      const RoadLine& line = lines[worldMapLines_[i]];
      draw.AddLine(toScreen(line.x0, line.z0), toScreen(line.x1, line.z1), line.major ? kWorldMapMajor : kWorldMapMinor,
                   line.major ? major : minor);
    }
  }
  if (Finite(view.playerX, 1e7f) && Finite(view.playerZ, 1e7f)) {
    const ImVec2 at = toScreen(view.playerX, view.playerZ);
    const float size = std::max(4.0f, 9.0f * height / kReferenceLines);
    draw.AddCircleFilled(at, size + 2, kPlayerMarker, 0);
    draw.AddCircleFilled(at, size, kWorldMapPlayer, 0);
  }
}

}  // namespace simhost
