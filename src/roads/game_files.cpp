#include "roads/game_files.hpp"

namespace pathlight {

FileRangeReader::FileRangeReader(const std::wstring& path) : file_(OpenFileForReading(path)) {
  if (file_ == nullptr) return;
  // Every read is one whole range into the caller's buffer: the C runtime's own buffer would only
  // add a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  if (SeekFile(file_, 0, SEEK_END) == 0) end_ = TellFile(file_);
}

FileRangeReader::~FileRangeReader() {
  if (file_ != nullptr) std::fclose(file_);
}

void FileRangeReader::Read(std::uint64_t offset, std::uint32_t size, std::vector<std::byte>& out) {
  out.clear();
  if (file_ == nullptr || end_ < 0 || offset >= static_cast<std::uint64_t>(end_) ||
      SeekFile(file_, static_cast<std::int64_t>(offset), SEEK_SET) != 0)
    return;
  const std::uint64_t left = static_cast<std::uint64_t>(end_) - offset;
  out.resize(static_cast<std::size_t>(size == kReadToEnd || size > left ? left : size));
  out.resize(std::fread(out.data(), 1, out.size(), file_));
}

std::vector<std::byte> ReadFileBytes(const std::wstring& path, std::uint64_t offset, std::uint32_t size) {
  std::vector<std::byte> bytes;
  FileRangeReader(path).Read(offset, size, bytes);
  return bytes;
}

}  // namespace pathlight
