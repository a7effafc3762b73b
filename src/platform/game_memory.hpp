// Guarded reading of the game's memory. The game may free or re-protect any of its memory between
// two of our reads, so every read of its heap goes through a GameMemory: a read either copies the
// bytes or reports that it could not, and a fault never escapes to the game.
//
// In the DLL the implementation is the process's own memory behind the fault guard
// (platform/fault_guard_win.hpp); in native tests it is a fake address space.
// Callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pathlight {

class GameMemory {
 public:
  virtual ~GameMemory() = default;

  // Copies the readable beginning of [address, address + size) into out and returns its length:
  // size when every byte was readable, less when the range runs into memory that is not mapped,
  // not committed, not readable or a guard page. Bytes of `out` beyond the returned length are
  // unspecified. Guard pages stay armed.
  virtual std::size_t ReadSome(std::uint64_t address, void* out, std::size_t size) = 0;

  // Receives the pieces of a ReadPieces call, each as soon as it is copied.
  class PieceVisitor {
   public:
    // `bytes` holds the `size` bytes read from `address` on, until the next piece overwrites them.
    virtual void Piece(std::uint64_t address, const void* bytes, std::size_t size) = 0;

   protected:
    ~PieceVisitor() = default;
  };

  // Reads the readable beginning of [address, address + size), as ReadSome does, through `scratch`:
  // at most scratchBytes at a time, each piece handed to `visitor` before the next is copied.
  // Returns the bytes handed over. A scratch small enough for the first-level cache lets a long
  // range be read once from memory and looked at in the cache. One ReadSome a piece by default;
  // the fault guard asks the OS about the range once for all of its pieces.
  virtual std::size_t ReadPieces(std::uint64_t address, std::size_t size, void* scratch, std::size_t scratchBytes,
                                 PieceVisitor& visitor);

  [[nodiscard]] bool Read(std::uint64_t address, void* out, std::size_t size) {
    return ReadSome(address, out, size) == size;
  }

  // One plain value; false (and `value` untouched) when it could not be read.
  template <typename T> [[nodiscard]] bool ReadValue(std::uint64_t address, T& value) {
    T read;
    if (!Read(address, &read, sizeof read)) return false;
    value = read;
    return true;
  }
};

// The range Windows gives user-mode allocations; nothing outside it can be read.
inline constexpr std::uint64_t kLowestUserAddress = 0x10000;
inline constexpr std::uint64_t kHighestUserAddress = 0x7FFFFFFEFFFF;

// True when p could point at a game object: a multiple of 8 above 0x10000 and inside the 47-bit
// user address space.
[[nodiscard]] constexpr bool IsPlausiblePointer(std::uint64_t p) {
  return p % 8 == 0 && p - 0x10001 <= 0x7FFFFFFEFFFDull;
}

// True when `object` is plausible and its first word (its class table) reads as `table`.
[[nodiscard]] bool HasVtable(GameMemory& memory, std::uint64_t object, std::uint64_t table);

}  // namespace pathlight
