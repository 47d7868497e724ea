// A comma-decimal locale (de_DE.UTF-8) for tests of the texts Tagwell
// parses and prints. Debian ships the locale only as a source, so it is
// compiled with localedef into a private folder on first use and found
// through LOCPATH; no system setting is needed or changed.
#pragma once

#include <string>

namespace tagwell::testing {

// The process's C locale is de_DE.UTF-8 for the scope, as after Qt's start
// on a German desktop; the previous locale is restored afterwards. When the
// locale cannot be made, nothing changes and unavailable() says why.
class ScopedCommaLocale final {
 public:
  ScopedCommaLocale();
  ~ScopedCommaLocale();
  ScopedCommaLocale(const ScopedCommaLocale&) = delete;
  ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

  // Empty while the locale is in effect.
  const std::string& unavailable() const { return unavailable_; }

 private:
  std::string previous_;
  std::string unavailable_;
};

}  // namespace tagwell::testing

// Skips the test, with the reason, when the comma-decimal locale is absent.
#define TAGWELL_REQUIRE_COMMA_LOCALE(scope)                                  \
  if (!(scope).unavailable().empty()) GTEST_SKIP() << (scope).unavailable(); \
  static_assert(true)
