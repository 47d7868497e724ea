// A fixed-size narrow text buffer. The client's narrow texts live in buffers
// of fixed sizes (260 for paths and typed names, 128 for an item ID, 256 for
// line texts, 1024 for values and messages); the size is a limit on what is
// stored: longer texts are cut at a UTF-8 character boundary, never written
// past the end.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/Text.h"

namespace tagwell {

template <std::size_t N>
class FixedText {
  static_assert(N > 1);

 public:
  static constexpr std::size_t kCapacity = N;  // bytes, terminator included

  FixedText() { buf_[0] = '\0'; }
  FixedText(std::string_view text) { Assign(text); }  // NOLINT: implicit on purpose

  // Stores text, cut to at most N - 1 bytes at a character boundary.
  void Assign(std::string_view text) {
    std::string_view kept = com::TruncateUtf8(text, N - 1);
    std::memcpy(buf_, kept.data(), kept.size());
    buf_[kept.size()] = '\0';
  }
  FixedText& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  // snprintf into the buffer; an over-long result is cut at a character
  // boundary.
  template <class... Args>
  void Format(const char* format, Args... args) {
    int n = std::snprintf(nullptr, 0, format, args...);
    if (n < 0) {
      buf_[0] = '\0';
      return;
    }
    std::string whole(static_cast<std::size_t>(n), '\0');
    std::snprintf(whole.data(), whole.size() + 1, format, args...);
    Assign(whole);
  }

  void Clear() { buf_[0] = '\0'; }
  const char* c_str() const { return buf_; }
  std::string_view view() const { return std::string_view(buf_); }
  std::string str() const { return std::string(buf_); }
  std::size_t size() const { return std::strlen(buf_); }
  bool empty() const { return buf_[0] == '\0'; }

  friend bool operator==(const FixedText& a, std::string_view b) { return a.view() == b; }

 private:
  char buf_[N];
};

}  // namespace tagwell
