// Sections: planted symbols, variants, padding, ground truth.
#include "planted_image.hpp"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.hpp"
#include "testkit/code_like.hpp"

// ---- planted symbols (rtti_image.S) -------------------------------------------------------------

extern "C" {
extern char planted_td_minimap[], planted_td_worldmap[], planted_td_icon[];
extern const char planted_vt_minimap[], planted_vt_worldmap[], planted_vt_icon[], planted_vt_camera[];
extern char planted_session_sites[];
extern char planted_guard_page[], planted_no_access_page[];
extern const char planted_session_global[], planted_decoy_global[];
extern const char planted_actors_global[], planted_characters_global[], planted_vehicles_global[];
extern const char planted_clock_seconds[], planted_clock_milliseconds[];
#ifdef SIMHOST_PADDED
extern char planted_pad_begin[], planted_pad_end[];
#endif
}

namespace simhost {

namespace {

constexpr int kSessionSites = 24;
constexpr int kFewSites = 19;
constexpr int kSiteBytes = 12;
constexpr int kSiteFieldByte = 10;  // the +0x30 displacement of the site's second load
constexpr int kDecoySites = 9;
constexpr int kMinorSites = 4;

std::uint64_t ImageBase() { return reinterpret_cast<std::uint64_t>(GetModuleHandleW(nullptr)); }
std::uint64_t Offset(const void* p) { return reinterpret_cast<std::uint64_t>(p) - ImageBase(); }

// Code is mapped read-only; the variant's changes are made before any other thread exists.
void PatchCode(char* at, char value) {
  DWORD old = 0;
  VirtualProtect(at, 1, PAGE_EXECUTE_READWRITE, &old);
  *at = value;
  VirtualProtect(at, 1, old, &old);
  FlushInstructionCache(GetCurrentProcess(), at, 1);
}

void BreakSessionSites(int from, int to) {
  for (int site = from; site < to; ++site) PatchCode(planted_session_sites + site * kSiteBytes + kSiteFieldByte, 0x38);
}

// ".?AV" becomes ".?AX": no longer the decorated name of a class.
void HideClassName(char* descriptor) { descriptor[16 + 3] = 'X'; }

#ifdef SIMHOST_PADDED
// Code-like bytes (testkit/code_like.hpp) whose displacements reach about as far as the image does,
// so the scan's early tests pass and fail about as often as on a real game's code; int3 after.
void FillPadding() {
  char* begin = planted_pad_begin;
  char* end = planted_pad_end;
  DWORD old = 0;
  VirtualProtect(begin, end - begin, PAGE_EXECUTE_READWRITE, &old);
  auto* const first = reinterpret_cast<std::uint8_t*>(begin);
  auto* const last = reinterpret_cast<std::uint8_t*>(end);
  std::uint8_t* at = testkit::FillCodeLike(first, last, end - begin);
  std::memset(at, 0xCC, last - at);
  VirtualProtect(begin, end - begin, old, &old);
}
#endif

// ---- ground truth -------------------------------------------------------------------------------

std::wstring TruthPath() { return BesideGame(L"planted-image.txt"); }

const char* VariantName(ImageVariant variant) {
  switch (variant) {
    case ImageVariant::NoUiClasses: return "no-ui-classes";
    case ImageVariant::NoSessionGlobal: return "no-session-global";
    case ImageVariant::FewSites: return "few-sites";
    case ImageVariant::GuardedPages: return "guarded-pages";
    case ImageVariant::Full: break;
  }
  return "full";
}

DWORD ProtectionOf(const void* page) {
  MEMORY_BASIC_INFORMATION region{};
  VirtualQuery(page, &region, sizeof region);
  return region.Protect;
}

// At exit: whether the protected pages are as they were made, guard bit included (the library's
// scan must have left them alone).
void RecordProtectedPages() {
  FILE* file = _wfopen(TruthPath().c_str(), L"a");
  if (file == nullptr) return;
  std::fprintf(file, "guardPageArmed=%d\n", ProtectionOf(planted_guard_page) == (PAGE_READONLY | PAGE_GUARD));
  std::fprintf(file, "noAccessPageKept=%d\n", ProtectionOf(planted_no_access_page) == PAGE_NOACCESS);
  std::fclose(file);
}

}  // namespace

void RecordImageAtExit(const Host& host) {
  if (host.imagePagesProtected) RecordProtectedPages();
}

bool ParseImageVariant(const std::wstring& text, ImageVariant& variant) {
  for (ImageVariant v : {ImageVariant::Full, ImageVariant::NoUiClasses, ImageVariant::NoSessionGlobal,
                         ImageVariant::FewSites, ImageVariant::GuardedPages}) {
    const std::string name = VariantName(v);
    if (text == std::wstring(name.begin(), name.end())) {
      variant = v;
      return true;
    }
  }
  return false;
}

void PrepareImage(Host& host, ImageVariant variant) {
#ifdef SIMHOST_PADDED
  FillPadding();
#endif
  const bool ui = variant != ImageVariant::NoUiClasses;
  if (!ui) {
    HideClassName(planted_td_minimap);
    HideClassName(planted_td_worldmap);
    HideClassName(planted_td_icon);
  }
  if (variant == ImageVariant::GuardedPages) {
    DWORD old = 0;
    VirtualProtect(planted_guard_page, 4096, PAGE_READONLY | PAGE_GUARD, &old);
    VirtualProtect(planted_no_access_page, 4096, PAGE_NOACCESS, &old);
    host.imagePagesProtected = true;
  }
  std::uint64_t session = Offset(planted_session_global);
  int sites = kSessionSites, runnerUp = kDecoySites;
  if (variant == ImageVariant::NoSessionGlobal) {
    BreakSessionSites(0, kSessionSites);
    session = Offset(planted_decoy_global);
    sites = kDecoySites;
    runnerUp = kMinorSites;
  } else if (variant == ImageVariant::FewSites) {
    BreakSessionSites(kFewSites, kSessionSites);
    sites = kFewSites;
  }

  const auto* base = reinterpret_cast<const unsigned char*>(ImageBase());
  std::uint32_t ntOffset = 0, imageSize = 0;
  std::memcpy(&ntOffset, base + 0x3C, 4);
  std::memcpy(&imageSize, base + ntOffset + 0x50, 4);

  FILE* file = _wfopen(TruthPath().c_str(), L"w");
  if (file == nullptr) {
    Say("simhost: the ground-truth file could not be written");
    return;
  }
  const auto put = [file](const char* key, std::uint64_t value) {
    std::fprintf(file, "%s=0x%llX\n", key, static_cast<unsigned long long>(value));
  };
  std::fprintf(file, "variant=%s\n", VariantName(variant));
  std::fprintf(file, "imageMegabytes=%u\n", imageSize >> 20);
  put("minimap", ui ? Offset(planted_vt_minimap) : 0);
  put("worldmap", ui ? Offset(planted_vt_worldmap) : 0);
  put("icon", ui ? Offset(planted_vt_icon) : 0);
  put("camera", Offset(planted_vt_camera));
  put("session", session);
  std::fprintf(file, "sessionSites=%d\nsessionRunnerUp=%d\n", sites, runnerUp);
  put("actors", Offset(planted_actors_global));
  put("characters", Offset(planted_characters_global));
  put("vehicles", Offset(planted_vehicles_global));
  put("clockSeconds", Offset(planted_clock_seconds));
  put("clockMilliseconds", Offset(planted_clock_milliseconds));
  std::fclose(file);
}

}  // namespace simhost
