#include "hookengine/prologue.hpp"

#include <Zydis/Zydis.h>
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace pathlight::hookengine {
namespace {

constexpr std::uint64_t kTarget = 0x140001000;
constexpr std::uint64_t kNearSlot = kTarget - 0x10000;

std::vector<std::byte> Code(std::initializer_list<int> bytes) {
  std::vector<std::byte> code;
  for (int b : bytes) code.push_back(static_cast<std::byte>(b));
  return code;
}

struct DecodeCase {
  const char* name;
  std::vector<std::byte> code;
  RelocationStatus status;
  int copied;  // when Ok
};

TEST(HookPrologue, DecidesWhatToCopyOrRefuses) {
  const DecodeCase cases[] = {
      {"frame set-up", Code({0x55, 0x48, 0x89, 0xE5, 0x48, 0x83, 0xEC, 0x20, 0xC3}), RelocationStatus::Ok, 8},
      {"mov then ret: ends at 5", Code({0xB8, 1, 0, 0, 0, 0xC3}), RelocationStatus::Ok, 5},
      {"ret before 5 bytes", Code({0x31, 0xC0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC}), RelocationStatus::EndsTooEarly, 0},
      {"int3 at the entry", Code({0xCC, 0x90, 0x90, 0x90, 0x90, 0x90}), RelocationStatus::EndsTooEarly, 0},
      {"short jmp at the entry", Code({0xEB, 0x10, 0x90, 0x90, 0x90, 0x90}), RelocationStatus::EndsTooEarly, 0},
      {"ud2 before 5 bytes", Code({0x90, 0x0F, 0x0B, 0x90, 0x90, 0x90}), RelocationStatus::EndsTooEarly, 0},
      {"jmp rel32 at the entry", Code({0xE9, 0x00, 0x10, 0, 0}), RelocationStatus::Ok, 5},
      {"jmp [rip] import thunk", Code({0xFF, 0x25, 0x10, 0, 0, 0}), RelocationStatus::Ok, 6},
      {"loop", Code({0xE2, 0xFE, 0x90, 0x90, 0x90, 0x90}), RelocationStatus::UnsupportedBranch, 0},
      {"jrcxz", Code({0xE3, 0x10, 0x90, 0x90, 0x90, 0x90}), RelocationStatus::UnsupportedBranch, 0},
      {"xbegin", Code({0xC7, 0xF8, 0x10, 0, 0, 0}), RelocationStatus::UnsupportedBranch, 0},
      {"sub [eip+disp32], al", Code({0x67, 0x28, 0x05, 0, 4, 0, 0x67}), RelocationStatus::UnsupportedBranch, 0},
      // je lands on byte 3, inside the mov that starts at byte 2.
      {"branch into a copied instruction", Code({0x74, 0x01, 0xB8, 1, 0, 0, 0, 0xC3}), RelocationStatus::JumpIntoPatch,
       0},
      // dec ecx; jg entry: the loop runs in the trampoline.
      {"loop back to the entry inside the copy", Code({0xFF, 0xC9, 0x7F, 0xFC, 0x8D, 0x41, 0x64, 0xC3}),
       RelocationStatus::Ok, 7},
      // xor; L: inc eax (byte 2); cmp eax, 10; jl L; ret: the jl after the copy lands in the patch.
      {"jump back into bytes 1-4", Code({0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF9, 0xC3}),
       RelocationStatus::JumpIntoPatch, 0},
      // The same loop back to the entry itself is fine: the entry holds a whole instruction.
      {"jump back to the entry", Code({0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xF7, 0xC3}),
       RelocationStatus::Ok, 7},
      // ... and to the copied bytes past the patch, which stay as they were.
      {"jump back past the patch", Code({0x31, 0xC0, 0xFF, 0xC0, 0x83, 0xF8, 0x0A, 0x7C, 0xFD, 0xC3}),
       RelocationStatus::Ok, 7},
      // After the ret the next function starts; its jumps are not this one's.
      {"search stops at ret", Code({0xB8, 1, 0, 0, 0, 0xC3, 0xEB, 0xF9}), RelocationStatus::Ok, 5},
      {"call rax before byte 5", Code({0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x28, 0xC3}), RelocationStatus::ReturnIntoPatch,
       0},
      {"call rel32 ending at byte 5", Code({0xE8, 0x10, 0, 0, 0, 0xC3}), RelocationStatus::Ok, 5},
      {"bytes end inside an instruction", Code({0xB8, 1, 0}), RelocationStatus::Undecodable, 0},
      {"nothing readable", Code({}), RelocationStatus::Undecodable, 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Prologue prologue;
    EXPECT_EQ(DecodePrologue(test.code, kTarget, prologue), test.status) << RelocationStatusName(test.status);
    if (test.status == RelocationStatus::Ok) {
      EXPECT_EQ(prologue.copiedSize, test.copied);
    }
  }
}

// The trampoline's instructions as the processor would follow them: each with the address control
// goes to (or the RIP-relative operand's address), the absolute forms' qwords read from the slot.
struct Followed {
  std::string form;  // "plain", "rip", "jmp", "call", "jcc" (+ " abs" for absolute forms)
  std::uint64_t destination = 0;
};

std::vector<Followed> Follow(const Slot& slot) {
  ZydisDecoder decoder;
  ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
  std::vector<Followed> out;
  const auto qword = [&](std::size_t at) {
    std::uint64_t value;
    std::memcpy(&value, slot.bytes.data() + at, 8);
    return value;
  };
  for (std::size_t at = kTrampolineOffset; at < kSlotSize && slot.bytes[at] != 0xCC;) {
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    if (ZYAN_FAILED(ZydisDecoderDecodeFull(&decoder, slot.bytes.data() + at, kSlotSize - at, &instruction, operands))) {
      ADD_FAILURE() << "undecodable at " << at;
      break;
    }
    const std::uint64_t next = slot.address + at + instruction.length;
    const std::uint8_t* code = slot.bytes.data() + at;
    if (code[0] == 0xFF && code[1] == 0x25 && instruction.raw.disp.value == 0) {
      out.push_back({"jmp abs", qword(at + 6)});
      at += 14;
    } else if (code[0] == 0xFF && code[1] == 0x15 && instruction.raw.disp.value == 2) {
      out.push_back({"call abs", qword(at + 8)});
      EXPECT_EQ(code[6], 0xEB);
      at += 16;
    } else if (code[0] >= 0x70 && code[0] <= 0x7F && code[1] == 14) {
      out.push_back({"jcc abs " + std::to_string((code[0] & 0x0F) ^ 1), qword(at + 8)});
      at += 16;
    } else if (instruction.raw.imm[0].is_relative) {
      const std::string form = instruction.mnemonic == ZYDIS_MNEMONIC_JMP    ? "jmp"
                               : instruction.mnemonic == ZYDIS_MNEMONIC_CALL ? "call"
                                                                             : "jcc " + std::to_string(code[1] & 0x0F);
      out.push_back({form, next + instruction.raw.imm[0].value.s});
      at += instruction.length;
    } else if (instruction.raw.disp.size == 32 && instruction.raw.modrm.mod == 0 && instruction.raw.modrm.rm == 5) {
      out.push_back({"rip", next + instruction.raw.disp.value});
      at += instruction.length;
    } else {
      out.push_back({"plain", 0});
      at += instruction.length;
    }
  }
  return out;
}

struct BuildCase {
  const char* name;
  std::vector<std::byte> code;
  std::uint64_t slot;
  std::vector<Followed> expected;  // the last is always the jump back
};

TEST(HookPrologue, TrampolineGoesWhereTheOriginalWent) {
  constexpr std::uint64_t kFarSlot =
      kTarget - 0x70000000;  // 1.75 GB below: destinations 2 GB up are out of rel32 reach
  const BuildCase cases[] = {
      {"mov eax, [rip+0x10]",
       Code({0x8B, 0x05, 0x10, 0, 0, 0, 0x01, 0xC8, 0xC3}),
       kNearSlot,
       {{"rip", kTarget + 6 + 0x10}, {"jmp", kTarget + 6}}},
      {"lea rax, [rip-0x20]",
       Code({0x48, 0x8D, 0x05, 0xE0, 0xFF, 0xFF, 0xFF, 0xC3}),
       kNearSlot,
       {{"rip", kTarget + 7 - 0x20}, {"jmp", kTarget + 7}}},
      // The immediate after the displacement: RIP counts from the instruction's end.
      {"cmp dword [rip+0x40], 5",
       Code({0x83, 0x3D, 0x40, 0, 0, 0, 0x05, 0xC3}),
       kNearSlot,
       {{"rip", kTarget + 7 + 0x40}, {"jmp", kTarget + 7}}},
      {"call rel32",
       Code({0xE8, 0x00, 0x01, 0, 0, 0xC3}),
       kNearSlot,
       {{"call", kTarget + 5 + 0x100}, {"jmp", kTarget + 5}}},
      {"call rel32 out of reach",
       Code({0xE8, 0xF0, 0xFF, 0xFF, 0x7F, 0xC3}),
       kFarSlot,
       {{"call abs", kTarget + 5 + 0x7FFFFFF0}, {"jmp", kTarget + 5}}},
      {"jmp rel32 out of reach",
       Code({0xE9, 0xF0, 0xFF, 0xFF, 0x7F}),
       kFarSlot,
       {{"jmp abs", kTarget + 5 + 0x7FFFFFF0}, {"jmp", kTarget + 5}}},
      // test ecx, ecx; js +4 (past the copy); lea eax, [rcx+1]
      {"short jcc out of the copy",
       Code({0x85, 0xC9, 0x78, 0x04, 0x8D, 0x41, 0x01, 0xC3, 0x31, 0xC0, 0xC3}),
       kNearSlot,
       {{"plain", 0}, {"jcc 8", kTarget + 8}, {"plain", 0}, {"jmp", kTarget + 7}}},
      {"short jcc with the slot far off",
       Code({0x85, 0xC9, 0x78, 0x04, 0x8D, 0x41, 0x01, 0xC3}),
       kTarget + 0x7FFF0000,
       {{"plain", 0}, {"jcc 8", kTarget + 8}, {"plain", 0}, {"jmp", kTarget + 7}}},
      {"short jcc out of reach",
       Code({0x85, 0xC9, 0x0F, 0x88, 0xF0, 0xFF, 0xFF, 0x7F}),
       kFarSlot,
       {{"plain", 0}, {"jcc abs 8", kTarget + 8 + 0x7FFFFFF0}, {"jmp", kTarget + 8}}},
      // dec ecx; jg entry; lea: the branch goes to the copy of the dec.
      {"jcc to a copied instruction",
       Code({0xFF, 0xC9, 0x7F, 0xFC, 0x8D, 0x41, 0x64, 0xC3}),
       kNearSlot,
       {{"plain", 0}, {"jcc 15", kNearSlot + kTrampolineOffset}, {"plain", 0}, {"jmp", kTarget + 7}}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    Prologue prologue;
    ASSERT_EQ(DecodePrologue(test.code, kTarget, prologue), RelocationStatus::Ok);
    Slot slot;
    ASSERT_EQ(BuildSlot(prologue, test.slot, 0x7FF600001234, slot), RelocationStatus::Ok);
    std::uint64_t relayTarget;
    std::memcpy(&relayTarget, slot.bytes.data() + 6, 8);
    EXPECT_EQ(relayTarget, 0x7FF600001234u);
    const auto followed = Follow(slot);
    ASSERT_EQ(followed.size(), test.expected.size());
    for (std::size_t i = 0; i < followed.size(); ++i) {
      EXPECT_EQ(followed[i].form, test.expected[i].form) << i;
      EXPECT_EQ(followed[i].destination, test.expected[i].destination) << i;
    }
    // Every copied instruction's place maps into the trampoline and back to itself.
    for (std::uint8_t i = 0; i < prologue.count; ++i) {
      const std::uint64_t original = kTarget + prologue.instructions[i].offset;
      const std::uint64_t copy = MovedIp(std::span(slot.into).first(slot.intoCount), original);
      EXPECT_NE(copy, original);
      EXPECT_EQ(MovedIp(std::span(slot.outOf).first(slot.outOfCount), copy), original);
    }
    EXPECT_EQ(MovedIp(std::span(slot.outOf).first(slot.outOfCount), test.slot), kTarget) << "a thread in the relay";
  }
}

TEST(HookPrologue, AbsoluteFormsSendAThreadMidwayToWhereItWasGoing) {
  // jcc taken (on the inner absolute jump) goes to the branch's destination; back from an absolute
  // call, to the instruction after the original call.
  constexpr std::uint64_t kFarSlot = kTarget - 0x70000000;
  Prologue prologue;
  ASSERT_EQ(DecodePrologue(Code({0x0F, 0x88, 0xF0, 0xFF, 0xFF, 0x7F, 0xC3}), kTarget, prologue), RelocationStatus::Ok);
  Slot slot;
  ASSERT_EQ(BuildSlot(prologue, kFarSlot, 0x1000, slot), RelocationStatus::Ok);
  const auto outOf = std::span(slot.outOf).first(slot.outOfCount);
  EXPECT_EQ(MovedIp(outOf, slot.Trampoline() + 2), kTarget + 6 + 0x7FFFFFF0);

  ASSERT_EQ(DecodePrologue(Code({0xE8, 0xF0, 0xFF, 0xFF, 0x7F, 0xC3}), kTarget, prologue), RelocationStatus::Ok);
  ASSERT_EQ(BuildSlot(prologue, kFarSlot, 0x1000, slot), RelocationStatus::Ok);
  EXPECT_EQ(MovedIp(std::span(slot.outOf).first(slot.outOfCount), slot.Trampoline() + 6), kTarget + 5);
}

TEST(HookPrologue, SlotRangeKeepsEveryOperandInReach) {
  // A RIP-relative operand 1.5 GB above the target narrows the range from below; both ends of the
  // range build, one step past either end does not.
  constexpr std::int32_t kDisplacement = 0x60000000;
  const auto code = Code({0x8B, 0x05, 0x00, 0x00, 0x00, 0x60, 0xC3});
  Prologue prologue;
  ASSERT_EQ(DecodePrologue(code, kTarget, prologue), RelocationStatus::Ok);
  const AddressRange range = SlotRange(prologue);
  const std::uint64_t operand = kTarget + 6 + kDisplacement;
  EXPECT_GT(range.lowest, kTarget - 0x80000000ull + 5) << "narrowed by the operand";
  EXPECT_EQ(range.lowest, operand - 0x7FFFFFFF);
  EXPECT_EQ(range.highest, kTarget + 5 + 0x7FFFFFFF);
  Slot slot;
  for (const std::uint64_t at : {range.lowest, range.highest}) {
    EXPECT_EQ(BuildSlot(prologue, at, 0x1000, slot), RelocationStatus::Ok);
    EXPECT_EQ(Follow(slot)[0].destination, operand);
  }
  EXPECT_EQ(BuildSlot(prologue, range.lowest - 0x1000, 0x1000, slot), RelocationStatus::OutOfReach);
}

TEST(HookPrologue, AddressesBeyondUserSpaceAreOutOfReach) {
  // Targets and slots with the top bit set or at 2^62 and above: refused before any arithmetic
  // on them could overflow.
  const auto code = Code({0xE8, 0x10, 0, 0, 0, 0xC3});
  Prologue prologue;
  for (const std::uint64_t target : {0x8000000000001000ull, 0xFFFFFFFFFFFFF000ull, 0x4000000000000000ull, 3ull}) {
    EXPECT_EQ(DecodePrologue(code, target, prologue), RelocationStatus::OutOfReach) << std::hex << target;
  }
  ASSERT_EQ(DecodePrologue(code, kTarget, prologue), RelocationStatus::Ok);
  Slot slot;
  for (const std::uint64_t at : {0x8000000000000000ull, 0xFFFFFFFFFFFF0000ull, 0x4000000000000000ull}) {
    EXPECT_EQ(BuildSlot(prologue, at, 0x1000, slot), RelocationStatus::OutOfReach) << std::hex << at;
  }
  // Just below 2^62 the range of slots ends below it; a RIP-relative operand at or past it leaves
  // no slot at all.
  constexpr std::uint64_t kHigh = 0x4000000000000000ull - 0x100;
  ASSERT_EQ(DecodePrologue(code, kHigh, prologue), RelocationStatus::Ok);
  EXPECT_EQ(SlotRange(prologue).highest, 0x3FFFFFFFFFFFFFFFull);
  ASSERT_EQ(DecodePrologue(Code({0x8B, 0x05, 0x00, 0x10, 0x00, 0x00, 0xC3}), kHigh, prologue), RelocationStatus::Ok);
  const AddressRange none = SlotRange(prologue);
  EXPECT_GT(none.lowest, none.highest);
}

}  // namespace
}  // namespace pathlight::hookengine
