// The game's 3D world seen through the camera it publishes: the ground (a flat colour that the
// time of day darkens), the roads as bands on it, and a wall a scenario can put across a road.
// Drawn with a pipeline of its own that writes the depth buffer, as a game's scene pass does, so
// the library's occlusion has a real depth buffer to read.
//
// Depth is reversed and has no far plane: a point at view depth z (metres along the camera's
// forward axis) stores kNearPlane / z, 1 at the near plane and 0 at infinity, to which the buffer
// is cleared. The view-to-clip matrix (row-major, row vectors) is therefore
//   [projX 0 0 0; 0 projY 0 0; 0 0 0 1; 0 0 kNearPlane 0]   (m22 = 0, m23 = 1, m32 = kNearPlane),
// and the scene depth at a stored d is m32 / (d - m22).
#pragma once

#include <d3d12.h>

#include <cstdint>
#include <vector>

namespace simhost {

struct GameState;
struct Host;

inline constexpr float kNearPlane = 0.1f;

class WorldView {
 public:
  ~WorldView();
  // False (with a message on standard error) when the pipeline cannot be made.
  bool Init(ID3D12Device* device, DXGI_FORMAT colourFormat);
  // The sky the frame is cleared to, by the game's time of day.
  static void Sky(const GameState* game, float rgba[4]);
  // Records the host's world, as its camera sees it, into the list, whose render target and depth
  // buffer (cleared to 0) are set; nothing while the world is not drawn (the `world` action).
  void Record(const Host& host, ID3D12GraphicsCommandList* list, unsigned width, unsigned height);

 private:
  ID3D12Device* device_ = nullptr;
  ID3D12RootSignature* root_ = nullptr;
  ID3D12PipelineState* pipeline_ = nullptr;
  ID3D12Resource* vertices_ = nullptr;
  void* mapped_ = nullptr;
  // The road lines near the camera, collected again only when it leaves what was collected.
  std::vector<std::uint32_t> nearLines_;
  float nearX_ = 0, nearZ_ = 0;
  bool nearIn_ = false;
};

}  // namespace simhost
