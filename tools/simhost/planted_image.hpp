// The simulated game's image as Pathlight's start-up scan sees it (rtti_image.S): the variants
// that the tests select, and the ground-truth file of what was planted where.
#pragma once

#include <string>

namespace simhost {

struct Host;

enum class ImageVariant {
  Full,             // every class, the session global with 24 sites, vehicle types, clock
  NoUiClasses,      // the three user-interface class names are gone: the library stays inactive
  NoSessionGlobal,  // every session-global site broken: the decoy global wins the vote but fails it
  FewSites,         // 19 session-global sites: one short of the vote
  GuardedPages,     // as full, with a guard page among the locators and a no-access page in the code
};

// "full", "no-ui-classes", "no-session-global", "few-sites", "guarded-pages".
bool ParseImageVariant(const std::wstring& text, ImageVariant& variant);

// Before the library loads: shapes the image for the variant (and, in the padded build, fills the
// padding with code-like bytes), then writes "planted-image.txt" beside the executable with the
// image offsets the scan must report. Notes in the host whether it protected pages.
void PrepareImage(Host& host, ImageVariant variant);

// At the game's exit (guarded-pages only): adds to that file whether the protected pages are as
// they were made.
void RecordImageAtExit(const Host& host);

}  // namespace simhost
