// Sections: decoding one instruction; the prologue and its look-ahead; the slot's reach; building
// the slot (sizes first, so that branches between copied instructions know their offsets).
#include "hookengine/prologue.hpp"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace pathlight::hookengine {
namespace {

constexpr std::int64_t kRel32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kRel32Max = std::numeric_limits<std::int32_t>::max();
// User-mode addresses use 47 bits; anything near 2^63 is garbage and kept from overflowing.
constexpr std::int64_t kAddressLimit = std::int64_t{1} << 62;

struct Decoded {
  std::uint8_t length = 0;
  InstructionKind kind = InstructionKind::Plain;
  std::uint8_t condition = 0;
  std::uint8_t dispOffset = 0;
  std::uint64_t destination = 0;
  bool relative = false;  // a branch with a relative immediate, of a kind we rebuild or not
  bool supported = true;
  bool terminator = false;  // execution never falls through to the next byte
  bool call = false;
};

bool DecodeOne(std::span<const std::byte> code, std::uint64_t address, Decoded& out) {
  ZydisDecoder decoder;
  if (ZYAN_FAILED(ZydisDecoderInit(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64))) return false;
  ZydisDecodedInstruction instruction;
  ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
  if (ZYAN_FAILED(ZydisDecoderDecodeFull(&decoder, code.data(), code.size(), &instruction, operands))) return false;

  out = Decoded{};
  out.length = instruction.length;
  const std::uint64_t next = address + instruction.length;
  const auto category = instruction.meta.category;
  out.call = category == ZYDIS_CATEGORY_CALL;
  out.terminator = category == ZYDIS_CATEGORY_RET || category == ZYDIS_CATEGORY_UNCOND_BR ||
                   category == ZYDIS_CATEGORY_INTERRUPT || instruction.mnemonic == ZYDIS_MNEMONIC_UD2 ||
                   instruction.mnemonic == ZYDIS_MNEMONIC_HLT || instruction.mnemonic == ZYDIS_MNEMONIC_IRETQ;

  for (const auto& immediate : instruction.raw.imm) {
    if (!immediate.is_relative) continue;
    out.relative = true;
    out.destination = next + static_cast<std::uint64_t>(immediate.value.s);
    const std::uint8_t opcode = instruction.opcode;
    const bool wide = (instruction.attributes & ZYDIS_ATTRIB_HAS_OPERANDSIZE) != 0;  // rel16: rare, refused
    if (instruction.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT && (opcode == 0xEB || opcode == 0xE9)) {
      out.kind = InstructionKind::Jump;
    } else if (instruction.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT && opcode == 0xE8) {
      out.kind = InstructionKind::Call;
    } else if (instruction.opcode_map == ZYDIS_OPCODE_MAP_DEFAULT && opcode >= 0x70 && opcode <= 0x7F) {
      out.kind = InstructionKind::ConditionalJump;
      out.condition = opcode & 0x0F;
    } else if (instruction.opcode_map == ZYDIS_OPCODE_MAP_0F && opcode >= 0x80 && opcode <= 0x8F) {
      out.kind = InstructionKind::ConditionalJump;
      out.condition = opcode & 0x0F;
    } else {
      out.supported = false;
    }
    if (wide) out.supported = false;
    return true;
  }
  for (std::uint8_t i = 0; i < instruction.operand_count; ++i) {
    const auto& operand = operands[i];
    if (operand.type != ZYDIS_OPERAND_TYPE_MEMORY) continue;
    if (operand.mem.base == ZYDIS_REGISTER_EIP) {  // an address-size prefix: relative to a 32-bit EIP
      out.supported = false;
      return true;
    }
    if (operand.mem.base != ZYDIS_REGISTER_RIP) continue;
    if (instruction.raw.disp.size != 32) {
      out.supported = false;
      return true;
    }
    out.kind = InstructionKind::RipRelative;
    out.dispOffset = instruction.raw.disp.offset;
    out.destination = next + static_cast<std::uint64_t>(instruction.raw.disp.value);
    return true;
  }
  return true;
}

bool Inside(std::uint64_t value, std::uint64_t first, std::uint64_t end) { return value >= first && value < end; }

void Put32(std::uint8_t* at, std::int64_t value) {
  const auto narrow = static_cast<std::int32_t>(value);
  std::memcpy(at, &narrow, sizeof narrow);
}

void Put64(std::uint8_t* at, std::uint64_t value) { std::memcpy(at, &value, sizeof value); }

bool FitsRel32(std::int64_t value) { return value >= kRel32Min && value <= kRel32Max; }

// Whether a rel32 placed anywhere in the slot reaches `destination`.
bool SlotReaches(std::uint64_t slot, std::uint64_t destination) {
  const auto from = static_cast<std::int64_t>(slot);
  const auto to = static_cast<std::int64_t>(destination);
  return FitsRel32(to - from) && FitsRel32(to - (from + static_cast<std::int64_t>(kSlotSize)));
}

constexpr std::size_t kAbsoluteJump = 14;  // jmp [rip+0]; dq
constexpr std::size_t kAbsoluteCall = 16;  // call [rip+2]; jmp +8; dq
constexpr std::size_t kAbsoluteJcc = 16;   // j!cc +14; jmp [rip+0]; dq

std::size_t RebuiltSize(const CopiedInstruction& instruction, std::uint64_t slot) {
  const bool near = instruction.internalIndex >= 0 || SlotReaches(slot, instruction.destination);
  switch (instruction.kind) {
    case InstructionKind::Plain:
    case InstructionKind::RipRelative: return instruction.length;
    case InstructionKind::Jump: return near ? 5 : kAbsoluteJump;
    case InstructionKind::Call: return near ? 5 : kAbsoluteCall;
    case InstructionKind::ConditionalJump: return near ? 6 : kAbsoluteJcc;
  }
  return instruction.length;
}

void PutAbsoluteJump(std::uint8_t* at, std::uint64_t destination) {
  const std::uint8_t code[] = {0xFF, 0x25, 0, 0, 0, 0};
  std::memcpy(at, code, sizeof code);
  Put64(at + 6, destination);
}

}  // namespace

