// Sections: snapshot, player and maps, minimap widget, camera, mount state, vehicle id and type
// name, time of day.
#include "game/game_readers.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/log.hpp"

namespace pathlight {

namespace {

constexpr float kMinZoom = 0.2f, kMaxZoom = 5.0f;  // exclusive
constexpr std::uint32_t kMinimapHiddenBit = 0x400;
constexpr float kMinWidgetSize = 50.0f, kMaxWidgetSize = 8000.0f;
constexpr float kMaxWidgetPosition = 20000.0f;
// A widget smaller than the normal one by more than this is the new normal one.
constexpr float kWidgetShrinkTolerance = 0.5f;
constexpr float kMinProjection = 0.1f, kMaxProjection = 20.0f;  // exclusive

// Fixed fields of the game version served: player actor to its components and the vehicle
// component to the vehicle id; actor to its time-of-day record.
constexpr std::uint64_t kActorComponents = 0x68;
constexpr std::uint64_t kComponentsVehicle = 0x48;
constexpr std::uint64_t kVehicleComponentState = 0x18;
constexpr std::uint64_t kVehicleStateId = 0x10;
constexpr std::uint64_t kComponentsTimeOfDay = 0x1A0;

// The actor manager's hash of actors by id: buckets of 256 bytes, each a count and up to 31
// {id, entry index} pairs.
constexpr std::uint64_t kManagerTable = 8;
constexpr std::uint64_t kTableBucketCount = 0x88;
constexpr std::uint64_t kTableBuckets = 0x98;
constexpr std::uint64_t kTableEntries = 0xA0;
constexpr std::uint64_t kBucketBytes = 256;
constexpr std::uint32_t kBucketPairs = 31;
constexpr std::uint64_t kEntryId = 4, kEntryActor = 8;
// Actor to its character index, and the two game tables (count at +8, element array at +0x58).
constexpr std::uint64_t kActorInfo = 0x68, kInfoCharacter = 0x20, kCharacterIndex = 0x30;
constexpr std::uint64_t kTableCount = 8, kTableArray = 0x58;
constexpr std::uint64_t kCharacterVehicleIndex = 0xA0;
constexpr std::uint64_t kNameText = 24;
constexpr std::size_t kMaxNameBytes = 47;

// The time-of-day record.
constexpr std::uint64_t kClockHours = 0x454, kClockRate = 0x466, kClockStamp = 0x468;
constexpr std::uint64_t kScaleDayMs = 75'600'000;                               // 21 hours
constexpr std::uint64_t kNightEndMs = 10'800'000;                               // 03:00
constexpr std::uint64_t kNightStartMs = 75'600'000;                             // 21:00
constexpr std::uint64_t kNightEndOnScale = kNightEndMs / 2;                     // 5,400,000
constexpr std::uint64_t kNightStartOnScale = kNightStartMs - kNightEndOnScale;  // 70,200,000
// From 21:00 the scale runs at half speed again: day ms = 2 x scale ms - this.
constexpr std::uint64_t kLateNightShift = 2 * kNightStartOnScale - kNightStartMs;  // 64,800,000
constexpr double kHourMs = 3'600'000.0;

// Reads through another GameMemory and notes whether any read came up short.
class FaultNoting final : public GameMemory {
 public:
  explicit FaultNoting(GameMemory& inner) : inner_(inner) {}
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    const std::size_t read = inner_.ReadSome(address, out, size);
    if (read < size) faulted = true;
    return read;
  }
  bool faulted = false;

 private:
  GameMemory& inner_;
};

bool ReadPointer(GameMemory& memory, std::uint64_t address, std::uint64_t& value) {
  return memory.ReadValue(address, value) && IsPlausiblePointer(value);
}

}  // namespace

// ---- snapshot ----------------------------------------------------------------------------------

