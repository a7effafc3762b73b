// Any bytes as a function's entry for the hook engine's prologue decoder and relocator.
// Input: u8 mode, u64 address, u64 slot choice, u64 detour, then the code.
//   mode bit 0: the address as given (else inside a 256 MB image at 0x140000000)
//   mode bit 1: the slot anywhere in SlotRange (else the slot address as given)
//
// Checked, with Zydis decoding independently of the relocator: a prologue that is taken holds
// whole instructions covering the 5 patched bytes, copied unchanged, with the right branch and
// RIP-relative destinations; a slot built from it starts with the relay to the detour, then the
// copies, each decoding to the same instruction (or its rebuilt branch) with every branch and
// RIP-relative operand at the same absolute address, then the jump back, all inside the slot;
// the instruction-pointer moves map each copied instruction both ways; inside SlotRange the slot
// is never out of reach and the entry jump lands on the relay.
#include <Zydis/Zydis.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "fuzz_memory.hpp"
#include "fuzz_target.hpp"
#include "hookengine/prologue.hpp"

namespace pathlight::fuzzing {
namespace {

using namespace hookengine;

struct Instruction {
  ZydisDecodedInstruction decoded;
  ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
};

bool Decode(const std::uint8_t* code, std::size_t size, Instruction& out) {
  static ZydisDecoder decoder = [] {
    ZydisDecoder d;
    ZydisDecoderInit(&d, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
    return d;
  }();
  return ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder, code, size, &out.decoded, out.operands));
}

// The absolute address of the relative branch target or RIP-relative operand, if any.
bool Target(const Instruction& in, std::uint64_t runtime, std::uint64_t& target) {
  for (std::uint8_t i = 0; i < in.decoded.operand_count; ++i) {
    const auto& operand = in.operands[i];
    const bool relative = operand.type == ZYDIS_OPERAND_TYPE_IMMEDIATE && operand.imm.is_relative;
    // EIP-relative too (an address-size prefix): it depends on where the instruction lies as well.
    const bool rip = operand.type == ZYDIS_OPERAND_TYPE_MEMORY &&
                     (operand.mem.base == ZYDIS_REGISTER_RIP || operand.mem.base == ZYDIS_REGISTER_EIP);
    if (!relative && !rip) continue;
    ZyanU64 address = 0;
    if (ZYAN_FAILED(ZydisCalcAbsoluteAddress(&in.decoded, &operand, runtime, &address))) Broken("no absolute address");
    target = address;
    return true;
  }
  return false;
}

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void CheckPrologue(std::span<const std::uint8_t> code, const Prologue& p) {
  if (p.count == 0 || p.count > kMaxInstructions || p.copiedSize < kPatchSize || p.copiedSize > kMaxCopied) {
    Broken("prologue size");
  }
  if (std::memcmp(p.bytes.data(), code.data(), p.copiedSize) != 0) Broken("prologue bytes not the code's");
  std::size_t offset = 0;
  for (std::uint8_t i = 0; i < p.count; ++i) {
    const CopiedInstruction& copied = p.instructions[i];
    Instruction in;
    if (copied.offset != offset || !Decode(code.data() + offset, code.size() - offset, in) ||
        in.decoded.length != copied.length) {
      Broken("copied instruction not a whole decoded instruction");
    }
    std::uint64_t target = 0;
    const bool hasTarget = Target(in, p.address + offset, target);
    if (copied.kind != InstructionKind::Plain && (!hasTarget || target != copied.destination)) {
      Broken("branch or RIP-relative destination differs from Zydis's");
    }
    if (copied.kind == InstructionKind::Plain && hasTarget) Broken("a relative instruction copied as plain");
    offset += copied.length;
    if (i + 1 < p.count && offset >= kPatchSize) Broken("an instruction copied beyond the patch");
  }
  if (offset != p.copiedSize) Broken("copied size");
}

void CheckSlot(const Prologue& p, const Slot& slot, std::uint64_t detour) {
  const std::uint8_t* bytes = slot.bytes.data();
  if (bytes[0] != 0xFF || bytes[1] != 0x25 || Load32(bytes + 2) != 0 || Load64(bytes + 6) != detour) {
    Broken("relay");
  }
  if (slot.intoCount != p.count) Broken("moves into the trampoline");
  std::size_t at = kTrampolineOffset;
  for (std::uint8_t i = 0; i < p.count; ++i) {
    const CopiedInstruction& copied = p.instructions[i];
    const std::uint64_t original = p.address + copied.offset;
    const std::uint64_t copy = slot.address + at;
    if (slot.into[i].from != original || slot.into[i].to != copy) Broken("move into the copy");
    if (MovedIp({slot.into.data(), slot.intoCount}, original) != copy) Broken("MovedIp into");
    if (MovedIp({slot.outOf.data(), slot.outOfCount}, copy) != original) Broken("MovedIp out of");
    Instruction in;
    if (at >= kSlotSize || !Decode(bytes + at, kSlotSize - at, in)) Broken("copy does not decode");
    const std::uint8_t* code = bytes + at;
    const std::uint64_t wanted = copied.internalIndex >= 0 ? slot.into[copied.internalIndex].to : copied.destination;
    std::uint64_t target = 0;
    switch (copied.kind) {
      case InstructionKind::Plain:
        if (std::memcmp(code, p.bytes.data() + copied.offset, copied.length) != 0) Broken("plain copy changed");
        at += copied.length;
        break;
      case InstructionKind::RipRelative: {
        Instruction before;
        (void)Decode(p.bytes.data() + copied.offset, copied.length, before);
        if (in.decoded.length != copied.length || in.decoded.mnemonic != before.decoded.mnemonic ||
            !Target(in, copy, target) || target != copied.destination) {
          Broken("RIP-relative copy reaches another address");
        }
        at += copied.length;
        break;
      }
      case InstructionKind::Jump:
      case InstructionKind::Call:
      case InstructionKind::ConditionalJump: {
        const bool jump = copied.kind == InstructionKind::Jump, call = copied.kind == InstructionKind::Call;
        if (code[0] == 0xE9 || code[0] == 0xE8 || (code[0] == 0x0F && (code[1] & 0xF0) == 0x80)) {
          // The near form: the same kind of branch with a 32-bit displacement.
          const bool same = jump ? code[0] == 0xE9 : call ? code[0] == 0xE8 : code[1] == (0x80 | copied.condition);
          if (!same || !Target(in, copy, target) || target != wanted) Broken("near branch goes elsewhere");
          at += in.decoded.length;
        } else if (jump && code[0] == 0xFF && code[1] == 0x25) {
          if (Load32(code + 2) != 0 || Load64(code + 6) != wanted) Broken("absolute jump goes elsewhere");
          at += 14;
        } else if (call && code[0] == 0xFF && code[1] == 0x15) {
          const std::uint8_t form[] = {0xFF, 0x15, 0x02, 0, 0, 0, 0xEB, 0x08};
          if (std::memcmp(code, form, sizeof form) != 0 || Load64(code + 8) != wanted)
            Broken("absolute call goes elsewhere");
          at += 16;
        } else if (!jump && !call && code[0] == (0x70 | (copied.condition ^ 1)) && code[1] == 14) {
          if (code[2] != 0xFF || code[3] != 0x25 || Load32(code + 4) != 0 || Load64(code + 8) != wanted) {
            Broken("absolute conditional jump goes elsewhere");
          }
          at += 16;
        } else {
          Broken("branch rebuilt in an unknown form");
        }
        break;
      }
    }
    if (at > kSlotSize) Broken("trampoline beyond the slot");
  }
  // The jump back to the instruction after the copied ones.
  const std::uint64_t resume = p.address + p.copiedSize;
  Instruction back;
  std::uint64_t target = 0;
  if (at >= kSlotSize || !Decode(bytes + at, kSlotSize - at, back)) Broken("no jump back");
  if (bytes[at] == 0xE9) {
    if (!Target(back, slot.address + at, target) || target != resume || at + 5 > kSlotSize) Broken("jump back");
  } else if (bytes[at] != 0xFF || bytes[at + 1] != 0x25 || at + 14 > kSlotSize || Load32(bytes + at + 2) != 0 ||
             Load64(bytes + at + 6) != resume) {
    Broken("absolute jump back");
  }
}

}  // namespace

