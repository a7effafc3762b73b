// The process's own game-state reading (under Wine): the published pointers, the process-wide
// layout and the fault guard, over objects whose memory is decommitted between two readings.
#include "game/game_readers.hpp"
#include "game/game_state.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace pathlight {
namespace {

constexpr std::size_t kBlock = 64 << 10;
constexpr std::uint64_t kMinimapTable = 0x140001000;

std::uint64_t Address(const void* p) { return reinterpret_cast<std::uint64_t>(p); }

template <typename T> void Put(char* object, std::uint64_t offset, T value) {
  std::memcpy(object + offset, &value, sizeof value);
}

// Keeps the process-wide layout and pointers as the test found them.
class ProcessReadingTest : public ::testing::Test {
 protected:
  ProcessReadingTest() : savedLayout_(Game().layout), savedRoot_(Game().pointers.MinimapRoot.load()) {}
  ~ProcessReadingTest() override {
    Game().layout = savedLayout_;
    Game().pointers.MinimapRoot = savedRoot_;
  }

 private:
  GameLayout savedLayout_;
  std::uint64_t savedRoot_;
};

TEST_F(ProcessReadingTest, WithoutALayoutNothingIsRead) {
  Game().layout = GameLayout{};
  GameSnapshot snapshot;
  snapshot.playerValid = 1;
  snapshot.clockHours = 5.0f;
  ReadGameSnapshot(snapshot);
  EXPECT_EQ(snapshot.playerValid, 0);
  EXPECT_EQ(snapshot.clockHours, -1.0f);
  EXPECT_EQ(snapshot.mountState, kMountUnknown);
  EXPECT_EQ(snapshot.minimapZoom, 1.0f);
}

TEST_F(ProcessReadingTest, DecommittedObjectsReadAsAbsent) {
  char* root = static_cast<char*>(VirtualAlloc(nullptr, kBlock, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  char* holder = static_cast<char*>(VirtualAlloc(nullptr, kBlock, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(root, nullptr);
  ASSERT_NE(holder, nullptr);
  const GameOffsets o = CurrentSettings()->offsets;
  Put(root, 0, kMinimapTable);
  Put(root, o.minimapPlayerPosition, 250.0f);
  Put(root, o.minimapPlayerPosition + 8, -75.0f);
  Put(root, o.minimapRotation, 30.0f);
  Put(root, o.minimapZoom, 2.0f);
  Put(root, o.minimapSize, 210.0f);
  Put(root, o.minimapPosObject, Address(holder));
  Put(holder, o.minimapPos, 40.0f);
  Put(holder, o.minimapPos + 4, 840.0f);
  Game().layout = GameLayout{};
  Game().layout.ImageBase = Address(GetModuleHandleW(nullptr));
  Game().layout.MinimapVtable = kMinimapTable;
  Game().pointers.MinimapRoot = Address(root);

  GameSnapshot snapshot;
  ReadGameSnapshot(snapshot);
  EXPECT_EQ(snapshot.playerValid, 1);
  EXPECT_EQ(snapshot.playerX, 250.0f);
  EXPECT_EQ(snapshot.minimapValid, 1);
  EXPECT_EQ(snapshot.widgetSize, 210.0f);

  // The widget's position object goes: what was read before it stays, the minimap is not valid.
  ASSERT_TRUE(VirtualFree(holder, kBlock, MEM_DECOMMIT));
  ReadGameSnapshot(snapshot);
  EXPECT_EQ(snapshot.playerValid, 1);
  EXPECT_EQ(snapshot.minimapRotation, 30.0f);
  EXPECT_EQ(snapshot.minimapZoom, 2.0f);
  EXPECT_EQ(snapshot.widgetSize, 0.0f);
  EXPECT_EQ(snapshot.minimapValid, 0);

  // The root itself goes: nothing of it.
  ASSERT_TRUE(VirtualFree(root, kBlock, MEM_DECOMMIT));
  ReadGameSnapshot(snapshot);
  EXPECT_EQ(snapshot.playerValid, 0);
  EXPECT_EQ(snapshot.minimapRotation, 0.0f);
  EXPECT_EQ(snapshot.minimapValid, 0);
  VirtualFree(root, 0, MEM_RELEASE);
  VirtualFree(holder, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace pathlight
