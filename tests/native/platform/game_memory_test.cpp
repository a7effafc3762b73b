#include "platform/game_memory.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pathlight
