// What the doubles answer: a value made from every argument of the call, so a caller that knows
// its arguments can tell whether a hook between it and the double changed an argument or the
// answer. Shared by the doubles and the simulated game.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace doubles {

inline std::int32_t Receipt(std::initializer_list<std::uint64_t> arguments) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint64_t a : arguments) h = (h ^ a) * 0x100000001b3ull;
  // Non-negative, as a success code would be.
  return static_cast<std::int32_t>(h & 0x3FFFFFFF);
}

}  // namespace doubles
