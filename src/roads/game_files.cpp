#include "roads/game_files.hpp"

namespace pathlight {

std::vector<std::byte> ReadOpenedFileBytes(std::FILE* file, const FileSeeking& seeking, std::uint64_t offset,
                                           std::uint32_t size) {
  std::vector<std::byte> bytes;
  if (file == nullptr) return bytes;
  std::int64_t end = -1;
  if (seeking.seek(file, 0, SEEK_END) == 0) end = seeking.tell(file);
  if (end >= 0 && offset < static_cast<std::uint64_t>(end) &&
      seeking.seek(file, static_cast<std::int64_t>(offset), SEEK_SET) == 0) {
    const std::uint64_t left = static_cast<std::uint64_t>(end) - offset;
    bytes.resize(static_cast<std::size_t>(size == kReadToEnd || size > left ? left : size));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  }
  std::fclose(file);
  return bytes;
}

}  // namespace pathlight