const char* RelocationStatusName(RelocationStatus status) {
  switch (status) {
    case RelocationStatus::Ok: return "ok";
    case RelocationStatus::Undecodable: return "undecodable";
    case RelocationStatus::EndsTooEarly: return "ends too early";
    case RelocationStatus::JumpIntoPatch: return "jump into the patched bytes";
    case RelocationStatus::ReturnIntoPatch: return "return into the patched bytes";
    case RelocationStatus::UnsupportedBranch: return "unsupported branch";
    case RelocationStatus::OutOfReach: return "out of reach";
    case RelocationStatus::TooLong: return "trampoline too long";
  }
  return "?";
}

RelocationStatus DecodePrologue(std::span<const std::byte> code, std::uint64_t address, Prologue& out) {
  out = Prologue{};
  out.address = address;
  // Compared unsigned: an address with the top bit set is no user-mode address either.
  if (address >= static_cast<std::uint64_t>(kAddressLimit) || address < kPatchSize) return RelocationStatus::OutOfReach;

  std::size_t offset = 0;
  bool endsInTerminator = false;
  while (offset < kPatchSize) {
    Decoded decoded;
    if (!DecodeOne(code.subspan(offset), address + offset, decoded)) return RelocationStatus::Undecodable;
    if (!decoded.supported) return RelocationStatus::UnsupportedBranch;
    auto& copied = out.instructions[out.count++];
    copied.offset = static_cast<std::uint8_t>(offset);
    copied.length = decoded.length;
    copied.kind = decoded.kind;
    copied.condition = decoded.condition;
    copied.dispOffset = decoded.dispOffset;
    copied.destination = decoded.destination;
    offset += decoded.length;
    endsInTerminator = decoded.terminator;
    if (decoded.terminator && offset < kPatchSize) return RelocationStatus::EndsTooEarly;
    // A thread inside the callee would come back into the middle of the jmp.
    if (decoded.call && offset < kPatchSize) return RelocationStatus::ReturnIntoPatch;
  }
  out.copiedSize = static_cast<std::uint8_t>(offset);
  std::memcpy(out.bytes.data(), code.data(), offset);

  // Branches among the copied instructions land on their copies; a landing inside one is refused.
  const std::uint64_t copiedEnd = address + offset;
  for (std::uint8_t i = 0; i < out.count; ++i) {
    auto& instruction = out.instructions[i];
    if (instruction.kind == InstructionKind::Plain || instruction.kind == InstructionKind::RipRelative) continue;
    if (!Inside(instruction.destination, address, copiedEnd)) continue;
    for (std::uint8_t j = 0; j < out.count; ++j) {
      if (address + out.instructions[j].offset == instruction.destination) {
        instruction.internalIndex = static_cast<std::int8_t>(j);
      }
    }
    if (instruction.internalIndex < 0) return RelocationStatus::JumpIntoPatch;
  }

  // The rest of the function's first block: a branch back into bytes 1 to 4 would run half of the
  // jmp. Bytes that do not decode end the search (data, or the span's end).
  const std::size_t searchEnd = std::min(code.size(), offset + kLookAhead);
  for (std::size_t at = offset; !endsInTerminator && at < searchEnd;) {
    Decoded decoded;
    if (!DecodeOne(code.subspan(at, searchEnd - at), address + at, decoded)) break;
    if (decoded.relative && Inside(decoded.destination, address + 1, address + kPatchSize)) {
      return RelocationStatus::JumpIntoPatch;
    }
    endsInTerminator = decoded.terminator;
    at += decoded.length;
  }
  return RelocationStatus::Ok;
}