void ReadGameSnapshot(const GameReadContext& context, GameSnapshot& snapshot) {
  snapshot = GameSnapshot{};
  const GameLayout& layout = context.layout;
  if (layout.ImageBase == 0) return;
  ReadPlayer(context, snapshot);
  ReadMaps(context, snapshot);
  ReadCamera(context, snapshot);
  ReadMountState(context, snapshot);

  if (layout.SessionGlobal != 0 && layout.ClockSecondsGlobal != 0 && context.settings.worldNightOpacity >= 0.0f) {
    snapshot.clockHours = ReadTimeOfDay(context);
    const std::int32_t state = snapshot.clockHours < 0.0f ? -1 : 1;
    if (context.state.loggedClockState.exchange(state) != state) {
      if (state < 0) {
        Log("Clock: time of day unknown");
      } else {
        const int hours = static_cast<int>(snapshot.clockHours);
        const int minutes = static_cast<int>(snapshot.clockHours * 60.0f) % 60;
        Log("Clock: %02d:%02d", hours, minutes);
      }
    }
  }

  IconPosition waypoint;
  snapshot.waypointValid = ReadIconPosition(context.memory, layout, context.settings.offsets,
                                            context.pointers.WaypointIcon.load(std::memory_order_relaxed), waypoint);
  snapshot.waypointX = waypoint.x;
  snapshot.waypointZ = waypoint.z;
}

// ---- player and maps ----------------------------------------------------------------------------

void ReadPlayer(const GameReadContext& context, GameSnapshot& snapshot) {
  const std::uint64_t root = context.pointers.MinimapRoot.load(std::memory_order_relaxed);
  if (!HasVtable(context.memory, root, context.layout.MinimapVtable)) return;
  float xyz[3];
  if (!context.memory.Read(root + context.settings.offsets.minimapPlayerPosition, xyz, sizeof xyz)) return;
  const float x = xyz[0], z = xyz[2];
  // Unlike the finder's test, a coordinate of exactly 1,000,000 is believed.
  if (!std::isfinite(x) || !std::isfinite(z) || std::fabs(x) > kMaxObjectCoordinate ||
      std::fabs(z) > kMaxObjectCoordinate)
    return;
  if (x == 0.0f && z == 0.0f) return;
  snapshot.playerX = x;
  snapshot.playerY = xyz[1];
  snapshot.playerZ = z;
  snapshot.playerValid = 1;
}

void ReadMaps(const GameReadContext& context, GameSnapshot& snapshot) {
  GameMemory& memory = context.memory;
  const GameOffsets& offsets = context.settings.offsets;
  const std::uint64_t root = context.pointers.MinimapRoot.load(std::memory_order_relaxed);
  if (HasVtable(memory, root, context.layout.MinimapVtable)) {
    if (!memory.ReadValue(root + offsets.minimapRotation, snapshot.minimapRotation)) return;
    float zoom = 0;
    if (!memory.ReadValue(root + offsets.minimapZoom, zoom)) return;
    snapshot.minimapZoom = std::isfinite(zoom) && zoom > kMinZoom && zoom < kMaxZoom ? zoom : 1.0f;
    std::uint64_t hide = 0;
    if (!memory.ReadValue(root + offsets.minimapHideWidget, hide)) return;
    bool hidden = false;
    if (IsPlausiblePointer(hide)) {
      std::uint32_t flags = 0;
      if (!memory.ReadValue(hide + offsets.minimapHideFlags, flags)) return;
      hidden = (flags & kMinimapHiddenBit) != 0;
    }
    snapshot.minimapAlpha = hidden ? 0.0f : 1.0f;
    if (!ReadMinimapWidget(context, root, snapshot)) return;
    snapshot.minimapValid = std::isfinite(snapshot.minimapRotation) ? 1 : 0;
  }

  // An open world map among the candidates wins over the first one found.
  std::uint64_t map = context.pointers.WorldMapObject.load(std::memory_order_relaxed);
  for (const auto& candidate : context.pointers.WorldMapCandidates) {
    const std::uint64_t object = candidate.load(std::memory_order_relaxed);
    if (WorldMapIsOpen(memory, context.layout, offsets, object)) {
      map = object;
      break;
    }
  }
  if (!HasVtable(memory, map, context.layout.WorldMapVtable)) return;
  // The open flag counts only with the centre and zoom read after it: a map freed in between is
  // no open map without a scale.
  std::uint8_t open = 0;
  float center[2];
  float zoom = 0;
  if (!memory.ReadValue(map + offsets.worldMapOpen, open)) return;
  if (!memory.Read(map + offsets.worldMapCenter, center, sizeof center)) return;
  snapshot.worldMapCenterX = center[0];
  snapshot.worldMapCenterY = center[1];
  if (!memory.ReadValue(map + offsets.worldMapZoom, zoom)) return;
  snapshot.worldMapZoom = zoom;
  snapshot.worldMapOpen = open != 0 && std::isfinite(center[0]) && std::isfinite(center[1]) && zoom > 0.0f ? 1 : 0;
}

