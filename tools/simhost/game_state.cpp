// Sections: layout constants, heap, objects, preparation, per-frame tick and view, actions.
//
// Actions (times in the scenario file; X,Z in world metres):
//   place X Z                       the player stands at (X, Z) (before the library loads at 0 ms)
//   walk MS X,Z [X,Z ...]           walks from where the player stands through the points in MS ms
//   waypoint X Z                    sets or moves the map waypoint (before the library at 0 ms)
//   waypoint-clear                  removes it
//   waypoint-path 0|1               which of the minimap's two icon paths holds the waypoint
//   icon-paths off|on               the minimap's icon paths vanish (the finder must scan) or return
//   worldmap open|close [X Z [ZOOM]]  opens the world map (a later world-map root) centred on the
//                                   player or (X, Z), at zoom 1.5 or ZOOM
//   minimap hide|show               the game's hide flag on the minimap widget
//   minimap-widget SIZE X Y         the minimap widget's size and position, for a 1080-line screen
//   minimap-view DEGREES ZOOM       the minimap's rotation and zoom
//   mount horse|wagon|wheels|off    the player's vehicle
//   icons free|restore              decommits the icon memory (waypoint included) / commits and refills it
//   clock HH:MM [RATE]|unknown      the time of day from now on, RATE scale ms per second (default 1)
#include "game_state.hpp"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "../worldgen/terrain.hpp"
#include "host.hpp"
#include "scenario.hpp"

extern "C" {
extern const char planted_vt_minimap[], planted_vt_worldmap[], planted_vt_icon[], planted_vt_camera[];
extern const char planted_vt_vehicle_component[], planted_vt_actor_manager[];
extern char planted_session_global[], planted_actors_global[], planted_characters_global[], planted_vehicles_global[];
extern char planted_clock_seconds[], planted_clock_milliseconds[];
}

namespace simhost {

namespace {

// ---- layout constants ----------------------------------------------------------------------------
// The library's default [Offsets].
constexpr std::uint64_t kPlayerPosition = 0x340, kMinimapZoom = 0x5B8, kMinimapRotation = 0x570;
constexpr std::uint64_t kHideWidget = 0x4A0, kHideFlags = 0xBC, kWidgetSize = 0x338, kWidgetHolder = 0x3A0;
constexpr std::uint64_t kWidgetPosition = 0x2F0;
constexpr std::uint64_t kWorldMapOpen = 0xB35, kWorldMapCenter = 0xAB8, kWorldMapZoom = 0xB1C;
constexpr std::uint64_t kCameraObject = 0x50, kCameraRotation = 0x88, kCameraPosition = 0xC8;
constexpr std::uint64_t kCameraProjX = 8, kCameraProjY = 0x1C;
constexpr std::uint64_t kSessionPlayer = 0x30, kPlayerActor = 0x50, kSessionCamera = 0x18;
constexpr std::uint64_t kIconCategory = 0xD0, kIconPosition = 0xE0, kIconLive = 0x1B8, kIconKind = 0xDE;
constexpr std::uint32_t kWaypointCategory = 22, kWaypointKind = 3;
// The direct icon paths from the minimap root (path 0, path 1).
constexpr std::uint64_t kIconPaths[2] = {584, 568};
constexpr std::uint32_t kHiddenBit = 0x400;
// The fixed fields of the game version.
constexpr std::uint64_t kActorComponents = 0x68, kComponentsVehicle = 0x48, kComponentsTimeOfDay = 0x1A0;
constexpr std::uint64_t kVehicleState = 0x18, kVehicleId = 0x10;
constexpr std::uint64_t kClockHours = 0x454, kClockRate = 0x466, kClockStamp = 0x468;

constexpr std::size_t kArenaBytes = 1 << 20;
constexpr std::size_t kIconRegionBytes = 64 << 10;
constexpr std::size_t kIconBytes = 0x200;
constexpr int kWorldMaps = 5;
constexpr int kOpenedWorldMap = 2;  // not the first found: the reader must prefer the open one
// The camera rides this far behind and above the player.
constexpr float kCameraBehind = 6.0f, kCameraAbove = 3.0f;
constexpr float kProjX = 1.2f, kProjY = 2.1f;
constexpr std::uint64_t kClockSecondsBase = 5'000'000;
// The widget's normal size and place on a 1080-line screen; the game scales them to its window.
constexpr float kReferenceLines = 1080.0f;
constexpr float kNormalWidgetSize = 200.0f, kNormalWidgetX = 150.0f, kNormalWidgetY = 945.0f;

enum Vehicle { kOnFoot = 0, kHorse = 101, kWagon = 202, kWheels = 303 };

// ---- heap -----------------------------------------------------------------------------------------

// Objects in private read-write memory, where the library's heap scan looks for them.
class Arena {
 public:
  explicit Arena(std::size_t bytes)
      : base_(static_cast<char*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))),
        size_(bytes) {}
  char* New(std::size_t bytes) {
    used_ = (used_ + 15) & ~std::size_t{15};
    if (base_ == nullptr || used_ + bytes > size_) return nullptr;
    char* at = base_ + used_;
    used_ += bytes;
    return at;
  }
  char* Base() const { return base_; }