AddressRange SlotRange(const Prologue& prologue) {
  // The relay at the slot's start is the target's jmp destination.
  const auto jumpEnd = static_cast<std::int64_t>(prologue.address + kPatchSize);
  std::int64_t lowest = jumpEnd + kRel32Min;
  std::int64_t highest = jumpEnd + kRel32Max;
  for (std::uint8_t i = 0; i < prologue.count; ++i) {
    const auto& instruction = prologue.instructions[i];
    if (instruction.kind != InstructionKind::RipRelative) continue;
    // The copy ends somewhere in (slot, slot + kSlotSize].
    // An operand beyond user space is reached from no slot (and its arithmetic would overflow).
    if (instruction.destination >= static_cast<std::uint64_t>(kAddressLimit)) return AddressRange{1, 0};
    const auto destination = static_cast<std::int64_t>(instruction.destination);
    lowest = std::max(lowest, destination - kRel32Max);
    highest = std::min(highest, destination - kRel32Min - static_cast<std::int64_t>(kSlotSize));
  }
  lowest = std::max<std::int64_t>(lowest, 0);
  highest = std::min(highest, kAddressLimit - 1);  // BuildSlot refuses a slot from the limit on
  if (highest < lowest) return AddressRange{1, 0};
  return AddressRange{static_cast<std::uint64_t>(lowest), static_cast<std::uint64_t>(highest)};
}

