// The value syntax of "Pathlight.ini": pure functions from the text of one value to what the
// settings record stores. No value is clamped; ranges are the user's business.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "settings/settings.hpp"

namespace pathlight {

// The C library's unsigned conversion with a 32-bit result (what wcstoul gives where long has
// 32 bits): leading white space, an optional sign, then base 10, or base 16 after "0x", or base 8
// after a leading "0" when base is 0. Reading stops at the first character that does not fit; a
// value beyond 32 bits becomes 0xFFFFFFFF; a negative number is negated in 32 bits. Text without
// digits reads as 0.
[[nodiscard]] std::uint32_t ParseUnsigned32(std::wstring_view text, int base = 0);

// Nonzero is on. Words carry no meaning: "true" reads as 0, which is off.
[[nodiscard]] bool ParseBool(std::wstring_view text);

// The standard wide-string conversion: leading blanks skipped, trailing text ignored, no number
// reads as 0.
[[nodiscard]] float ParseFloat(std::wstring_view text);

// "RRGGBB" (alpha FF) or "RRGGBBAA" after at most one leading "#"; any other length keeps
// fallback. Packed red-lowest (PackColour).
[[nodiscard]] std::uint32_t ParseColour(std::wstring_view text, std::uint32_t fallback);

// The word-valued keys, compared ignoring case; each has a catch-all for any other text.
[[nodiscard]] std::int32_t ParseInterpolate(std::wstring_view text);  // On/1 -> 1, Off/0 -> 0, else -1
[[nodiscard]] std::int32_t ParseHdrMode(std::wstring_view text);      // SDR/Off 0, scRGB 1, HDR10 2, else -1
[[nodiscard]] RendererChoice ParseRenderer(std::wstring_view text);   // Composition, None, else Present

// "Ctrl+Shift+F5" and the like: tokens split at "+", modifiers accumulate, a later key replaces an
// earlier one, unknown tokens are skipped silently, and without a key the binding is unbound.
[[nodiscard]] KeyBinding ParseKeyBinding(std::wstring_view text);

// Whether the reading above takes the whole text, so that nothing in it was passed over: the
// load logs every value that is not read whole, with what it was read as. Blanks after a value
// count as read. An empty text is whole (it means the default, or an unbound key).
[[nodiscard]] bool UnsignedReadsWhole(std::wstring_view text);  // also false beyond 32 bits
[[nodiscard]] bool UnsignedTooLarge(std::wstring_view text);    // the digits go beyond 32 bits
[[nodiscard]] bool FloatReadsWhole(std::wstring_view text);
[[nodiscard]] bool ColourReadsWhole(std::wstring_view text);
[[nodiscard]] bool WordReadsWhole(WordKey word, std::wstring_view text);  // the catch-all's own name counts
// The first token of a binding that names nothing (an empty one included; "None" names the unbound
// key), or nothing when every token is known.
[[nodiscard]] std::optional<std::wstring_view> UnknownKeyToken(std::wstring_view text);

}  // namespace pathlight