 private:
  char* base_;
  std::size_t size_;
  std::size_t used_ = 0;
};

template <typename T> void Put(char* object, std::uint64_t offset, T value) {
  std::memcpy(object + offset, &value, sizeof value);
}
template <typename T> void Put(char* object, std::uint64_t offset, const T* pointer) {
  Put(object, offset, reinterpret_cast<std::uint64_t>(pointer));
}
void PutTable(char* object, const char* table) { Put(object, 0, table); }

// ---- objects ---------------------------------------------------------------------------------------

struct Icon {
  std::uint32_t category, kind, live;
  float x, y, z;
};

}  // namespace

struct GameState {
  Arena arena{kArenaBytes};
  // Icons that "icons free" takes away (the waypoint among them), and icons that stay.
  char* freeableIcons = nullptr;
  char* stableIcons = nullptr;
  bool iconsFreed = false;

  char* emptyMinimap = nullptr;
  char* minimap = nullptr;
  char* hideWidget = nullptr;
  char* widgetHolder = nullptr;
  char* iconLists[2] = {};
  char* waypointArray = nullptr;
  int waypointPath = 0;
  char* worldMaps[kWorldMaps] = {};
  char* camera = nullptr;
  char* vehicleState = nullptr;
  char* timeRecord = nullptr;

  float playerX = 100.0f, playerZ = 100.0f;
  // Where the player last walked (a unit vector in x, z); the camera looks that way.
  float headingX = 0.0f, headingZ = 1.0f;
  // The widget as laid out for a 1080-line screen, and the window's client height it is scaled to.
  float widgetSize = kNormalWidgetSize, widgetX = kNormalWidgetX, widgetY = kNormalWidgetY;
  int clientHeight = static_cast<int>(kReferenceLines);
  bool waypointSet = false;
  float waypointX = 0, waypointZ = 0;

  // A walk in progress: from the start through the points, at constant speed.
  std::vector<std::pair<float, float>> walk;
  unsigned walkStartMs = 0, walkMs = 0;
  bool walking = false;
};

