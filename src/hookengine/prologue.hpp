// The portable half of the hook engine (hook_engine.hpp): decoding a function's first instructions from
// a byte span and rebuilding them in a slot at a given address. Addresses are plain integers, so
// every decision is tested natively over hand-built bytes. Pure functions; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pathlight::hookengine {

inline constexpr std::size_t kPatchSize = 5;                         // jmp rel32 at the target
inline constexpr std::size_t kMaxInstructions = 5;                   // each at least 1 byte, stopping at 5
inline constexpr std::size_t kMaxCopied = 4 + 15;                    // 4 bytes, then the longest instruction
inline constexpr std::size_t kLookAhead = 64;                        // bytes after the copy searched for jumps back
inline constexpr std::size_t kCodeWanted = kMaxCopied + kLookAhead;  // what a caller should offer

// A slot: the relay to the detour, then the trampoline.
inline constexpr std::size_t kSlotSize = 128;
inline constexpr std::size_t kRelaySize = 14;  // jmp [rip+0]; dq detour
inline constexpr std::size_t kTrampolineOffset = 16;

enum class RelocationStatus : std::uint8_t {
  Ok,
  Undecodable,        // not an instruction, or the span ends inside one
  EndsTooEarly,       // ret, int3, ud2, hlt or an unconditional jump before byte 5
  JumpIntoPatch,      // a branch into the middle of a copied instruction or into bytes 1 to 4
  ReturnIntoPatch,    // a call ending before byte 5: its callers' return addresses cannot be moved
  UnsupportedBranch,  // loop, jrcxz, xbegin, 16-bit branches, EIP-relative operands
  OutOfReach,         // the slot cannot reach a RIP-relative operand or the target
  TooLong,            // the rebuilt trampoline does not fit its slot
};

[[nodiscard]] const char* RelocationStatusName(RelocationStatus status);

enum class InstructionKind : std::uint8_t { Plain, RipRelative, Jump, Call, ConditionalJump };

struct CopiedInstruction {
  std::uint8_t offset = 0;  // from the entry
  std::uint8_t length = 0;
  InstructionKind kind = InstructionKind::Plain;
  std::uint8_t condition = 0;      // ConditionalJump: the low nibble of its opcode
  std::uint8_t dispOffset = 0;     // RipRelative: where the 32-bit displacement sits
  std::uint64_t destination = 0;   // branch destination, or the RIP-relative operand's address
  std::int8_t internalIndex = -1;  // a branch to another copied instruction: that instruction
};

struct Prologue {
  std::uint64_t address = 0;
  std::array<std::uint8_t, kMaxCopied> bytes{};
  std::uint8_t copiedSize = 0;
  std::uint8_t count = 0;
  std::array<CopiedInstruction, kMaxInstructions> instructions{};
};

// Decodes the whole instructions that the 5-byte patch overlaps, from `code` (the bytes at
// `address`, ideally kCodeWanted of them; fewer where the memory ends), and checks the
// instructions after them for jumps back into the patch.
[[nodiscard]] RelocationStatus DecodePrologue(std::span<const std::byte> code, std::uint64_t address, Prologue& out);

// Inclusive range of slot addresses from which the relay is reachable by the target's jmp rel32
// and every RIP-relative operand stays reachable from the copy; empty when lowest > highest.
struct AddressRange {
  std::uint64_t lowest = 0;
  std::uint64_t highest = 0;
};
[[nodiscard]] AddressRange SlotRange(const Prologue& prologue);

// An instruction pointer to move when the patch is written (into the trampoline) or removed
// (out of the slot).
struct IpMove {
  std::uint64_t from = 0;
  std::uint64_t to = 0;
};

struct Slot {
  std::uint64_t address = 0;
  std::array<std::uint8_t, kSlotSize> bytes{};
  std::array<IpMove, kMaxInstructions> into{};
  std::uint8_t intoCount = 0;
  std::array<IpMove, 2 * kMaxInstructions + 2> outOf{};
  std::uint8_t outOfCount = 0;

  [[nodiscard]] std::uint64_t Trampoline() const { return address + kTrampolineOffset; }
};

// Builds the relay to `detour` and the trampoline for a slot at `slotAddress`.
[[nodiscard]] RelocationStatus BuildSlot(const Prologue& prologue, std::uint64_t slotAddress, std::uint64_t detour,
                                         Slot& out);

// The 5 bytes written at the target: jmp rel32 to the relay. The caller has checked the reach
// (SlotRange).
[[nodiscard]] std::array<std::uint8_t, kPatchSize> EntryJump(std::uint64_t target, std::uint64_t relay);

// Where an instruction pointer goes under `moves`; `ip` itself when none applies.
[[nodiscard]] std::uint64_t MovedIp(std::span<const IpMove> moves, std::uint64_t ip);

}  // namespace pathlight::hookengine
