#include "db/ComError.h"

#include <cstdio>

namespace tagwell {
namespace {

constexpr std::string_view kEllipsis = "...";
constexpr std::string_view kFieldSuffix = "\n**For Field Name:";
// A field name keeps at most this much of the text; the error gets the rest.
constexpr std::size_t kFieldPartLimit = kErrorTextSize / 2;

struct SystemMessage {
  com::HRESULT code;
  const char* text;
};

// The system's messages for the codes this layer raises or meets.
constexpr SystemMessage kSystemMessages[] = {
    {com::E_NOTIMPL, "Not implemented"},
    {com::E_NOINTERFACE, "No such interface supported"},
    {com::E_POINTER, "Invalid pointer"},
    {com::E_ABORT, "Operation aborted"},
    {com::E_FAIL, "Unspecified error"},
    {com::E_UNEXPECTED, "Catastrophic failure"},
    {com::E_ACCESSDENIED, "General access denied error"},
    {com::E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {com::E_INVALIDARG, "The parameter is incorrect."},
    {com::DISP_E_TYPEMISMATCH, "Type mismatch."},
    {com::DISP_E_OVERFLOW, "Out of present range."},
};

std::string Hex8(com::HRESULT code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08lx",
                static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
  return buf;
}

// Cuts text by up to `excess` bytes (plus room for the "..." mark) at a
// character boundary; returns how many bytes it removed.
std::size_t Shorten(std::string& text, std::size_t excess) {
  if (excess == 0 || text.empty()) return 0;
  std::size_t before = text.size();
  std::size_t keep = before > excess + kEllipsis.size() ? before - excess - kEllipsis.size() : 0;
  std::string cut(com::TruncateUtf8(text, keep));
  cut += kEllipsis;
  if (cut.size() >= before) return 0;
  text = std::move(cut);
  return before - text.size();
}

// The five pieces, shortened to at most `budget` bytes.
std::string Compose(const ComError& error, std::size_t budget) {
  std::string code = Hex8(error.code);
  std::string meaning = error.meaning.empty() ? ComErrorMessage(error.code) : error.meaning;
  std::string source = error.source.value_or("(null)");
  std::string description = error.description.value_or("(null)");
  const std::size_t fixed =
      std::string_view("Error:\nCode = \nCode meaning = \nSource = \nDescription = ").size() +
      code.size();
  std::size_t total = fixed + meaning.size() + source.size() + description.size();
  if (total > budget) {
    std::size_t excess = total - budget;
    for (std::string* part : {&description, &meaning, &source}) excess -= Shorten(*part, excess);
  }
  return "Error:\nCode = " + code + "\nCode meaning = " + meaning + "\nSource = " + source +
         "\nDescription = " + description;
}

}  // namespace

com::HRESULT SqliteHresult(int sqliteCode) {
  if (sqliteCode <= 0 || sqliteCode > 0xFDFF) return com::E_FAIL;
  return static_cast<com::HRESULT>(static_cast<std::uint32_t>(kSqliteCodeBase) +
                                   static_cast<std::uint32_t>(sqliteCode));
}

std::string ComErrorMessage(com::HRESULT code) {
  for (const SystemMessage& m : kSystemMessages)
    if (m.code == code) return m.text;
  const auto u = static_cast<std::uint32_t>(code);
  char buf[48];
  if (u >= 0x80040200u && u <= 0x8004FFFFu)
    std::snprintf(buf, sizeof buf, "IDispatch error #%d", static_cast<int>(u - 0x80040200u));
  else
    std::snprintf(buf, sizeof buf, "Unknown error 0x%0lX", static_cast<unsigned long>(u));
  return buf;
}

void FormatComError(const ComError& error, ErrorText& text) {
  text = Compose(error, kErrorTextSize - 1);
}

void FormatFieldError(const ComError& error, std::string_view fieldName, ErrorText& text) {
  std::string suffix(kFieldSuffix);
  suffix += fieldName;
  if (suffix.size() > kFieldPartLimit) {
    suffix = std::string(com::TruncateUtf8(suffix, kFieldPartLimit - kEllipsis.size()));
    suffix += kEllipsis;
  }
  text = Compose(error, kErrorTextSize - 1 - suffix.size()) + suffix;
}

}  // namespace tagwell