namespace {

// The state's objects are there (their memory could be allocated).
bool Ready(const GameState* state) { return state != nullptr && state->arena.Base() != nullptr; }

char* IconAt(char* region, int index) { return region + index * kIconBytes; }
// The waypoint is the first icon of the freeable region.
char* WaypointIcon(const GameState& s) { return IconAt(s.freeableIcons, 0); }

// Field by field, never cleared first: the finder may be reading the icon meanwhile. Fresh icon
// memory is zero already (committed pages).
void WriteIcon(char* icon, const Icon& values) {
  PutTable(icon, planted_vt_icon);
  Put(icon, kIconCategory, values.category);
  Put(icon, kIconKind, static_cast<std::uint16_t>(values.kind));
  Put(icon, kIconLive, values.live);
  Put(icon, kIconPosition, values.x);
  Put(icon, kIconPosition + 4, values.y);
  Put(icon, kIconPosition + 8, values.z);
}

// Decoys the finder and the readers must pass over: other categories, icons that are not live,
// other kinds, map markers (height exactly 0) of other kinds. Index 0 of the freeable region is the
// waypoint, written by WriteWaypoint.
void WriteDecoys(char* region, int first, int count, float spread) {
  for (int i = first; i < first + count; ++i) {
    const float x = spread * static_cast<float>(i % 7), z = -spread * static_cast<float>(i % 5);
    Icon icon{};
    switch (i % 4) {
      case 0: icon = {7, kWaypointKind, 1, x, 20.0f, z}; break;                 // another category
      case 1: icon = {kWaypointCategory, kWaypointKind, 0, x, 0.0f, z}; break;  // not live
      case 2: icon = {kWaypointCategory, 5, 1, x, 15.0f, z}; break;             // another kind
      default: icon = {9, 1, 1, x, 0.0f, z}; break;                             // a map marker of another kind
    }
    WriteIcon(IconAt(region, i), icon);
  }
}

// The waypoint: a map marker (height exactly 0) of the waypoint's category and kind, live while set.
void WriteWaypoint(GameState& s) {
  if (!s.iconsFreed) {
    WriteIcon(WaypointIcon(s),
              {kWaypointCategory, kWaypointKind, s.waypointSet ? 1u : 0u, s.waypointX, 0.0f, s.waypointZ});
  }
  // Path entry 1 of the active list: {key, array, count, capacity}; the array holds a decoy of
  // the same category that is not live, then the waypoint.
  // The path that now holds the waypoint is written before the other is emptied, so the finder
  // never sees the waypoint on neither.
  for (int path : {s.waypointPath, 1 - s.waypointPath}) {
    char* entry = s.iconLists[path] + 24;
    Put<std::uint64_t>(entry, 0, kWaypointCategory);
    Put(entry, 8, s.waypointArray);
    Put<std::uint32_t>(entry, 16, s.waypointSet && path == s.waypointPath ? 2 : 0);
    Put<std::uint32_t>(entry, 20, 8);
  }
}

void WritePlayer(GameState& s) {
  const float ground = GroundHeight(s.playerX, s.playerZ);
  Put(s.minimap, kPlayerPosition, s.playerX);
  Put(s.minimap, kPlayerPosition + 4, ground);
  Put(s.minimap, kPlayerPosition + 8, s.playerZ);
  // The camera follows behind and above the player, level, looking the way the player last
  // walked: rows of the rotation whose columns are right, up and forward.
  const float fx = s.headingX, fz = s.headingZ;
  const float rows[3][4] = {{fz, 0, fx, 0}, {0, 1, 0, 0}, {-fx, 0, fz, 0}};
  std::memcpy(s.camera + kCameraRotation, rows, sizeof rows);
  Put(s.camera, kCameraPosition, s.playerX - kCameraBehind * fx);
  Put(s.camera, kCameraPosition + 4, ground + kCameraAbove);
  Put(s.camera, kCameraPosition + 8, s.playerZ - kCameraBehind * fz);
}

// The widget as the game holds it: its layout scaled to the window's height.
void WriteWidget(GameState& s) {
  const float scale = static_cast<float>(s.clientHeight) / kReferenceLines;
  for (char* root : {s.emptyMinimap, s.minimap}) Put(root, kWidgetSize, s.widgetSize * scale);
  Put(s.widgetHolder, kWidgetPosition, s.widgetX * scale);
  Put(s.widgetHolder, kWidgetPosition + 4, s.widgetY * scale);
}

template <typename T> T Get(const char* object, std::uint64_t offset) {
  T value;
  std::memcpy(&value, object + offset, sizeof value);
  return value;
}

std::uint64_t NowSeconds() {
  std::uint64_t seconds = 0, milliseconds = 0;
  std::memcpy(&seconds, planted_clock_seconds, 8);
  std::memcpy(&milliseconds, planted_clock_milliseconds, 8);
  return milliseconds / 1000 + seconds;
}

void SetClock(GameState& s, std::uint32_t hours, std::uint32_t minutes, std::uint16_t rate) {
  char* t = s.timeRecord;
  Put(t, kClockHours, hours);
  Put(t, kClockHours + 4, minutes);
  Put<std::uint32_t>(t, kClockHours + 8, 0);
  Put<std::uint32_t>(t, kClockHours + 12, 0);
  Put(t, kClockRate, rate);
  Put(t, kClockStamp, NowSeconds());
}

// One game table: count at +8, element array at +0x58.
char* NewTable(Arena& arena, const std::vector<char*>& elements) {
  char* table = arena.New(0x60);
  char* array = arena.New(8 * elements.size());
  Put<std::uint32_t>(table, 8, static_cast<std::uint32_t>(elements.size()));
  Put(table, 0x58, array);
  for (std::size_t i = 0; i < elements.size(); ++i) Put(array, 8 * i, elements[i]);
  return table;
}

// The actor manager's hash of the ridden actors by id, and the character and vehicle tables that
// name their types.
void PlantVehicles(Arena& arena) {
  struct Kind {
    std::uint32_t id;
    const char* name;
  };
  const Kind kinds[] = {{kHorse, "Horse_Saddled"}, {kWagon, "Cargo_Wagon"}, {kWheels, "Merchant_Wheels"}};
  constexpr std::uint32_t kBuckets = 13;
  char* manager = arena.New(0x20);
  char* hash = arena.New(0xB0);
  char* buckets = arena.New(256 * kBuckets);
  char* entries = arena.New(8 * 8);
  PutTable(manager, planted_vt_actor_manager);
  Put(manager, 8, hash);
  Put(hash, 0x88, kBuckets);
  Put(hash, 0x98, buckets);
  Put(hash, 0xA0, entries);
  char* holder = arena.New(8);
  Put(holder, 0, manager);
  Put(planted_actors_global, 0, holder);

  std::vector<char*> characters(1, arena.New(0xB0)), vehicles(1, arena.New(8));  // index 0: nobody
  int entry = 1;
  for (const Kind& kind : kinds) {
    char* name = arena.New(24 + 48);
    std::strcpy(name + 24, kind.name);
    char* vehicle = arena.New(8);
    Put(vehicle, 0, name);
    char* character = arena.New(0xB0);
    Put(character, 0xA0, static_cast<std::uint16_t>(vehicles.size()));
    vehicles.push_back(vehicle);
    char* characterRef = arena.New(0x40);
    Put(characterRef, 0x30, static_cast<std::uint16_t>(characters.size()));
    characters.push_back(character);
    char* info = arena.New(0x28);
    Put(info, 0x20, characterRef);
    char* actor = arena.New(0x70);
    Put(actor, 0x68, info);
    char* hashEntry = arena.New(0x10);
    Put(hashEntry, 4, kind.id);
    Put(hashEntry, 8, actor);
    Put(entries, 8 * entry, hashEntry);
    char* bucket = buckets + 256 * (kind.id % kBuckets);
    std::uint32_t count = 0;
    std::memcpy(&count, bucket, 4);
    Put(bucket, 8 + 8 * count, kind.id);
    Put(bucket, 12 + 8 * count, static_cast<std::uint32_t>(entry));
    Put(bucket, 0, count + 1);
    ++entry;
  }
  Put(planted_characters_global, 0, NewTable(arena, characters));
  Put(planted_vehicles_global, 0, NewTable(arena, vehicles));
}

// ---- preparation ----------------------------------------------------------------------------------

char* NewMinimapRoot(Arena& arena, char* hideWidget, char* widgetHolder, char* const lists[2]) {
  char* root = arena.New(0x600);
  PutTable(root, planted_vt_minimap);
  Put(root, kMinimapZoom, 1.0f);
  Put(root, kMinimapRotation, 0.0f);
  Put(root, kHideWidget, hideWidget);
  Put(root, kWidgetHolder, widgetHolder);
  for (int path = 0; path < 2; ++path) Put(root, kIconPaths[path], lists[path]);
  return root;
}

}  // namespace

