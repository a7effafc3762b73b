// The cost of one game-state reading, over a game laid out in this process's own memory: through
// plain copies (native and Windows) and, on Windows, through the fault guard the DLL reads with.
// Beside it, as the baseline of the same run, the same number of single guarded-interface reads of
// 8 bytes, so the figure separates the readers' own work from the cost of a read.
//
//   pathlight-bench-readers [--iterations N]     (default 200000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "game/fake_address_space.hpp"
#include "game/game_readers.hpp"
#if defined(_WIN32)
#include "platform/fault_guard_win.hpp"
#endif

using namespace pathlight;
using Clock = std::chrono::steady_clock;

namespace {

// Reads without any guard: the fastest a GameMemory can be.
class PlainMemory final : public GameMemory {
 public:
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return size;
  }
};

class CountingMemory final : public GameMemory {
 public:
  explicit CountingMemory(GameMemory& inner) : inner_(inner) {}
  std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) override {
    ++reads;
    return inner_.ReadSome(address, out, size);
  }
  long reads = 0;

 private:
  GameMemory& inner_;
};

// ---- a game in this process's memory ---------------------------------------------------------------

class Game {
 public:
  Game() {
    // Class tables and globals stand in a block of their own, as in an image.
    image_ = New(0x1000);
    layout.ImageBase = Address(image_);
    layout.ImageSize = 0x1000;
    layout.MinimapVtable = Address(image_) + 0x100;
    layout.WorldMapVtable = Address(image_) + 0x108;
    layout.IconVtable = Address(image_) + 0x110;
    layout.CameraVtable = Address(image_) + 0x118;
    layout.VehicleComponentVtable = Address(image_) + 0x120;
    layout.ActorManagerVtable = Address(image_) + 0x128;
    layout.SessionGlobal = Address(image_) + 0x200;
    layout.ClockSecondsGlobal = Address(image_) + 0x208;
    layout.ClockMillisecondsGlobal = Address(image_) + 0x210;
    const GameOffsets& o = settings.offsets;

    char* minimap = New(0x600);
    char* hide = New(0x100);
    char* holder = New(0x300);
    Put(minimap, 0, layout.MinimapVtable);
    Put(minimap, o.minimapPlayerPosition, Floats{-980.0f, 12.0f, -990.0f});
    Put(minimap, o.minimapRotation, 45.0f);
    Put(minimap, o.minimapZoom, 1.5f);
    Put(minimap, o.minimapHideWidget, Address(hide));
    Put(minimap, o.minimapSize, 220.0f);
    Put(minimap, o.minimapPosObject, Address(holder));
    Put(holder, o.minimapPos, Floats{38.0f, 833.0f, 0.0f});
    pointers.MinimapRoot = Address(minimap);
    for (int k = 0; k < 2; ++k) {
      char* map = New(0xC00);
      Put(map, 0, layout.WorldMapVtable);
      Put(map, o.worldMapCenter, Floats{10.0f, 20.0f, 0.0f});
      Put(map, o.worldMapZoom, 1.0f);
      pointers.WorldMapCandidates[k] = Address(map);
      if (k == 0) pointers.WorldMapObject = Address(map);
    }
    char* icon = New(0x200);
    Put(icon, 0, layout.IconVtable);
    Put<std::uint32_t>(icon, o.iconCategory, o.waypointCategory);
    Put(icon, o.iconKind, static_cast<std::uint16_t>(o.waypointKind));
    Put<std::uint32_t>(icon, o.iconLive, 1);
    Put(icon, o.iconPosition, Floats{-480.0f, 0.0f, -530.0f});
    pointers.WaypointIcon = Address(icon);
    char* manager = New(0x60);
    char* camera = New(0x100);
    Put(manager, 0, layout.CameraVtable);
    Put(manager, o.cameraObject, Address(camera));
    Put(camera, o.cameraRotation, Floats{1, 0, 0});
    Put(camera, o.cameraRotation + 16, Floats{0, 1, 0});
    Put(camera, o.cameraRotation + 32, Floats{0, 0, 1});
    Put(camera, o.cameraProjX, 1.2f);
    Put(camera, o.cameraProjY, 2.1f);
    pointers.CameraManagerObject = Address(manager);
    // Session -> player -> actor -> components -> vehicle (a cached horse) and time of day.
    char* session = New(0x40);
    char* player = New(0x60);
    char* actor = New(0x70);
    char* components = New(0x1A8);
    char* vehicleComponent = New(0x20);
    char* vehicleState = New(0x20);
    char* time = New(0x470);
    Put(image_, 0x200, Address(session));
    Put<std::uint64_t>(image_, 0x208, 5'000'000);
    Put(session, o.sessionPlayer, Address(player));
    Put(player, o.playerActor, Address(actor));
    Put(actor, 0x68, Address(components));
    Put(components, 0x48, Address(vehicleComponent));
    Put(components, 0x1A0, Address(time));
    Put(vehicleComponent, 0, layout.VehicleComponentVtable);
    Put(vehicleComponent, 0x18, Address(vehicleState));
    Put<std::uint32_t>(vehicleState, 0x10, 101);
    state.cachedVehicleId = 101;
    Put<std::uint32_t>(time, 0x454, 9);
    Put<std::uint16_t>(time, 0x466, 1);
  }