void FuzzInput(InputReader& input) {
  using namespace hookengine;
  const auto mode = input.Take<std::uint8_t>();
  const auto rawAddress = input.Take<std::uint64_t>();
  const auto slotChoice = input.Take<std::uint64_t>();
  const auto detour = input.Take<std::uint64_t>();
  const std::span<const std::uint8_t> code = input.Rest().first(std::min(input.Rest().size(), kCodeWanted));
  const std::uint64_t address = (mode & 1) != 0 ? rawAddress : 0x140000000 + (rawAddress & 0xFFFFFFF);

  Prologue prologue;
  const RelocationStatus decoded = DecodePrologue(std::as_bytes(code), address, prologue);
  if (std::string_view(RelocationStatusName(decoded)) == "?") Broken("unnamed status");
  if (decoded != RelocationStatus::Ok) return;
  CheckPrologue(code, prologue);

  const AddressRange range = SlotRange(prologue);
  const bool inRange = (mode & 2) != 0 && range.lowest <= range.highest;
  const std::uint64_t slotAddress =
      inRange ? range.lowest + slotChoice % (range.highest - range.lowest + 1) : slotChoice;
  Slot slot;
  const RelocationStatus built = BuildSlot(prologue, slotAddress, detour, slot);
  if (inRange && built == RelocationStatus::OutOfReach) Broken("a slot inside SlotRange is out of reach");
  if (built != RelocationStatus::Ok) return;
  CheckSlot(prologue, slot, detour);
  if (inRange) {
    const auto jump = EntryJump(address, slotAddress);
    std::int32_t rel;
    std::memcpy(&rel, jump.data() + 1, 4);
    if (jump[0] != 0xE9 || address + kPatchSize + static_cast<std::int64_t>(rel) != slotAddress) {
      Broken("the entry jump misses the relay");
    }
  }
}

}  // namespace pathlight::fuzzing
