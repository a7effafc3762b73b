#include "platform/game_memory.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "game/fake_address_space.hpp"

namespace pathlight {
namespace {

using testing::FakeAddressSpace;

TEST(IsPlausiblePointer, AlignedAndInsideTheUserAddressSpace) {
  EXPECT_FALSE(IsPlausiblePointer(0));
  EXPECT_FALSE(IsPlausiblePointer(0x10000));
  EXPECT_TRUE(IsPlausiblePointer(0x10008));
  EXPECT_FALSE(IsPlausiblePointer(0x10004));
  EXPECT_TRUE(IsPlausiblePointer(0x7FFFFFFFFFF8));
  EXPECT_FALSE(IsPlausiblePointer(0x800000000000));
  EXPECT_FALSE(IsPlausiblePointer(0xFFFFFFFFFFFFFFF8));
}

TEST(HasVtable, ReadsTheFirstWordOnlyOfPlausibleObjects) {
  FakeAddressSpace memory;
  constexpr std::uint64_t object = 0x20000000, table = 0x140123450;
  memory.Map(object, std::vector<std::uint8_t>(64));
  memory.Poke64(object, table);
  EXPECT_TRUE(HasVtable(memory, object, table));
  EXPECT_FALSE(HasVtable(memory, object, table + 8));
  const int reads = memory.reads;
  EXPECT_FALSE(HasVtable(memory, object + 4, table));
  EXPECT_FALSE(HasVtable(memory, 0, 0));
  EXPECT_EQ(memory.reads, reads);
  // Freed between two looks: the same object now fails softly.
  memory.Unmap(object);
  EXPECT_FALSE(HasVtable(memory, object, table));
}

TEST(GameMemory, ReadsStopAtTheFirstUnmappedByte) {
  FakeAddressSpace memory;
  memory.Map(0x30000, std::vector<std::uint8_t>(0x1000, 1));
  memory.Map(0x31000, std::vector<std::uint8_t>(0x1000, 2));
  memory.Map(0x33000, std::vector<std::uint8_t>(0x1000, 3));
  std::vector<std::uint8_t> out(0x3000);
  EXPECT_EQ(memory.ReadSome(0x30F00, out.data(), 0x200), 0x200u);
  EXPECT_EQ(out[0xFF], 1);
  EXPECT_EQ(out[0x100], 2);
  EXPECT_EQ(memory.ReadSome(0x31800, out.data(), 0x2000), 0x800u);
  EXPECT_FALSE(memory.Read(0x31800, out.data(), 0x2000));
  std::uint64_t value = 42;
  EXPECT_FALSE(memory.ReadValue(0x32000, value));
  EXPECT_EQ(value, 42u);
}

TEST(GameMemory, ReadPiecesHandsOverEachPieceAndStopsAtTheFirstUnmappedByte) {
  FakeAddressSpace memory;
  memory.Map(0x30000, std::vector<std::uint8_t>(0x1000, 1));
  memory.Map(0x31000, std::vector<std::uint8_t>(0x800, 2));
  struct Pieces final : GameMemory::PieceVisitor {
    void Piece(std::uint64_t address, const void* bytes, std::size_t size) override {
      seen.push_back({address, size, static_cast<const std::uint8_t*>(bytes)[size - 1]});
    }
    std::vector<std::tuple<std::uint64_t, std::size_t, int>> seen;
  } pieces;
  std::vector<std::uint8_t> scratch(0x600);
  EXPECT_EQ(memory.ReadPieces(0x30400, 0x2000, scratch.data(), scratch.size(), pieces), 0x1400u);
  const std::vector<std::tuple<std::uint64_t, std::size_t, int>> expected = {
      {0x30400, 0x600, 1}, {0x30A00, 0x600, 1}, {0x31000, 0x600, 2}, {0x31600, 0x200, 2}};
  EXPECT_EQ(pieces.seen, expected);
}

}  // namespace
}  // namespace pathlight