GameState* PrepareGameState(int clientHeight) {
  GameState* state = new GameState;
  GameState& s = *state;
  s.clientHeight = clientHeight;
  Arena& arena = s.arena;
  if (arena.Base() == nullptr) {
    Say("simhost: the game state could not be allocated");
    return state;
  }
  s.freeableIcons =
      static_cast<char*>(VirtualAlloc(nullptr, kIconRegionBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  s.stableIcons = static_cast<char*>(VirtualAlloc(nullptr, kIconRegionBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));

  s.hideWidget = arena.New(0x100);
  s.widgetHolder = arena.New(0x300);
  // The two icon paths: lists of 24-byte entries, the first of another category.
  for (char*& list : s.iconLists) {
    list = arena.New(2048);
    char* decoys = arena.New(16);
    Put<std::uint64_t>(list, 0, 5);
    Put(list, 8, decoys);
    Put<std::uint32_t>(list, 16, 2);
    Put<std::uint32_t>(list, 20, 4);
    Put(decoys, 0, IconAt(s.stableIcons, 1));
    Put(decoys, 8, IconAt(s.stableIcons, 2));
  }
  s.waypointArray = arena.New(64);
  Put(s.waypointArray, 0, IconAt(s.freeableIcons, 1));  // same category, not live
  Put(s.waypointArray, 8, WaypointIcon(s));
  // Two minimap roots, the first without the player.
  s.emptyMinimap = NewMinimapRoot(arena, s.hideWidget, s.widgetHolder, s.iconLists);
  s.minimap = NewMinimapRoot(arena, s.hideWidget, s.widgetHolder, s.iconLists);
  for (char*& map : s.worldMaps) {
    map = arena.New(0xC00);
    PutTable(map, planted_vt_worldmap);
    Put(map, kWorldMapZoom, 1.0f);
  }
  // The camera manager and its camera: rows of the rotation (16-byte stride), projection scales.
  char* manager = arena.New(0x60);
  s.camera = arena.New(0x100);
  PutTable(manager, planted_vt_camera);
  Put(manager, kCameraObject, s.camera);
  Put(s.camera, kCameraProjX, kProjX);
  Put(s.camera, kCameraProjY, kProjY);
  // Session -> player -> actor -> components -> vehicle component -> vehicle state.
  char* session = arena.New(0x40);
  char* player = arena.New(0x60);
  char* actor = arena.New(0x70);
  char* components = arena.New(0x1A8);
  char* vehicleComponent = arena.New(0x20);
  s.vehicleState = arena.New(0x20);
  s.timeRecord = arena.New(0x470);
  Put(session, kSessionPlayer, player);
  Put(session, kSessionCamera, manager);
  Put(player, kPlayerActor, actor);
  Put(actor, kActorComponents, components);
  Put(components, kComponentsVehicle, vehicleComponent);
  Put(components, kComponentsTimeOfDay, s.timeRecord);
  PutTable(vehicleComponent, planted_vt_vehicle_component);
  Put(vehicleComponent, kVehicleState, s.vehicleState);
  Put<std::uint32_t>(s.vehicleState, kVehicleId, kOnFoot);
  Put(planted_session_global, 0, session);
  PlantVehicles(arena);

  WriteDecoys(s.freeableIcons, 1, 40, 37.0f);
  WriteDecoys(s.stableIcons, 0, 40, 53.0f);
  WriteWaypoint(s);
  WritePlayer(s);
  WriteWidget(s);
  Put(planted_clock_seconds, 0, kClockSecondsBase);
  Put<std::uint64_t>(planted_clock_milliseconds, 0, 0);
  SetClock(s, 9, 15, 1);
  return state;
}

// ---- per-frame tick and view ----------------------------------------------------------------------------------

void TickGameState(GameState* state, unsigned nowMs) {
  if (!Ready(state)) return;
  GameState& s = *state;
  Put<std::uint64_t>(planted_clock_milliseconds, 0, nowMs);
  if (!s.walking) return;
  // Distance along the walk's polyline at this time.
  float total = 0;
  for (std::size_t i = 1; i < s.walk.size(); ++i)
    total += std::hypot(s.walk[i].first - s.walk[i - 1].first, s.walk[i].second - s.walk[i - 1].second);
  const float done =
      s.walkMs == 0 ? 1.0f : std::min(1.0f, static_cast<float>(nowMs - s.walkStartMs) / static_cast<float>(s.walkMs));
  float left = done * total;
  std::pair<float, float> at = s.walk.back();
  for (std::size_t i = 1; i < s.walk.size(); ++i) {
    const auto a = s.walk[i - 1], b = s.walk[i];
    const float length = std::hypot(b.first - a.first, b.second - a.second);
    if (length > 1e-3f) {
      s.headingX = (b.first - a.first) / length;
      s.headingZ = (b.second - a.second) / length;
    }
    if (left <= length) {
      const float t = length > 0 ? left / length : 0.0f;
      at = {a.first + t * (b.first - a.first), a.second + t * (b.second - a.second)};
      break;
    }
    left -= length;
  }
  s.playerX = at.first;
  s.playerZ = at.second;
  WritePlayer(s);
  if (done >= 1.0f) s.walking = false;
}

void FollowClientHeight(GameState* state, int height) {
  if (!Ready(state) || height <= 0 || height == state->clientHeight) return;
  state->clientHeight = height;
  WriteWidget(*state);
}

GameView ReadGameView(const GameState* state) {
  GameView view;
  if (!Ready(state)) return view;
  const GameState& s = *state;
  view.valid = true;
  view.playerX = s.playerX;
  view.playerZ = s.playerZ;
  view.minimapShown = (Get<std::uint32_t>(s.hideWidget, kHideFlags) & kHiddenBit) == 0;
  view.minimapRotation = Get<float>(s.minimap, kMinimapRotation);
  view.minimapZoom = Get<float>(s.minimap, kMinimapZoom);
  view.widgetSize = Get<float>(s.minimap, kWidgetSize);
  view.widgetX = Get<float>(s.widgetHolder, kWidgetPosition);
  view.widgetY = Get<float>(s.widgetHolder, kWidgetPosition + 4);
  const char* map = s.worldMaps[kOpenedWorldMap];
  view.worldMapOpen = Get<std::uint8_t>(map, kWorldMapOpen) != 0;
  view.worldMapCenterX = Get<float>(map, kWorldMapCenter);
  view.worldMapCenterZ = Get<float>(map, kWorldMapCenter + 4);
  view.worldMapZoom = Get<float>(map, kWorldMapZoom);
  return view;
}

GameCamera ReadGameCamera(const GameState* state) {
  GameCamera camera;
  if (!Ready(state)) return camera;
  const char* c = state->camera;
  float rows[3][4];
  std::memcpy(rows, c + kCameraRotation, sizeof rows);
  for (int i = 0; i < 3; ++i) {
    camera.right[i] = rows[i][0];
    camera.up[i] = rows[i][1];
    camera.forward[i] = rows[i][2];
    camera.position[i] = Get<float>(c, kCameraPosition + 4 * i);
  }
  camera.projX = Get<float>(c, kCameraProjX);
  camera.projY = Get<float>(c, kCameraProjY);
  camera.valid = true;
  return camera;
}

float GameClockHours(const GameState* state) {
  if (!Ready(state)) return -1.0f;
  const auto hours = Get<std::uint32_t>(state->timeRecord, kClockHours);
  const auto minutes = Get<std::uint32_t>(state->timeRecord, kClockHours + 4);
  if (hours > 23 || minutes > 59) return -1.0f;
  return static_cast<float>(hours) + static_cast<float>(minutes) / 60.0f;
}

float GroundHeight(float x, float z) { return worldgen::TerrainHeight(x, z); }

// ---- actions ------------------------------------------------------------------------------------------

namespace {

float Number(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

// An action on the game's objects: it runs only while they are there.
std::function<void(Host&, const Action&)> OnObjects(void (*run)(Host&, GameState&, const Action&)) {
  return [run](Host& host, const Action& a) {
    if (Ready(host.game)) run(host, *host.game, a);
  };
}

// Moves a point of the game's (the player, the waypoint) to the X Z of an action's arguments.
void MoveTo(const Action& a, float& x, float& z) {
  x = Number(a.args[0]);
  z = Number(a.args[1]);
}

const bool kPlace = RegisterAction("place", {2, 2, OnObjects([](Host&, GameState& s, const Action& a) {
                                               s.walking = false;
                                               MoveTo(a, s.playerX, s.playerZ);
                                               WritePlayer(s);
                                             }),
                                             true});

const bool kWalk = RegisterAction("walk", {2, 1000, OnObjects([](Host& host, GameState& s, const Action& a) {
                                             s.walk.assign(1, {s.playerX, s.playerZ});
                                             for (std::size_t i = 1; i < a.args.size(); ++i) {
                                               std::istringstream point(a.args[i]);
                                               float x = 0, z = 0;
                                               char comma = 0;
                                               if (point >> x >> comma >> z && comma == ',') s.walk.emplace_back(x, z);
                                             }
                                             s.walkMs =
                                                 static_cast<unsigned>(std::strtoul(a.args[0].c_str(), nullptr, 10));
                                             s.walkStartMs = host.ElapsedMs();
                                             s.walking = true;
                                           })});

const bool kWaypoint = RegisterAction("waypoint", {2, 2, OnObjects([](Host&, GameState& s, const Action& a) {
                                                     s.waypointSet = true;
                                                     MoveTo(a, s.waypointX, s.waypointZ);
                                                     WriteWaypoint(s);
                                                   }),
                                                   true});

const bool kWaypointClear = RegisterAction("waypoint-clear", {0, 0, OnObjects([](Host&, GameState& s, const Action&) {
                                                                s.waypointSet = false;
                                                                WriteWaypoint(s);
                                                              })});

const bool kWaypointPath = RegisterAction("waypoint-path", {1, 1, OnObjects([](Host&, GameState& s, const Action& a) {
                                                              s.waypointPath = a.args[0] == "1" ? 1 : 0;
                                                              WriteWaypoint(s);
                                                            })});

const bool kIconPathsAction =
    RegisterAction("icon-paths", {1, 1, OnObjects([](Host&, GameState& s, const Action& a) {
                                    const bool on = a.args[0] == "on";
                                    for (char* root : {s.emptyMinimap, s.minimap}) {
                                      for (int path = 0; path < 2; ++path)
                                        Put(root, kIconPaths[path], on ? s.iconLists[path] : nullptr);
                                    }
                                  }),
                                  true});

const bool kWorldMap =
    RegisterAction("worldmap", {1, 4, OnObjects([](Host&, GameState& s, const Action& a) {
                                  char* map = s.worldMaps[kOpenedWorldMap];
                                  const bool open = a.args[0] == "open";
                                  const bool centred = a.args.size() >= 3;
                                  Put(map, kWorldMapCenter, centred ? Number(a.args[1]) : s.playerX);
                                  Put(map, kWorldMapCenter + 4, centred ? Number(a.args[2]) : s.playerZ);
                                  Put(map, kWorldMapZoom, a.args.size() == 4 ? Number(a.args[3]) : 1.5f);
                                  Put<std::uint8_t>(map, kWorldMapOpen, open ? 1 : 0);
                                })});

const bool kMinimap = RegisterAction("minimap", {1, 1, OnObjects([](Host&, GameState& s, const Action& a) {
                                                   Put<std::uint32_t>(s.hideWidget, kHideFlags,
                                                                      a.args[0] == "hide" ? kHiddenBit | 0x3 : 0x3);
                                                 })});

const bool kMinimapWidget = RegisterAction("minimap-widget", {3, 3, OnObjects([](Host&, GameState& s, const Action& a) {
                                                                s.widgetSize = Number(a.args[0]);
                                                                s.widgetX = Number(a.args[1]);
                                                                s.widgetY = Number(a.args[2]);
                                                                WriteWidget(s);
                                                              })});

const bool kMinimapView = RegisterAction("minimap-view", {2, 2, OnObjects([](Host&, GameState& s, const Action& a) {
                                                            for (char* root : {s.emptyMinimap, s.minimap}) {
                                                              Put(root, kMinimapRotation, Number(a.args[0]));
                                                              Put(root, kMinimapZoom, Number(a.args[1]));
                                                            }
                                                          })});

const bool kMount = RegisterAction("mount", {1, 1, OnObjects([](Host&, GameState& s, const Action& a) {
                                               const std::string& what = a.args[0];
                                               const std::uint32_t id = what == "horse"    ? kHorse
                                                                        : what == "wagon"  ? kWagon
                                                                        : what == "wheels" ? kWheels
                                                                                           : kOnFoot;
                                               Put(s.vehicleState, kVehicleId, id);
                                             })});

const bool kIcons =
    RegisterAction("icons", {1, 1, OnObjects([](Host&, GameState& s, const Action& a) {
                               if (a.args[0] == "free" && !s.iconsFreed) {
                                 // Decommitted, not just cleared: a read of these icons now faults.
                                 VirtualFree(s.freeableIcons, kIconRegionBytes, MEM_DECOMMIT);
                                 s.iconsFreed = true;
                               } else if (a.args[0] == "restore" && s.iconsFreed) {
                                 VirtualAlloc(s.freeableIcons, kIconRegionBytes, MEM_COMMIT, PAGE_READWRITE);
                                 s.iconsFreed = false;
                                 WriteDecoys(s.freeableIcons, 1, 40, 37.0f);
                                 WriteWaypoint(s);
                               }
                             })});

const bool kClock = RegisterAction(
    "clock", {1, 2, OnObjects([](Host&, GameState& s, const Action& a) {
                if (a.args[0] == "unknown") {
                  SetClock(s, 99, 0, 1);  // hours the game never holds: the reader cannot tell the time
                  return;
                }
                const unsigned hours = std::strtoul(a.args[0].c_str(), nullptr, 10);
                const std::size_t colon = a.args[0].find(':');
                const unsigned minutes =
                    colon == std::string::npos ? 0 : std::strtoul(a.args[0].c_str() + colon + 1, nullptr, 10);
                const unsigned rate = a.args.size() > 1 ? std::strtoul(a.args[1].c_str(), nullptr, 10) : 1;
                SetClock(s, hours, minutes, static_cast<std::uint16_t>(rate));
              })});

}  // namespace

}  // namespace simhost