RelocationStatus BuildSlot(const Prologue& prologue, std::uint64_t slotAddress, std::uint64_t detour, Slot& out) {
  out = Slot{};
  out.address = slotAddress;
  // As for the target: no user-mode slot lies there, and the reach arithmetic stays in range.
  if (slotAddress >= static_cast<std::uint64_t>(kAddressLimit)) return RelocationStatus::OutOfReach;
  out.bytes.fill(0xCC);
  PutAbsoluteJump(out.bytes.data(), detour);

  // Sizes depend on reach from anywhere in the slot, not on the exact offset: one pass lays out.
  std::array<std::size_t, kMaxInstructions + 1> at{};
  at[0] = kTrampolineOffset;
  for (std::uint8_t i = 0; i < prologue.count; ++i) {
    at[i + 1] = at[i] + RebuiltSize(prologue.instructions[i], slotAddress);
  }
  const std::uint64_t resume = prologue.address + prologue.copiedSize;
  const std::size_t backJump = SlotReaches(slotAddress, resume) ? 5 : kAbsoluteJump;
  if (at[prologue.count] + backJump > kSlotSize) return RelocationStatus::TooLong;

  const auto rel32From = [&](std::size_t end, std::uint64_t destination) {
    return static_cast<std::int64_t>(destination) - static_cast<std::int64_t>(slotAddress + end);
  };
  for (std::uint8_t i = 0; i < prologue.count; ++i) {
    const auto& instruction = prologue.instructions[i];
    std::uint8_t* code = out.bytes.data() + at[i];
    const std::size_t size = at[i + 1] - at[i];
    const std::uint64_t original = prologue.address + instruction.offset;
    const std::uint64_t copy = slotAddress + at[i];
    const std::uint64_t destination =
        instruction.internalIndex >= 0 ? slotAddress + at[instruction.internalIndex] : instruction.destination;
    out.into[out.intoCount++] = IpMove{original, copy};
    out.outOf[out.outOfCount++] = IpMove{copy, original};
    switch (instruction.kind) {
      case InstructionKind::Plain: std::memcpy(code, prologue.bytes.data() + instruction.offset, size); break;
      case InstructionKind::RipRelative: {
        std::memcpy(code, prologue.bytes.data() + instruction.offset, size);
        const std::int64_t displacement = rel32From(at[i] + size, destination);
        if (!FitsRel32(displacement)) return RelocationStatus::OutOfReach;
        Put32(code + instruction.dispOffset, displacement);
        break;
      }
      case InstructionKind::Jump:
        if (size == 5) {
          code[0] = 0xE9;
          Put32(code + 1, rel32From(at[i] + 5, destination));
        } else {
          PutAbsoluteJump(code, destination);
        }
        break;
      case InstructionKind::Call:
        if (size == 5) {
          code[0] = 0xE8;
          Put32(code + 1, rel32From(at[i] + 5, destination));
        } else {
          const std::uint8_t call[] = {0xFF, 0x15, 0x02, 0, 0, 0, 0xEB, 0x08};
          std::memcpy(code, call, sizeof call);
          Put64(code + sizeof call, destination);
          // Back from the call, the thread stands on the jmp over the address.
          out.outOf[out.outOfCount++] = IpMove{copy + 6, original + instruction.length};
        }
        break;
      case InstructionKind::ConditionalJump:
        if (size == 6) {
          code[0] = 0x0F;
          code[1] = static_cast<std::uint8_t>(0x80 | instruction.condition);
          Put32(code + 2, rel32From(at[i] + 6, destination));
        } else {
          // The inverted condition skips the absolute jump taken when the original's holds.
          code[0] = static_cast<std::uint8_t>(0x70 | (instruction.condition ^ 1));
          code[1] = static_cast<std::uint8_t>(kAbsoluteJump);
          PutAbsoluteJump(code + 2, destination);
          out.outOf[out.outOfCount++] = IpMove{copy + 2, destination};
        }
        break;
    }
  }
  std::uint8_t* back = out.bytes.data() + at[prologue.count];
  if (backJump == 5) {
    back[0] = 0xE9;
    Put32(back + 1, rel32From(at[prologue.count] + 5, resume));
  } else {
    PutAbsoluteJump(back, resume);
  }
  out.outOf[out.outOfCount++] = IpMove{slotAddress + at[prologue.count], resume};
  out.outOf[out.outOfCount++] = IpMove{slotAddress, prologue.address};  // in the relay: not yet in the detour
  return RelocationStatus::Ok;
}

std::array<std::uint8_t, kPatchSize> EntryJump(std::uint64_t target, std::uint64_t relay) {
  std::array<std::uint8_t, kPatchSize> code{0xE9};
  Put32(code.data() + 1, static_cast<std::int64_t>(relay) - static_cast<std::int64_t>(target + kPatchSize));
  return code;
}

std::uint64_t MovedIp(std::span<const IpMove> moves, std::uint64_t ip) {
  for (const auto& move : moves) {
    if (move.from == ip) return move.to;
  }
  return ip;
}

}  // namespace pathlight::hookengine
