// Any bytes as an archive index: the listing either succeeds or raises "truncated", never reads
// outside the buffer, never loops, never allocates beyond what the bytes can describe.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "roads/archive.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  for (const char* folder : {"road/rootlevel/roadlevel", ""}) {
    try {
      (void)pathlight::ParseArchiveIndex(bytes, L"C:\\Game\\0008\\0.pamt", folder);
    } catch (const std::runtime_error&) {}
  }
  return 0;
}
