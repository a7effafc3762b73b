// Writes the seeds of the settings, keys, prologue, upscaler, readers and finder targets, each
// into a folder named after its target, from the cases the unit tests and the doubles use: the
// INI fixtures, the hook tests' prologues, Streamline's and FidelityFX's structures as the
// doubles hand them over, and the game's objects laid out as the simulated game lays them out.
//   fuzz-seed-writer FOLDER
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_game.hpp"
#include "fuzz_memory.hpp"
#include "fuzz_text.hpp"
#include "hooks/upscaler.hpp"
#include "ini_fixtures.hpp"

namespace pathlight::fuzzing {
namespace {

namespace fs = std::filesystem;

class Seeds {
 public:
  explicit Seeds(fs::path folder) : folder_(std::move(folder)) {}
  void Write(const std::string& target, const std::vector<std::uint8_t>& bytes) {
    const fs::path dir = folder_ / target;
    fs::create_directories(dir);
    std::ofstream(dir / ("seed-" + std::to_string(++count_)), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void Write(const std::string& target, std::uint8_t mode, const std::string& text) {
    std::vector<std::uint8_t> bytes{mode};
    bytes.insert(bytes.end(), text.begin(), text.end());
    Write(target, bytes);
  }
  [[nodiscard]] int Count() const { return count_; }

 private:
  fs::path folder_;
  int count_ = 0;
};

void SettingsAndKeys(Seeds& seeds) {
  for (const auto& fixture : testing::IniFixtures()) {
    const std::string text = FuzzBytes(fixture.text);
    seeds.Write("settings", 1, text);     // a first load
    seeds.Write("settings", 3, text);     // a reload
    seeds.Write("settings", 0x1F, text);  // the whole load, with its log lines
  }
  for (const wchar_t* value : {L"0x5B8",
                               L"1464",
                               L"010",
                               L"08",
                               L"-3",
                               L"-0x10",
                               L"2e3",
                               L"1.5",
                               L"  42abc",
                               L"0xg",
                               L"4294967296",
                               L"#00FF00",
                               L"00FF0080",
                               L"0F0",
                               L"##00FF00",
                               L"true",
                               L"On",
                               L"off",
                               L"scRGB",
                               L"HDR10",
                               L"Composition",
                               L"none",
                               L"\x3000"
                               L"7",
                               L"+0x7FFFFFFF"}) {
    seeds.Write("settings", 0, FuzzBytes(value));
  }
  // Press and release the key of the binding with its modifiers, through both sources.
  const std::string presses = {'\0', 4, 0x11, 4, 0x10, 4, 0x74, 0, 0x74, 0, 0x10, 0, 0x11, 5, 0x74, 1, 0x74, 3, 0};
  for (const wchar_t* binding : {L"Ctrl+Shift+F5", L"ctrl + f5", L"]", L"[", L"\\", L"Alt+PageDown", L"F24", L"F25",
                                 L"Numpad7", L"0x41", L"0x1FF", L"Shift", L"Control+Alt+Space", L"a+b", L"+"}) {
    seeds.Write("keys", static_cast<std::uint8_t>(FuzzBytes(binding)[0]), FuzzBytes(binding).substr(1) + presses);
  }
}

std::vector<std::uint8_t> Prologue(std::uint8_t mode, std::uint64_t address, std::uint64_t slot,
                                   std::initializer_list<std::uint8_t> code) {
  SpaceWriter w;
  w.Header(mode);
  w.Header(address);
  w.Header(slot);
  w.Header(std::uint64_t{0x7FF600001234});
  std::vector<std::uint8_t> bytes = w.Bytes();
  bytes.insert(bytes.end(), code);
  return bytes;
}

void Prologues(Seeds& seeds) {
  constexpr std::uint64_t kTarget = 0x1001000;  // 0x140001000 in the image
  constexpr std::uint64_t kNear = 0x140001000 - 0x10000, kFar = 0x140001000 - 0x70000000;
  const std::initializer_list<std::uint8_t> codes[] = {
      {0x55, 0x48, 0x89, 0xE5, 0x48, 0x83, 0xEC, 0x20, 0xC3},
      {0xB8, 1, 0, 0, 0, 0xC3},
      {0x31, 0xC0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC},
      {0xEB, 0x10, 0x90, 0x90, 0x90, 0x90},
      {0x90, 0x0F, 0x0B, 0x90, 0x90, 0x90},
      {0xE9, 0x00, 0x10, 0, 0},
      {0xFF, 0x25, 0x10, 0, 0, 0},
      {0xE2, 0xFE, 0x90, 0x90, 0x90, 0x90},
      {0xC7, 0xF8, 0x10, 0, 0, 0},
      {0x74, 0x01, 0xB8, 1, 0, 0, 0, 0xC3},
      {0xFF, 0xC9, 0x7F, 0xFC, 0x8D, 0x41, 0x64, 0xC3},
      {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF9, 0xC3},
      {0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF7, 0xC3},
      {0xB8, 1, 0, 0, 0, 0xC3, 0xEB, 0xF9},
      {0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x28, 0xC3},
      {0xE8, 0x10, 0, 0, 0, 0xC3},
      {0x8B, 0x05, 0x10, 0, 0, 0, 0x01, 0xC8, 0xC3},
      {0x48, 0x8D, 0x05, 0xE0, 0xFF, 0xFF, 0xFF, 0xC3},
      {0x83, 0x3D, 0x40, 0, 0, 0, 0x05, 0xC3},
      {0xE8, 0xF0, 0xFF, 0xFF, 0x7F, 0xC3},
      {0xE9, 0xF0, 0xFF, 0xFF, 0x7F},
      {0x85, 0xC9, 0x78, 0x04, 0x8D, 0x41, 0x01, 0xC3, 0x31, 0xC0, 0xC3},
      {0x85, 0xC9, 0x0F, 0x88, 0xF0, 0xFF, 0xFF, 0x7F},
      // A game function's usual entry: sub rsp; mov [rsp+8], rbx; lea rcx, [rip+x]; call.
      {0x48, 0x89, 0x5C, 0x24, 0x08, 0x48, 0x83, 0xEC, 0x20, 0x48, 0x8D, 0x0D, 0x10, 0x20, 0, 0, 0xE8, 0, 1, 0, 0},
  };
  for (const auto& code : codes) {
    seeds.Write("prologue", Prologue(0, kTarget, kNear, code));
    seeds.Write("prologue", Prologue(0, kTarget, kFar, code));
    seeds.Write("prologue", Prologue(2, kTarget, 0x5555, code));
  }
}

// Streamline's and FidelityFX's structures as the doubles pass them.
void Upscaler(Seeds& seeds) {
  constexpr std::uint64_t kTags = kSpaceBase, kResource = kSpaceBase + 0x1000, kExtent = kSpaceBase + 0x6000;
  constexpr std::uint64_t kConstants = kSpaceBase + 0x2000, kInputs = kSpaceBase + 0x3000;
  constexpr std::uint64_t kChain = kSpaceBase + 0x4000, kOut = kSpaceBase + 0x5000;
  for (const std::uint32_t stride : {64u, 56u, 128u}) {
    for (const std::uint64_t type :
         {ffx_layout::kWrapSwapchain, ffx_layout::kNewSwapchain, ffx_layout::kNewSwapchainForHwnd}) {
      SpaceWriter w;
      w.Header(kTags);
      w.Header(std::uint32_t{4});
      w.Header(stride);
      w.Header(kConstants);
      w.Header(kInputs);
      w.Header(std::uint32_t{3});
      w.Header(std::uint32_t{1});
      w.Header(kChain);
      w.Header(std::uint32_t{0});
      w.Map(kTags, 4 * stride + 16);
      for (std::uint32_t i = 0; i < 4; ++i) {
        w.Put(kTags + i * stride + sl_layout::kStructType, std::uint32_t{0x4C6A5D2B});
        w.Put(kTags + i * stride + sl_layout::kTagType, i == 2 ? 0u : 1u);
      }
      w.Put(kTags + 2 * stride + sl_layout::kTagResource, kResource);
      w.Put(kTags + 2 * stride + sl_layout::kTagExtent, kExtent);
      w.Map(kResource, 72);
      w.Put(kResource + sl_layout::kResourceNative, std::uint64_t{0x3000});
      w.Put(kResource + sl_layout::kResourceState, std::uint32_t{0x20});
      w.Map(kExtent, 16);
      w.Put(kExtent, std::uint32_t{10});  // top, left, width, height
      w.Put(kExtent + 4, std::uint32_t{20});
      w.Put(kExtent + 8, std::uint32_t{1600});
      w.Put(kExtent + 12, std::uint32_t{900});
      // A camera looking along +z from (1, 2, 3), up +y, a 90-degree projection.
      w.Map(kConstants, 4 * sl_layout::kConstantsFloatsRead);
      const auto f = [&](int index, float value) { w.Put(kConstants + 4 * index, value); };
      f(sl_layout::kViewToClip, 1.0f);
      f(sl_layout::kViewToClip + 5, -1.7f);
      f(sl_layout::kCameraPos, 1.0f), f(sl_layout::kCameraPos + 1, 2.0f), f(sl_layout::kCameraPos + 2, 3.0f);
      f(sl_layout::kCameraUp + 1, 1.0f);
      f(sl_layout::kCameraRight, 1.0f);
      f(sl_layout::kCameraFwd + 2, 1.0f);
      w.Map(kInputs, 24 + 32);
      w.Put(kInputs, kInputs + 24);
      w.Put(kInputs + 24 + sl_layout::kStructVersion, std::uint64_t{2});
      // A link of another type, then the swap-chain descriptor.
      w.Map(kChain, 0x100);
      w.Put(kChain, std::uint64_t{0x10000});
      w.Put(kChain + ffx_layout::kNext, kChain + 0x80);
      w.Put(kChain + 0x80, type);
      w.Put(kChain + 0x80 + ffx_layout::kSwapchainOut, kOut);
      for (const std::uint64_t at : {24u, 40u, 56u}) w.Put(kChain + 0x80 + at, std::uint64_t{0x7000});
      w.Map(kOut, 8);
      w.Put(kOut, std::uint64_t{0x9000});
      seeds.Write("upscaler", w.Bytes());
    }
  }
}

// The game's image and heap as the simulated game lays them out (the readers' unit tests use the
// same layout): class tables and globals in the image, each object in a region of its own.
struct GameWorld {
  static constexpr std::uint64_t kImage = 0x140000000, kImageSize = 0x1000000;
  static constexpr std::uint64_t kMinimapTable = kImage + 0x100000, kWorldMapTable = kImage + 0x100100;
  static constexpr std::uint64_t kIconTable = kImage + 0x100200, kCameraTable = kImage + 0x100300;
  static constexpr std::uint64_t kVehicleComponentTable = kImage + 0x100400, kActorManagerTable = kImage + 0x100500;
  static constexpr std::uint64_t kGlobals = kSpaceBase;
  static constexpr std::uint64_t Object(int n) { return kSpaceBase + 0x1000ull * n; }
  static constexpr std::uint32_t kVehicleId = 1234;

  GameOffsets o;
  SpaceWriter w;
  std::uint64_t pointers[8] = {};

  void Header(std::uint8_t flags) {
    const std::uint64_t layout[] = {kImage,        kImageSize,   kMinimapTable,          kWorldMapTable,
                                    kIconTable,    kCameraTable, kVehicleComponentTable, kActorManagerTable,
                                    kGlobals,      kGlobals + 8, kGlobals + 16,          kGlobals + 24,
                                    kGlobals + 32, kGlobals + 40};
    for (const std::uint64_t value : layout) w.Header(value);
    for (const std::uint64_t pointer : pointers) w.Header(pointer);
    std::uint32_t offsets[kOffsetFields];
    std::memcpy(offsets, &o, sizeof offsets);
    for (const std::uint32_t offset : offsets) w.Header(offset);
    w.Header(flags);
  }

  // Every object of the readers, with the sizes their fields need.
  void Plant(const char* vehicleName, std::uint32_t hours, std::uint32_t minutes, std::uint32_t seconds,
             std::uint32_t milliseconds) {
    w.Map(kGlobals, 48);
    const std::size_t sizes[32] = {0,    0x5C0, 0xC0, 0x300, 0xB40, 0xB40, 0x1C0, 0x60, 0xE0,  0x38, 0x58,
                                   0x70, 0x1A8, 0x20, 0x18,  0x470, 0x8,   0x10,  0xA8, 0x800, 0x20, 0x10,
                                   0x70, 0x28,  0x38, 0x60,  0x10,  0xA8,  0x60,  0x18, 0x8,   0x48};
    for (int n = 1; n < 32; ++n) w.Map(Object(n), sizes[n]);
    const std::uint64_t minimap = Object(1), hide = Object(2), holder = Object(3), map = Object(4), open = Object(5);
    const std::uint64_t icon = Object(6), manager = Object(7), camera = Object(8);
    w.Put(minimap, kMinimapTable);
    w.Put(minimap + o.minimapPlayerPosition, 1200.5f), w.Put(minimap + o.minimapPlayerPosition + 4, 35.0f);
    w.Put(minimap + o.minimapPlayerPosition + 8, -800.25f);
    w.Put(minimap + o.minimapRotation, 90.0f), w.Put(minimap + o.minimapZoom, 2.5f);
    w.Put(minimap + o.minimapHideWidget, hide), w.Put(minimap + o.minimapSize, 200.0f);
    w.Put(minimap + o.minimapPosObject, holder);
    w.Put(holder + o.minimapPos, 100.0f), w.Put(holder + o.minimapPos + 4, 900.0f);
    for (const std::uint64_t m : {map, open}) {
      w.Put(m, kWorldMapTable);
      w.Put(m + o.worldMapCenter, -300.0f), w.Put(m + o.worldMapCenter + 4, 450.0f), w.Put(m + o.worldMapZoom, 3.0f);
    }
    w.Put<std::uint8_t>(open + o.worldMapOpen, 1);
    w.Put(icon, kIconTable);
    w.Put<std::uint32_t>(icon + o.iconCategory, o.waypointCategory);
    w.Put<std::uint16_t>(icon + o.iconKind, static_cast<std::uint16_t>(o.waypointKind));
    w.Put<std::uint32_t>(icon + o.iconLive, 1);
    w.Put(icon + o.iconPosition, 1500.0f), w.Put(icon + o.iconPosition + 8, -650.0f);
    w.Put(manager, kCameraTable), w.Put(manager + o.cameraObject, camera);
    const float rows[3][4] = {{0, 0, -1, 7}, {0, 1, 0, 7}, {1, 0, 0, 7}};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 4; ++c) w.Put(camera + o.cameraRotation + 16 * r + 4 * c, rows[r][c]);
    }
    w.Put(camera + o.cameraPosition, 1.0f), w.Put(camera + o.cameraPosition + 4, 2.0f);
    w.Put(camera + o.cameraPosition + 8, 3.0f);
    w.Put(camera + o.cameraProjX, 1.2f), w.Put(camera + o.cameraProjY, 2.1f);
    pointers[0] = minimap, pointers[1] = map, pointers[2] = map, pointers[3] = open, pointers[6] = icon;
    pointers[7] = manager;

    const std::uint64_t session = Object(9), player = Object(10), actor = Object(11), components = Object(12);
    const std::uint64_t vehicleComponent = Object(13), vehicleState = Object(14), time = Object(15);
    w.Put(kGlobals, session), w.Put(session + o.sessionPlayer, player), w.Put(player + o.playerActor, actor);
    w.Put(session + o.sessionCamera, manager);
    w.Put(actor + 0x68, components), w.Put(components + 0x48, vehicleComponent), w.Put(components + 0x1A0, time);
    w.Put(vehicleComponent, kVehicleComponentTable), w.Put(vehicleComponent + 0x18, vehicleState);
    w.Put(vehicleState + 0x10, kVehicleId);

    const std::uint64_t actorHolder = Object(16), actorManager = Object(17), hash = Object(18), buckets = Object(19);
    const std::uint64_t entries = Object(20), entry = Object(21), ridden = Object(22), info = Object(23);
    const std::uint64_t characterRef = Object(24), characters = Object(25), characterArray = Object(26);
    const std::uint64_t character = Object(27), vehicles = Object(28), vehicleArray = Object(29);
    const std::uint64_t vehicle = Object(30), name = Object(31);
    w.Put(kGlobals + 8, actorHolder), w.Put(actorHolder, actorManager), w.Put(actorManager, kActorManagerTable);
    w.Put(actorManager + 8, hash), w.Put<std::uint32_t>(hash + 0x88, 7);
    w.Put(hash + 0x98, buckets), w.Put(hash + 0xA0, entries);
    const std::uint64_t bucket = buckets + (kVehicleId % 7) * 256;
    w.Put<std::uint32_t>(bucket, 2), w.Put<std::uint32_t>(bucket + 8, kVehicleId + 7);
    w.Put<std::uint32_t>(bucket + 16, kVehicleId), w.Put<std::uint32_t>(bucket + 20, 3);
    w.Put(entries + 3 * 8, entry), w.Put<std::uint32_t>(entry + 4, kVehicleId), w.Put(entry + 8, ridden);
    w.Put(ridden + 0x68, info), w.Put(info + 0x20, characterRef), w.Put<std::uint16_t>(characterRef + 0x30, 1);
    w.Put(kGlobals + 16, characters), w.Put<std::uint32_t>(characters + 8, 2), w.Put(characters + 0x58, characterArray);
    w.Put(characterArray + 8, character), w.Put<std::uint16_t>(character + 0xA0, 2);
    w.Put(kGlobals + 24, vehicles), w.Put<std::uint32_t>(vehicles + 8, 3), w.Put(vehicles + 0x58, vehicleArray);
    w.Put(vehicleArray + 16, vehicle), w.Put(vehicle, name);
    w.PutBytes(name + 24, {reinterpret_cast<const std::uint8_t*>(vehicleName), std::strlen(vehicleName) + 1});

    w.Put(time + 0x454, hours), w.Put(time + 0x458, minutes), w.Put(time + 0x45C, seconds);
    w.Put(time + 0x460, milliseconds), w.Put<std::uint16_t>(time + 0x466, 1), w.Put<std::uint64_t>(time + 0x468, 1000);
    w.Put<std::uint64_t>(kGlobals + 32, 1000);
  }
};

void Readers(Seeds& seeds) {
  struct Case {
    const char* vehicle;
    std::uint32_t h, m, s, ms;
    std::uint8_t flags;
  };
  // The day's last millisecond, the night's edges, noon; riding, on a wagon; no clock.
  const Case cases[] = {{"Wheels of the West", 12, 0, 0, 0, 0x07},
                        {"Horse", 23, 59, 59, 999, 0x17},
                        {"Wagon", 21, 0, 0, 0, 0x13},
                        {"Wagon", 3, 0, 0, 0, 0x05},
                        {"Mule", 0, 0, 0, 0, 0x0F}};
  for (const Case& c : cases) {
    GameWorld world;
    world.Plant(c.vehicle, c.h, c.m, c.s, c.ms);
    world.Header(c.flags);
    world.w.Header(GameWorld::kVehicleId);
    world.w.Header(std::uint16_t{40});
    seeds.Write("readers", world.w.Bytes());
  }
}

// The finder's view: the same objects found by the scan, and the minimap's direct path to a table
// of {category, icon array, count, capacity} entries.
void Finder(Seeds& seeds) {
  for (const bool direct : {false, true}) {
    for (const bool published : {false, true}) {
      GameWorld world;
      world.Plant("Horse", 12, 0, 0, 0);
      const std::uint64_t table = GameWorld::Object(33), array = GameWorld::Object(34);
      if (direct) {
        world.w.Map(table, 0x60);
        world.w.Map(array, 0x10);
        world.w.Put(GameWorld::Object(1) + kDirectPathOffsets[0], table);
        world.w.Put<std::uint64_t>(table + 0x18, world.o.waypointCategory);
        world.w.Put(table + 0x20, array);
        world.w.Put<std::uint32_t>(table + 0x28, 2);
        world.w.Put<std::uint32_t>(table + 0x2C, 4);
        world.w.Put(array + 8, GameWorld::Object(6));
      }
      if (!published) {
        for (std::uint64_t& pointer : world.pointers) pointer = 0;
      }
      world.Header(0x07);
      world.w.Header(std::uint32_t{5000});
      world.w.Header(std::uint8_t{3});
      for (const std::uint16_t step : {700, 200, 1000, 64}) world.w.Header(step);
      world.w.Header(static_cast<std::uint8_t>(direct ? 4 : 1));
      seeds.Write("finder", world.w.Bytes());
    }
  }
}

}  // namespace
}  // namespace pathlight::fuzzing

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-seed-writer FOLDER\n");
    return 2;
  }
  pathlight::fuzzing::Seeds seeds(argv[1]);
  pathlight::fuzzing::SettingsAndKeys(seeds);
  pathlight::fuzzing::Prologues(seeds);
  pathlight::fuzzing::Upscaler(seeds);
  pathlight::fuzzing::Readers(seeds);
  pathlight::fuzzing::Finder(seeds);
  std::printf("fuzz-seed-writer: %d seeds in %s\n", seeds.Count(), argv[1]);
  return 0;
}
