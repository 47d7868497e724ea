// The string table and the images of the client. Images are compiled into
// the app library from tagwell.qrc; the paths below name them there.
#pragma once

#include "resources/ResourceIds.h"

namespace tagwell::res {

// Each text fits the 256-character buffer it is loaded into.
inline constexpr const char* kAppTitle = "Tagwell";        // IDS_APP_TITLE
inline constexpr const char* kClassName = "WIN32TAGWELL";  // IDC_TAGWELL

inline constexpr const char* kIconPath = ":/tagwell/icon147.png";       // IDI_TAGWELL
inline constexpr const char* kPicturePath = ":/tagwell/bitmap159.png";  // IDB_PICTURE
inline constexpr const char* kRulePath = ":/tagwell/bitmap134.png";     // IDB_RULE

// The manual the Help command opens.
inline constexpr const char* kHelpFileName = "Help.html";

// Returns the text of string resource id, or null when there is none.
constexpr const char* LoadString(int id) {
  switch (id) {
    case IDS_APP_TITLE:
      return kAppTitle;
    case IDC_TAGWELL:
      return kClassName;
    default:
      return nullptr;
  }
}

}  // namespace tagwell::res