// ---- minimap widget ------------------------------------------------------------------------------

bool ReadMinimapWidget(const GameReadContext& context, std::uint64_t root, GameSnapshot& snapshot) {
  GameMemory& memory = context.memory;
  const GameOffsets& offsets = context.settings.offsets;
  snapshot.widgetScale = 1.0f;
  snapshot.widgetOffsetX = snapshot.widgetOffsetY = 0.0f;
  if (offsets.minimapSize == 0 || offsets.minimapPosObject == 0) return true;
  std::uint64_t holder = 0;
  if (!memory.ReadValue(root + offsets.minimapPosObject, holder)) return false;
  if (!IsPlausiblePointer(holder)) return true;
  float size = 0;
  if (!memory.ReadValue(root + offsets.minimapSize, size)) return false;
  if (!std::isfinite(size) || size < kMinWidgetSize || size > kMaxWidgetSize) return true;
  float position[2];
  if (!memory.Read(holder + offsets.minimapPos, position, sizeof position)) return false;
  const float x = position[0], y = position[1];
  if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > kMaxWidgetPosition ||
      std::fabs(y) > kMaxWidgetPosition) {
    return true;
  }
  snapshot.widgetX = x;
  snapshot.widgetY = y;
  snapshot.widgetSize = size;

  ReaderState& state = context.state;
  float normalSize = state.normalWidgetSize.load();
  float normalX = state.normalWidgetX.load(), normalY = state.normalWidgetY.load();
  if (normalSize == 0.0f || size < normalSize - kWidgetShrinkTolerance) {
    // Three separate stores: a concurrent reader may briefly pair a new size with an old position.
    state.normalWidgetSize.store(size);
    state.normalWidgetX.store(x);
    state.normalWidgetY.store(y);
    normalSize = size;
    normalX = x;
    normalY = y;
    Log("Minimap: normal widget size %.0f at (%.0f, %.0f)", size, x, y);
  }
  // The normal widget is taken to be 2 x Radius reference pixels wide.
  const float k = 2.0f * context.settings.minimapRadius / normalSize;
  snapshot.widgetOffsetX = (x - normalX) * k;
  snapshot.widgetOffsetY = (y - normalY) * k;
  snapshot.widgetScale = size / normalSize;
  return true;
}

// ---- camera --------------------------------------------------------------------------------------