  // The same objects as regions of a fake address space, at the same addresses.
  void CopyInto(testing::FakeAddressSpace& fake) const {
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(blocks_[i].get());
      fake.Map(Address(bytes), std::vector<std::uint8_t>(bytes, bytes + sizes_[i]));
    }
  }

  GameLayout layout;
  Settings settings;
  PublishedGamePointers pointers;
  ReaderState state;

 private:
  struct Floats {
    float v[3];
  };
  char* New(std::size_t bytes) {
    blocks_.push_back(std::make_unique<std::uint64_t[]>(bytes / 8));
    sizes_.push_back(bytes);
    return reinterpret_cast<char*>(blocks_.back().get());
  }
  static std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }
  template <typename T> static void Put(char* object, std::uint64_t offset, T value) {
    std::memcpy(object + offset, &value, sizeof value);
  }
  std::vector<std::unique_ptr<std::uint64_t[]>> blocks_;
  std::vector<std::size_t> sizes_;
  char* image_ = nullptr;
};

template <typename F> double MicrosecondsEach(long iterations, F&& run) {
  const auto start = Clock::now();
  for (long i = 0; i < iterations; ++i) run();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(iterations);
}

// One line: the snapshot's cost, and the same number of single 8-byte reads through `memory`.
void Measure(const char* name, GameMemory& memory, Game& game, long iterations) {
  CountingMemory counting(memory);
  GameSnapshot snapshot;
  const GameReadContext counted{counting, game.layout, game.settings, game.pointers, game.state, true};
  ReadGameSnapshot(counted, snapshot);  // the first reading logs its lines; count the next one
  counting.reads = 0;
  ReadGameSnapshot(counted, snapshot);
  const long reads = counting.reads;
  if (!snapshot.playerValid || !snapshot.waypointValid || !snapshot.cameraValid ||
      snapshot.mountState != kMountRiding || snapshot.clockHours < 0) {
    std::printf("readers bench: the laid-out game did not read back whole\n");
    std::exit(1);
  }
  const GameReadContext context{memory, game.layout, game.settings, game.pointers, game.state, true};
  const double snapshotUs = MicrosecondsEach(iterations, [&] { ReadGameSnapshot(context, snapshot); });
  const std::uint64_t word = game.pointers.MinimapRoot.load();
  std::uint64_t sink = 0;
  const double readsUs = MicrosecondsEach(iterations, [&] {
    for (long r = 0; r < reads; ++r) {
      std::uint64_t value = 0;
      if (memory.ReadValue(word + 8 * (r % 16), value)) sink += value;
    }
  });
  std::printf("%-13s ReadGameSnapshot %8.3f us   %ld reads of 8 bytes %8.3f us   ratio %.2f%s\n", name, snapshotUs,
              reads, readsUs, snapshotUs / readsUs, sink == 1 ? " " : "");
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 200000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--iterations") iterations = std::strtol(argv[i + 1], nullptr, 10);
  }
  Game game;
  PlainMemory plain;
  Measure("plain copies", plain, game, iterations);
  // The native tests' fake memory: an ordered map of regions, looked up on every read.
  testing::FakeAddressSpace fake;
  game.CopyInto(fake);
  Measure("fake memory", fake, game, iterations);
#if defined(_WIN32)
  Measure("fault guard", GuardedMemory(), game, iterations / 10);
#endif
  return 0;
}
