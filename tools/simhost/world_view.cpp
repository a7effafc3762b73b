// Sections: the world's look, its actions, the pipeline, the geometry of a frame.
//
// Actions:
//   world on|off                    the 3D world is drawn (the default) or the frame is plain
//   wall X Z WIDTH HEIGHT | wall off  a wall centred on (X, Z), WIDTH metres across the way the
//                                   camera looks at the time, HEIGHT above the ground; or none
#include "world_view.hpp"

#include <d3dcompiler.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "game_state.hpp"
#include "host.hpp"
#include "scenario.hpp"
#include "testkit/d3d12_kit_win.hpp"
#include "world_roads.hpp"

namespace simhost {

namespace {

// ---- the world's look ------------------------------------------------------------------------------
struct Colour {
  float r, g, b;
};
constexpr Colour kDaySky = {0.52f, 0.66f, 0.82f}, kNightSky = {0.02f, 0.03f, 0.07f};
constexpr Colour kGround = {0.34f, 0.42f, 0.22f};
constexpr Colour kMajorRoad = {0.80f, 0.70f, 0.50f}, kMinorRoad = {0.70f, 0.62f, 0.46f};
constexpr Colour kWall = {0.50f, 0.47f, 0.45f};
// How much of the daylight is left at the darkest of the night.
constexpr float kNightLight = 0.2f;

// A square grid of ground cells about the camera, laid `drop` metres below the terrain.
struct GroundGrid {
  int cells;
  float cell, drop;
};
// The ground near the camera in cells fine enough to follow the terrain within a millimetre, and
// out to the horizon in coarse cells laid a metre lower, so the near ground and the roads on it
// always lie in front of them.
constexpr GroundGrid kFineGround = {64, 8.0f, 0.0f}, kCoarseGround = {40, 200.0f, 1.0f};
// Roads: bands this wide, cut into pieces that follow the terrain, a little above the ground.
constexpr float kMajorWidth = 8.0f, kMinorWidth = 5.5f;
constexpr float kRoadPiece = 8.0f;
constexpr float kRoadLift = 0.05f;
constexpr float kRoadReach = 400.0f;
constexpr float kWallThickness = 0.6f;
// However many roads are near, a frame never writes more vertices than the buffer holds.
constexpr std::size_t kMaxVertices = 240000;

struct Vertex {
  float x, y, z;
  float r, g, b, a;
};

// 1 at night (21:00 to 04:00), 0 by day (06:00 to 19:00), changing evenly at dawn and dusk; day
// while the clock holds no time.
float NightFactor(float hours) {
  if (!(hours >= 0.0f) || hours >= 24.0f) return 0.0f;
  if (hours < 4.0f || hours >= 21.0f) return 1.0f;
  if (hours < 6.0f) return 1.0f - (hours - 4.0f) * 0.5f;
  if (hours < 19.0f) return 0.0f;
  return (hours - 19.0f) * 0.5f;
}

float Daylight(const GameState* game) { return 1.0f - (1.0f - kNightLight) * NightFactor(GameClockHours(game)); }

bool Finite(float v, float limit) { return std::isfinite(v) && std::fabs(v) <= limit; }

float Number(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

const bool kWorldAction =
    RegisterAction("world", {1, 1, [](Host& host, const Action& a) { host.world.shown = a.args[0] != "off"; }, true});

const bool kWallAction =
    RegisterAction("wall", {1, 4,
                            [](Host& host, const Action& a) {
                              if (a.args[0] == "off") {
                                host.world.wall.on = false;
                                return;
                              }
                              if (a.args.size() != 4) {
                                Say("simhost: line %d: wall X Z WIDTH HEIGHT, or wall off", a.line);
                                return;
                              }
                              Wall wall;
                              wall.x = Number(a.args[0]);
                              wall.z = Number(a.args[1]);
                              wall.width = Number(a.args[2]);
                              wall.height = Number(a.args[3]);
                              if (!Finite(wall.x, 1e7f) || !Finite(wall.z, 1e7f) || !Finite(wall.width, 1e4f) ||
                                  !Finite(wall.height, 1e4f) || wall.width <= 0 || wall.height <= 0) {
                                Say("simhost: line %d: the wall's numbers are out of range", a.line);
                                return;
                              }
                              // Across the way the camera looks: its right axis, level.
                              const GameCamera camera = ReadGameCamera(host.game);
                              const float length = std::hypot(camera.right[0], camera.right[2]);
                              if (camera.valid && length > 1e-3f) {
                                wall.acrossX = camera.right[0] / length;
                                wall.acrossZ = camera.right[2] / length;
                              }
                              wall.on = true;
                              host.world.wall = wall;
                            },
                            true});

// ---- the pipeline ------------------------------------------------------------------------------------

// Camera constants: position and projection x, right and projection y, up and the near plane,
// forward. A point's view coordinates are its offsets along right, up and forward; the clip
// position (vx projX, vy projY, near, vz) gives reversed depth near / vz.
constexpr char kShader[] = R"(
cbuffer Camera : register(b0) { float4 posProjX; float4 rightProjY; float4 upNear; float4 forward; };
struct VsIn { float3 pos : POSITION; float4 col : COLOR; };
struct VsOut { float4 pos : SV_POSITION; float4 col : COLOR; };
VsOut vs(VsIn i) {
  VsOut o;
  float3 r = i.pos - posProjX.xyz;
  o.pos = float4(dot(r, rightProjY.xyz) * posProjX.w, dot(r, upNear.xyz) * rightProjY.w, upNear.w, dot(r, forward.xyz));
  o.col = i.col;
  return o;
}
float4 ps(VsOut i) : SV_TARGET { return i.col; }
)";

ID3DBlob* Compile(const char* entry, const char* target) {
  ID3DBlob* code = nullptr;
  ID3DBlob* errors = nullptr;
  const HRESULT hr =
      D3DCompile(kShader, sizeof kShader - 1, nullptr, nullptr, nullptr, entry, target, 0, 0, &code, &errors);
  if (FAILED(hr)) {
    Say("simhost: the world's %s shader did not compile (0x%08lx): %s", entry, hr,
        errors != nullptr ? static_cast<const char*>(errors->GetBufferPointer()) : "");
  }
  if (errors != nullptr) errors->Release();
  return SUCCEEDED(hr) ? code : nullptr;
}

// ---- the geometry of a frame ------------------------------------------------------------------------

class Geometry {
 public:
  Geometry(Vertex* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
  std::size_t Count() const { return count_; }

  // Two triangles a b c, a c d.
  void Quad(const float a[3], const float b[3], const float c[3], const float d[3], Colour colour) {
    if (count_ + 6 > capacity_) return;
    for (const float* p : {a, b, c, a, c, d}) out_[count_++] = {p[0], p[1], p[2], colour.r, colour.g, colour.b, 1.0f};
  }

  // The grid centred near (x, z), snapped to whole cells so it does not swim.
  void Ground(float x, float z, const GroundGrid& grid, Colour colour) {
    const int cells = grid.cells;
    const float cell = grid.cell, drop = grid.drop;
    const float x0 = std::floor(x / cell) * cell - cells / 2 * cell;
    const float z0 = std::floor(z / cell) * cell - cells / 2 * cell;
    for (int i = 0; i < cells; ++i) {
      for (int j = 0; j < cells; ++j) {
        const float ax = x0 + i * cell, az = z0 + j * cell, bx = ax + cell, bz = az + cell;
        const float a[3] = {ax, GroundHeight(ax, az) - drop, az}, b[3] = {ax, GroundHeight(ax, bz) - drop, bz};
        const float c[3] = {bx, GroundHeight(bx, bz) - drop, bz}, d[3] = {bx, GroundHeight(bx, az) - drop, az};
        Quad(a, b, c, d, colour);
      }
    }
  }

  // A road line as a band on the ground, with a square at its start so the bands of a bending
  // road meet without a notch.
  void Road(const RoadLine& line, Colour colour) {
    const float dx = line.x1 - line.x0, dz = line.z1 - line.z0;
    const float length = std::hypot(dx, dz);
    if (!(length > 1e-3f) || length > 1e5f) return;
    const float half = (line.major ? kMajorWidth : kMinorWidth) / 2;
    const float sx = -dz / length * half, sz = dx / length * half;  // across the road
    const int pieces = std::max(1, static_cast<int>(std::ceil(length / kRoadPiece)));
    for (int k = 0; k < pieces; ++k) {
      const float t0 = static_cast<float>(k) / pieces, t1 = static_cast<float>(k + 1) / pieces;
      const float px = line.x0 + dx * t0, pz = line.z0 + dz * t0, qx = line.x0 + dx * t1, qz = line.z0 + dz * t1;
      Band(px, pz, qx, qz, sx, sz, colour);
    }
    const float ux = dx / length * half, uz = dz / length * half;  // along the road
    Band(line.x0 - ux, line.z0 - uz, line.x0, line.z0, sx, sz, colour);
  }

  void Box(const Wall& wall, float daylight) {
    const float hx = wall.acrossX * wall.width / 2, hz = wall.acrossZ * wall.width / 2;
    const float tx = -wall.acrossZ * kWallThickness / 2, tz = wall.acrossX * kWallThickness / 2;
    // Sunk a metre into the ground, so a slope shows no gap beneath it.
    const float bottom = GroundHeight(wall.x, wall.z) - 1.0f, top = bottom + 1.0f + wall.height;
    const float corners[4][2] = {{wall.x - hx - tx, wall.z - hz - tz},
                                 {wall.x + hx - tx, wall.z + hz - tz},
                                 {wall.x + hx + tx, wall.z + hz + tz},
                                 {wall.x - hx + tx, wall.z - hz + tz}};
    const Colour face = Scaled(kWall, daylight), side = Scaled(kWall, 0.75f * daylight),
                 cap = Scaled(kWall, 1.15f * daylight);
    for (int i = 0; i < 4; ++i) {
      const float* p = corners[i];
      const float* q = corners[(i + 1) % 4];
      const float a[3] = {p[0], bottom, p[1]}, b[3] = {p[0], top, p[1]}, c[3] = {q[0], top, q[1]},
                  d[3] = {q[0], bottom, q[1]};
      Quad(a, b, c, d, i % 2 == 0 ? face : side);
    }
    float up[4][3];
    for (int i = 0; i < 4; ++i) up[i][0] = corners[i][0], up[i][1] = top, up[i][2] = corners[i][1];
    Quad(up[0], up[1], up[2], up[3], cap);
  }

  static Colour Scaled(Colour c, float f) { return {c.r * f, c.g * f, c.b * f}; }

 private:
  void Band(float px, float pz, float qx, float qz, float sx, float sz, Colour colour) {
    const float a[3] = {px - sx, GroundHeight(px - sx, pz - sz) + kRoadLift, pz - sz};
    const float b[3] = {px + sx, GroundHeight(px + sx, pz + sz) + kRoadLift, pz + sz};
    const float c[3] = {qx + sx, GroundHeight(qx + sx, qz + sz) + kRoadLift, qz + sz};
    const float d[3] = {qx - sx, GroundHeight(qx - sx, qz - sz) + kRoadLift, qz - sz};
    Quad(a, b, c, d, colour);
  }

  Vertex* out_;
  std::size_t capacity_;
  std::size_t count_ = 0;
};

}  // namespace

void WorldView::Sky(const GameState* game, float rgba[4]) {
  const float n = NightFactor(GameClockHours(game));
  rgba[0] = kDaySky.r + (kNightSky.r - kDaySky.r) * n;
  rgba[1] = kDaySky.g + (kNightSky.g - kDaySky.g) * n;
  rgba[2] = kDaySky.b + (kNightSky.b - kDaySky.b) * n;
  rgba[3] = 1.0f;
}

WorldView::~WorldView() {
  if (vertices_ != nullptr) vertices_->Release();
  if (pipeline_ != nullptr) pipeline_->Release();
  if (root_ != nullptr) root_->Release();
}

bool WorldView::Init(ID3D12Device* device, DXGI_FORMAT colourFormat) {
  device_ = device;
  D3D12_ROOT_PARAMETER constants = {};
  constants.ParameterType = D3D12_ROOT_PARAMETER_TYPE_32BIT_CONSTANTS;
  constants.Constants.Num32BitValues = 16;
  constants.ShaderVisibility = D3D12_SHADER_VISIBILITY_VERTEX;
  D3D12_ROOT_SIGNATURE_DESC rootDesc = {};
  rootDesc.NumParameters = 1;
  rootDesc.pParameters = &constants;
  rootDesc.Flags = D3D12_ROOT_SIGNATURE_FLAG_ALLOW_INPUT_ASSEMBLER_INPUT_LAYOUT;
  ID3DBlob* serialised = nullptr;
  ID3DBlob* errors = nullptr;
  HRESULT hr = D3D12SerializeRootSignature(&rootDesc, D3D_ROOT_SIGNATURE_VERSION_1, &serialised, &errors);
  if (errors != nullptr) errors->Release();
  if (SUCCEEDED(hr)) {
    hr = device_->CreateRootSignature(0, serialised->GetBufferPointer(), serialised->GetBufferSize(),
                                      IID_PPV_ARGS(&root_));
    serialised->Release();
  }
  if (FAILED(hr)) {
    Say("simhost: the world's root signature failed (0x%08lx)", hr);
    return false;
  }

  ID3DBlob* vs = Compile("vs", "vs_5_0");
  ID3DBlob* ps = Compile("ps", "ps_5_0");
  if (vs == nullptr || ps == nullptr) {
    if (vs != nullptr) vs->Release();
    if (ps != nullptr) ps->Release();
    return false;
  }
  const D3D12_INPUT_ELEMENT_DESC layout[] = {
      {"POSITION", 0, DXGI_FORMAT_R32G32B32_FLOAT, 0, 0, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
      {"COLOR", 0, DXGI_FORMAT_R32G32B32A32_FLOAT, 0, 12, D3D12_INPUT_CLASSIFICATION_PER_VERTEX_DATA, 0},
  };
  D3D12_GRAPHICS_PIPELINE_STATE_DESC desc = testkit::TrianglePipelineDesc(root_, vs, ps, colourFormat);
  desc.InputLayout = {layout, 2};
  // Reversed depth: nearer is larger.
  desc.DepthStencilState.DepthEnable = TRUE;
  desc.DepthStencilState.DepthWriteMask = D3D12_DEPTH_WRITE_MASK_ALL;
  desc.DepthStencilState.DepthFunc = D3D12_COMPARISON_FUNC_GREATER_EQUAL;
  desc.DSVFormat = DXGI_FORMAT_D32_FLOAT;
  hr = device_->CreateGraphicsPipelineState(&desc, IID_PPV_ARGS(&pipeline_));
  vs->Release();
  ps->Release();
  if (FAILED(hr)) {
    Say("simhost: the world's pipeline failed (0x%08lx)", hr);
    return false;
  }

  hr = testkit::CreateCommitted(device_, D3D12_HEAP_TYPE_UPLOAD, testkit::BufferDesc(kMaxVertices * sizeof(Vertex)),
                                D3D12_RESOURCE_STATE_GENERIC_READ, &vertices_);
  const D3D12_RANGE nothing = {0, 0};
  if (SUCCEEDED(hr)) hr = vertices_->Map(0, &nothing, &mapped_);
  if (FAILED(hr)) {
    Say("simhost: the world's vertex buffer failed (0x%08lx)", hr);
    mapped_ = nullptr;
    return false;
  }
  return true;
}

void WorldView::Record(const Host& host, ID3D12GraphicsCommandList* list, unsigned width, unsigned height) {
  if (mapped_ == nullptr || !host.world.shown || width == 0 || height == 0) return;
  const GameCamera camera = ReadGameCamera(host.game);
  const float cx = camera.position[0], cz = camera.position[2];
  if (!camera.valid || !Finite(cx, 1e7f) || !Finite(camera.position[1], 1e7f) || !Finite(cz, 1e7f)) return;

  // One frame is in flight at most (the host waits for each), so the buffer is free to rewrite.
  Geometry geometry(static_cast<Vertex*>(mapped_), kMaxVertices);
  const float daylight = Daylight(host.game);
  const Colour ground = Geometry::Scaled(kGround, daylight);
  geometry.Ground(cx, cz, kFineGround, ground);
  geometry.Ground(cx, cz, kCoarseGround, ground);
  if (GameRoads().Ready()) {
    if (!nearIn_ || std::max(std::fabs(cx - nearX_), std::fabs(cz - nearZ_)) > kRoadReach / 4) {
      nearX_ = cx;
      nearZ_ = cz;
      GameRoads().Collect(cx - kRoadReach, cz - kRoadReach, cx + kRoadReach, cz + kRoadReach, nearLines_);
      nearIn_ = true;
    }
    const Colour major = Geometry::Scaled(kMajorRoad, daylight), minor = Geometry::Scaled(kMinorRoad, daylight);
    for (std::uint32_t index : nearLines_) {
      const RoadLine& line = GameRoads().Lines()[index];
      geometry.Road(line, line.major ? major : minor);
    }
  }
  if (host.world.wall.on) geometry.Box(host.world.wall, daylight);

  const float constants[16] = {camera.position[0], camera.position[1], camera.position[2], camera.projX,
                               camera.right[0],    camera.right[1],    camera.right[2],    camera.projY,
                               camera.up[0],       camera.up[1],       camera.up[2],       kNearPlane,
                               camera.forward[0],  camera.forward[1],  camera.forward[2],  0.0f};
  const D3D12_VIEWPORT viewport = {0, 0, static_cast<float>(width), static_cast<float>(height), 0, 1};
  const D3D12_RECT scissor = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  const D3D12_VERTEX_BUFFER_VIEW view = {vertices_->GetGPUVirtualAddress(),
                                         static_cast<UINT>(geometry.Count() * sizeof(Vertex)), sizeof(Vertex)};
  list->SetGraphicsRootSignature(root_);
  list->SetPipelineState(pipeline_);
  list->SetGraphicsRoot32BitConstants(0, 16, constants, 0);
  list->RSSetViewports(1, &viewport);
  list->RSSetScissorRects(1, &scissor);
  list->IASetPrimitiveTopology(D3D_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
  list->IASetVertexBuffers(0, 1, &view);
  list->DrawInstanced(static_cast<UINT>(geometry.Count()), 1, 0, 0);
}

}  // namespace simhost