void ReadCamera(const GameReadContext& context, GameSnapshot& snapshot) {
  snapshot.cameraValid = 0;
  const GameLayout& layout = context.layout;
  if (layout.CameraVtable == 0 || !context.worldRouteShown) return;
  GameMemory& memory = context.memory;
  const GameOffsets& offsets = context.settings.offsets;
  const std::uint64_t manager = context.pointers.CameraManagerObject.load(std::memory_order_relaxed);
  if (!HasVtable(memory, manager, layout.CameraVtable)) return;
  std::uint64_t camera = 0;
  if (!ReadPointer(memory, manager + offsets.cameraObject, camera)) return;
  // Three rows of four floats; the fourth of each row is not part of the rotation (and the last
  // one is not read at all).
  float rows[3][4];
  if (!memory.Read(camera + offsets.cameraRotation, rows, sizeof rows - sizeof(float))) return;
  for (int row = 0; row < 3; ++row) {
    snapshot.cameraColumn0[row] = rows[row][0];
    snapshot.cameraColumn1[row] = rows[row][1];
    snapshot.cameraColumn2[row] = rows[row][2];
  }
  if (!memory.Read(camera + offsets.cameraPosition, snapshot.cameraPosition, sizeof snapshot.cameraPosition)) return;
  if (!memory.ReadValue(camera + offsets.cameraProjX, snapshot.cameraProjX)) return;
  if (!memory.ReadValue(camera + offsets.cameraProjY, snapshot.cameraProjY)) return;

  const float* c2 = snapshot.cameraColumn2;
  const float length2 = c2[0] * c2[0] + c2[1] * c2[1] + c2[2] * c2[2];
  bool valid = std::fabs(length2 - 1.0f) < 0.01f;
  valid = valid && snapshot.cameraProjX > kMinProjection && snapshot.cameraProjX < kMaxProjection;
  valid = valid && snapshot.cameraProjY > kMinProjection && snapshot.cameraProjY < kMaxProjection;
  for (float p : snapshot.cameraPosition) valid = valid && std::isfinite(p) && std::fabs(p) < kMaxObjectCoordinate;
  snapshot.cameraValid = valid ? 1 : 0;
}

// ---- mount state ---------------------------------------------------------------------------------

void ReadMountState(const GameReadContext& context, GameSnapshot& snapshot) {
  snapshot.mountState = kMountUnknown;
  const GameLayout& layout = context.layout;
  const Settings& settings = context.settings;
  if (!(settings.mountedOnly || settings.wagonRoutingEnabled)) return;
  if (layout.SessionGlobal == 0 || layout.VehicleComponentVtable == 0) return;
  ReaderState& state = context.state;

  std::string name;
  const std::uint32_t id = ReadVehicleId(context);
  std::int32_t mount = kMountUnknown;
  if (id == kNoVehicleId) {
    mount = kMountUnknown;
  } else if (id == 0) {
    mount = kMountOnFoot;
  } else if (id == state.cachedVehicleId.load()) {
    mount = state.cachedMountState.load();
  } else {
    bool faulted = false;
    name = ReadVehicleTypeName(context, id, &faulted);
    mount = faulted ? kMountUnknown : kMountRiding;
    // Without a name nothing is cached, so the next reading asks again.
    if (!name.empty()) {
      if (name.find("Wagon") != std::string::npos || name.find("Wheels") != std::string::npos) mount = kMountWagon;
      state.cachedMountState.store(mount);
      state.cachedVehicleId.store(id);
    }
  }
  snapshot.mountState = mount;

  if (state.loggedMountState.exchange(mount) != mount) {
    const char* what = mount == kMountWagon    ? "on a wagon"
                       : mount == kMountRiding ? "riding"
                       : mount == kMountOnFoot ? "on foot"
                                               : "mount state unknown";
    Log("Player: %s%s%s", what, name.empty() ? "" : ", vehicle ", name.c_str());
  }
}

// ---- vehicle id and type name ----------------------------------------------------------------------

