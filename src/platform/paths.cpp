#include "platform/paths.hpp"

#include "platform/text.hpp"

namespace pathlight {

namespace {

constexpr std::wstring_view kHostExecutable = L"CrimsonDesert.exe";

}  // namespace

std::wstring CutAtLastSeparator(std::wstring_view path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return std::wstring(cut == std::wstring_view::npos ? path : path.substr(0, cut));
}

std::wstring ModuleFolderFromPath(std::wstring_view modulePath) { return CutAtLastSeparator(modulePath); }

std::wstring GameFolderFromPath(std::wstring_view executablePath) {
  return CutAtLastSeparator(CutAtLastSeparator(executablePath));
}

bool IsHostExecutable(std::wstring_view executablePath) {
  const std::size_t cut = executablePath.find_last_of(L'\\');
  const std::wstring_view name = cut == std::wstring_view::npos ? executablePath : executablePath.substr(cut + 1);
  return EqualsIgnoringCase(name, kHostExecutable);
}

}  // namespace pathlight
