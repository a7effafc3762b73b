// The game-state readers over an address space built from the input: the header of
// fuzz_game.hpp, then u32 vehicle id, u16 read budget, then the address space (fuzz_memory.hpp).
// One snapshot reads the space as it is; a second reads it through a memory whose reads fail
// after the budget's first ones, as when the game frees its objects in the middle of a reading.
//
// Checked on both: each value the snapshot marks valid is in range (player and waypoint finite
// and inside the world, the zoom and the widget within their limits, the camera usable); the
// clock is unknown or an hour of the day; the mount state one of four; a vehicle's type name at
// most 47 printable bytes; and a reading makes a bounded number of reads whatever the counts,
// capacities and links in memory say.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz_game.hpp"
#include "fuzz_memory.hpp"
#include "fuzz_target.hpp"
#include "game/game_readers.hpp"

namespace pathlight::fuzzing {
namespace {

// Every read after the first `budget` fails.
class FailingAfter final : public GameMemory {
 public:
  FailingAfter(GameMemory& inner, int budget) : inner_(inner), budget_(budget) {}
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    if (budget_ <= 0) return 0;
    --budget_;
    return inner_.ReadSome(address, out, size);
  }

 private:
  GameMemory& inner_;
  int budget_;
};

constexpr int kMostReadsPerSnapshot = 300;

bool Ground(float x, float z) {
  return std::isfinite(x) && std::isfinite(z) && std::fabs(x) <= kMaxObjectCoordinate &&
         std::fabs(z) <= kMaxObjectCoordinate;
}

bool Hours(float h) { return h == -1.0f || (h >= 0.0f && h < 24.0f); }

void CheckSnapshot(const GameSnapshot& s) {
  if (s.playerValid && (!Ground(s.playerX, s.playerZ) || (s.playerX == 0.0f && s.playerZ == 0.0f))) Broken("player");
  if (s.waypointValid && !Ground(s.waypointX, s.waypointZ)) Broken("waypoint");
  if (!(s.minimapZoom == 1.0f || (s.minimapZoom > 0.2f && s.minimapZoom < 5.0f))) Broken("minimap zoom");
  if (s.widgetSize != 0.0f && !(s.widgetSize >= 50.0f && s.widgetSize <= 8000.0f)) Broken("widget size");
  if (s.widgetSize != 0.0f && !(std::fabs(s.widgetX) <= 20000.0f && std::fabs(s.widgetY) <= 20000.0f)) {
    Broken("widget position");
  }
  if (s.minimapValid && !std::isfinite(s.minimapRotation)) Broken("minimap rotation");
  if (s.worldMapOpen &&
      !(std::isfinite(s.worldMapCenterX) && std::isfinite(s.worldMapCenterY) && s.worldMapZoom > 0.0f)) {
    Broken("world map");
  }
  if (s.mountState < kMountUnknown || s.mountState > kMountWagon) Broken("mount state");
  if (!Hours(s.clockHours)) Broken("clock hours");
  if (s.cameraValid) {
    for (const float p : s.cameraPosition) {
      if (!std::isfinite(p) || std::fabs(p) >= kMaxObjectCoordinate) Broken("camera position");
    }
    if (!(s.cameraProjX > 0.1f && s.cameraProjX < 20.0f && s.cameraProjY > 0.1f && s.cameraProjY < 20.0f)) {
      Broken("camera projection");
    }
  }
}

void Read(GameMemory& memory, FuzzMemory& counted, const GameHeader& header, std::uint32_t vehicle) {
  PublishedGamePointers pointers;
  Publish(header, pointers);
  ReaderState state;
  const GameReadContext context{memory, header.layout, header.settings, pointers, state, header.worldRouteShown};
  const int before = counted.reads;
  GameSnapshot snapshot;
  ReadGameSnapshot(context, snapshot);
  if (counted.reads - before > kMostReadsPerSnapshot) Broken("too many reads for one snapshot");
  CheckSnapshot(snapshot);
  // A second reading with the state the first one left (the normal widget, the mount cache).
  ReadGameSnapshot(context, snapshot);
  CheckSnapshot(snapshot);

  bool faulted = false;
  const std::string name = ReadVehicleTypeName(context, vehicle, &faulted);
  if (name.size() > 47) Broken("vehicle name too long");
  for (const char c : name) {
    if (c < 0x20 || c > 0x7E) Broken("vehicle name unprintable");
  }
  if (faulted && !name.empty()) Broken("a name despite a fault");
  if (!Hours(ReadTimeOfDay(context))) Broken("time of day");
  if (counted.reads - before > 3 * kMostReadsPerSnapshot) Broken("too many reads");
}

}  // namespace

void FuzzInput(InputReader& input) {
  const GameHeader header = TakeGameHeader(input);
  const auto vehicle = input.Take<std::uint32_t>();
  const auto budget = input.Take<std::uint16_t>();
  FuzzMemory memory(input.Rest());
  Read(memory, memory, header, vehicle);
  FailingAfter failing(memory, budget % 256);
  Read(failing, memory, header, vehicle);
}

}  // namespace pathlight::fuzzing