namespace {

// Session global -> session -> player -> actor -> actor components; false when a link fails.
bool ReadActorComponents(const GameReadContext& context, std::uint64_t& components) {
  GameMemory& memory = context.memory;
  const GameOffsets& offsets = context.settings.offsets;
  std::uint64_t session = 0, player = 0, actor = 0;
  return ReadPointer(memory, context.layout.SessionGlobal, session) &&
         ReadPointer(memory, session + offsets.sessionPlayer, player) &&
         ReadPointer(memory, player + offsets.playerActor, actor) &&
         ReadPointer(memory, actor + kActorComponents, components);
}

// Element `index` of one of the game's tables (count at +8, pointer array at +0x58).
bool ReadTableElement(GameMemory& memory, std::uint64_t global, std::uint32_t index, std::uint64_t& element) {
  std::uint64_t table = 0, array = 0;
  std::uint32_t count = 0;
  if (!ReadPointer(memory, global, table) || !memory.ReadValue(table + kTableCount, count)) return false;
  if (index >= count) return false;
  return ReadPointer(memory, table + kTableArray, array) && ReadPointer(memory, array + 8ull * index, element);
}

std::uint64_t FindActor(GameMemory& memory, std::uint64_t manager, std::uint32_t id) {
  std::uint64_t table = 0, buckets = 0, entries = 0;
  std::uint32_t bucketCount = 0;
  if (!ReadPointer(memory, manager + kManagerTable, table)) return 0;
  if (!memory.ReadValue(table + kTableBucketCount, bucketCount) || bucketCount == 0) return 0;
  if (!ReadPointer(memory, table + kTableBuckets, buckets) || !ReadPointer(memory, table + kTableEntries, entries)) {
    return 0;
  }
  const std::uint64_t bucket = buckets + static_cast<std::uint64_t>(id % bucketCount) * kBucketBytes;
  std::uint32_t pairs = 0;
  if (!memory.ReadValue(bucket, pairs) || pairs == 0) return 0;
  pairs = std::min(pairs, kBucketPairs);
  for (std::uint32_t i = 0; i < pairs; ++i) {
    std::uint32_t pair[2];  // {id, entry index}
    if (!memory.Read(bucket + 8 + 8ull * i, pair, sizeof pair)) return 0;
    if (pair[0] != id) continue;
    std::uint64_t entry = 0, actor = 0;
    std::uint32_t entryId = 0;
    if (!memory.ReadValue(entries + 8ull * pair[1], entry)) return 0;
    if (!IsPlausiblePointer(entry)) continue;
    if (!memory.ReadValue(entry + kEntryId, entryId)) return 0;
    if (entryId != id) continue;
    if (!memory.ReadValue(entry + kEntryActor, actor)) return 0;
    if (actor != 0) return actor;
  }
  return 0;
}

}  // namespace

std::uint32_t ReadVehicleId(const GameReadContext& context) {
  GameMemory& memory = context.memory;
  std::uint64_t components = 0, component = 0, vehicleState = 0;
  if (!ReadActorComponents(context, components)) return kNoVehicleId;
  if (!memory.ReadValue(components + kComponentsVehicle, component)) return kNoVehicleId;
  if (!HasVtable(memory, component, context.layout.VehicleComponentVtable)) return kNoVehicleId;
  if (!ReadPointer(memory, component + kVehicleComponentState, vehicleState)) return kNoVehicleId;
  std::uint32_t id = kNoVehicleId;
  if (!memory.ReadValue(vehicleState + kVehicleStateId, id)) return kNoVehicleId;
  return id;
}

