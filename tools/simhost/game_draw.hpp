// What the simulated game draws into its own frame before it presents: its minimap (a round map of
// the roads about the player, turned and zoomed as the minimap's state says, where the minimap
// widget says) and, while it is open, the world map filling the window. Drawn with Dear ImGui's
// draw lists on the game's own command list; the library's drawing is none of its business.
#pragma once

#include <d3d12.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "game_state.hpp"

struct ImDrawList;
struct ImGuiContext;

namespace simhost {

// The minimap's round map on screen, in window pixels.
struct MinimapDisc {
  float centreX = 0, centreY = 0, radius = 0, pixelsPerMetre = 0;
};

// Where the game draws its minimap for the widget it holds; false when the widget or the
// minimap's zoom cannot be drawn (garbage or hidden).
bool PlaceGameMinimap(const GameView& view, MinimapDisc& disc);

class GameDraw {
 public:
  ~GameDraw();
  // Starts making the shader-visible descriptor heap the drawing needs on a thread of its own: a
  // software renderer takes the better part of a second over it, and the window thread must go
  // on pumping messages meanwhile (a new window only takes the focus then). Frames are plain
  // until the heap is there.
  void Init(ID3D12Device* device, int framesInFlight, DXGI_FORMAT format);
  // The maps are drawn from now on, or never will be (no heap, no renderer).
  [[nodiscard]] bool Settled() const { return backend_ || failed_ || heapMade_.load(); }
  // The colour the frame is cleared to: the landscape, or the world map's parchment while it is
  // open (a clear costs less than filling the window with a shaded quad).
  static void Background(const GameView& view, float rgba[4]);
  // Records the drawing of the game's view into the list, whose render target is set to a
  // width × height target.
  void Record(ID3D12GraphicsCommandList* list, unsigned width, unsigned height, const GameView& view);

 private:
  void DrawMinimap(ImDrawList& draw, const GameView& view);
  void DrawWorldMap(ImDrawList& draw, const GameView& view, float width, float height);

  bool StartRenderer();

  ID3D12Device* device_ = nullptr;
  int framesInFlight_ = 0;
  DXGI_FORMAT format_ = DXGI_FORMAT_UNKNOWN;
  std::thread heapMaker_;
  std::atomic<bool> heapMade_{false};
  ImGuiContext* context_ = nullptr;
  ID3D12DescriptorHeap* fontHeap_ = nullptr;
  bool backend_ = false, failed_ = false;
  // The lines near what each map showed last, collected again only when the view leaves them.
  std::vector<std::uint32_t> minimapLines_, worldMapLines_;
  float minimapAtX_ = 0, minimapAtZ_ = 0, minimapReach_ = -1;
  float worldMinX_ = 0, worldMinZ_ = 0, worldMaxX_ = -1, worldMaxZ_ = -1;
  bool minimapRoadsIn_ = false, worldMapRoadsIn_ = false;
};

}  // namespace simhost
