#include "tests/support/CommaLocale.h"

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

constexpr char kLocale[] = "de_DE.UTF-8";

// The folder holding the compiled locale, made once per process; "" and a
// reason when it cannot be made.
const std::string& LocaleFolder(std::string* reason) {
  static std::unique_ptr<TempDir> folder;
  static std::string why;
  static bool tried = false;
  if (!tried) {
    tried = true;
    if (std::system("command -v localedef >/dev/null 2>&1") != 0) {
      why = "localedef is absent: install the locales package (scripts/deps)";
    } else {
      folder = std::make_unique<TempDir>();
      const std::string command =
          "localedef -i de_DE -f UTF-8 '" + folder->File(kLocale) + "' >/dev/null 2>&1";
      std::system(command.c_str());  // warnings give a non-zero status too
      if (!FileExists(folder->File(kLocale) + "/LC_NUMERIC"))
        why = "localedef could not compile " + std::string(kLocale);
    }
  }
  static const std::string none;
  *reason = why;
  return why.empty() ? folder->path() : none;
}

}  // namespace

ScopedCommaLocale::ScopedCommaLocale() {
  const std::string& folder = LocaleFolder(&unavailable_);
  if (!unavailable_.empty()) return;
  previous_ = std::setlocale(LC_ALL, nullptr);
  ::setenv("LOCPATH", folder.c_str(), 1);
  if (!std::setlocale(LC_ALL, kLocale) || std::strcmp(std::localeconv()->decimal_point, ",") != 0) {
    unavailable_ = std::string(kLocale) + " does not load from " + folder;
    std::setlocale(LC_ALL, previous_.c_str());
  }
}

ScopedCommaLocale::~ScopedCommaLocale() {
  if (unavailable_.empty()) std::setlocale(LC_ALL, previous_.c_str());
}

}  // namespace tagwell::testing