std::string ReadVehicleTypeName(const GameReadContext& context, std::uint32_t id, bool* faulted) {
  // A read that fails is a fault (the game freed something under us), which makes the mount state
  // unknown; a value that only fails its checks leaves the vehicle unnamed, a mount ridden.
  FaultNoting memory(context.memory);
  const auto noteFault = [&] {
    if (faulted != nullptr) *faulted = memory.faulted;
  };
  const GameLayout& layout = context.layout;
  if (layout.VehiclesGlobal == 0 || layout.ActorsGlobal == 0 || layout.CharactersGlobal == 0) return {};
  std::uint64_t holder = 0, manager = 0;
  if (!ReadPointer(memory, layout.ActorsGlobal, holder) || !memory.ReadValue(holder, manager)) {
    noteFault();
    return {};
  }
  const auto unnamed = [&] {
    noteFault();
    return std::string();
  };
  if (!HasVtable(memory, manager, layout.ActorManagerVtable)) return unnamed();
  const std::uint64_t actor = FindActor(memory, manager, id);
  if (!IsPlausiblePointer(actor)) return unnamed();

  std::uint64_t info = 0, character = 0, vehicle = 0, nameObject = 0;
  std::uint16_t characterIndex = 0, vehicleIndex = 0;
  if (!ReadPointer(memory, actor + kActorInfo, info) || !ReadPointer(memory, info + kInfoCharacter, character))
    return unnamed();
  if (!memory.ReadValue(character + kCharacterIndex, characterIndex)) return unnamed();
  if (!ReadTableElement(memory, layout.CharactersGlobal, characterIndex, character)) return unnamed();
  if (!memory.ReadValue(character + kCharacterVehicleIndex, vehicleIndex)) return unnamed();
  if (!ReadTableElement(memory, layout.VehiclesGlobal, vehicleIndex, vehicle)) return unnamed();
  if (!ReadPointer(memory, vehicle, nameObject)) return unnamed();

  // The readable beginning is enough: the name ends at its first unprintable byte. Only a name
  // still printable where the memory stops ran into a fault.
  char bytes[kMaxNameBytes];
  const std::size_t readable = context.memory.ReadSome(nameObject + kNameText, bytes, sizeof bytes);
  std::size_t length = 0;
  while (length < readable && bytes[length] >= 0x20 && bytes[length] <= 0x7E) ++length;
  if (length == readable && readable < kMaxNameBytes) memory.faulted = true;
  noteFault();
  return memory.faulted ? std::string() : std::string(bytes, length);
}

// ---- time of day -----------------------------------------------------------------------------------

std::uint64_t FoldDayMilliseconds(std::uint64_t dayMs) {
  if (dayMs < kNightEndMs) return dayMs / 2;
  if (dayMs < kNightStartMs) return dayMs - kNightEndOnScale;
  return (dayMs + kLateNightShift) / 2;
}

std::uint64_t UnfoldDayMilliseconds(std::uint64_t scaleMs) {
  if (scaleMs < kNightEndOnScale) return 2 * scaleMs;
  if (scaleMs < kNightStartOnScale) return scaleMs + kNightEndOnScale;
  return 2 * scaleMs - kLateNightShift;
}

float ReadTimeOfDay(const GameReadContext& context) {
  GameMemory& memory = context.memory;
  std::uint64_t components = 0, record = 0;
  if (!ReadActorComponents(context, components)) return -1.0f;
  if (!ReadPointer(memory, components + kComponentsTimeOfDay, record)) return -1.0f;
  std::uint32_t hms[4];  // hours, minutes, seconds, milliseconds
  std::uint16_t rate = 0;
  std::uint64_t stamp = 0;
  if (!memory.Read(record + kClockHours, hms, sizeof hms) || !memory.ReadValue(record + kClockRate, rate) ||
      !memory.ReadValue(record + kClockStamp, stamp)) {
    return -1.0f;
  }
  if (hms[0] > 23 || hms[1] > 59 || hms[2] > 59 || hms[3] > 999 || rate < 1 || rate > 1000) return -1.0f;

  std::uint64_t scale = FoldDayMilliseconds(((hms[0] * 60ull + hms[1]) * 60ull + hms[2]) * 1000ull + hms[3]);
  std::uint64_t seconds = 0, milliseconds = 0;
  if (!memory.ReadValue(context.layout.ClockMillisecondsGlobal, milliseconds) ||
      !memory.ReadValue(context.layout.ClockSecondsGlobal, seconds)) {
    return -1.0f;
  }
  // The record's time held at its stamp; since then the day ran on at `rate` scale ms per second.
  const std::uint64_t now = milliseconds / 1000 + seconds;
  if (now > stamp) scale += (now - stamp) * rate;
  scale %= kScaleDayMs;
  // The day's last millisecond is 23.9999994 hours, which a float rounds up to 24.
  const auto hours = static_cast<float>(static_cast<double>(UnfoldDayMilliseconds(scale)) / kHourMs);
  return std::min(hours, std::nextafter(24.0f, 0.0f));
}

}  // namespace pathlight
