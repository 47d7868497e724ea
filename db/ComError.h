// Errors of the store layer in the shape of a COM error: an HRESULT plus the
// texts of an error-information object, and the five-line description that
// AdoDatabase and AdoTable keep for their caller.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "opc/FixedText.h"
#include "platform/com/Types.h"

namespace tagwell {

// The error texts of AdoDatabase and AdoTable: 500 bytes with the terminator.
inline constexpr std::size_t kErrorTextSize = 500;
using ErrorText = FixedText<kErrorTextSize>;

// One failure. An error raised by the layer itself for a bad call (a null
// pointer) carries no error information: source and description are absent.
//
// Errors of the SQL store map as follows:
//   code        0x80040200 + the SQLite result code (an interface-specific
//               HRESULT, so the code's generic meaning is "IDispatch error #n"
//               with n the SQLite code); E_FAIL when the driver gives no code
//   meaning     the driver's text ("Unable to execute statement")
//   source      the Qt driver's name ("QSQLITE")
//   description the database's own text ("no such table: OPCvalues")
// Misuse of a connection or recordset (a closed object, no current record, no
// such field) uses ADO's error codes, with source "AdoDatabase" or "AdoTable".
struct ComError {
  com::HRESULT code = com::S_OK;
  std::string meaning;  // empty: the generic message of the code
  std::optional<std::string> source;
  std::optional<std::string> description;

  // An error with no error information, such as E_POINTER.
  static ComError FromCode(com::HRESULT code) { return ComError{code, {}, {}, {}}; }
};

// The HRESULT that stands for a SQLite result code.
inline constexpr com::HRESULT kSqliteCodeBase = com::MakeHresult(0x80040200);
com::HRESULT SqliteHresult(int sqliteCode);

// ADO's codes for misuse of its objects.
inline constexpr com::HRESULT adErrInvalidArgument = com::MakeHresult(0x800A0BB9);
inline constexpr com::HRESULT adErrNoCurrentRecord = com::MakeHresult(0x800A0BCD);
inline constexpr com::HRESULT adErrItemNotFound = com::MakeHresult(0x800A0CC1);
inline constexpr com::HRESULT adErrObjectClosed = com::MakeHresult(0x800A0E78);
inline constexpr com::HRESULT adErrObjectOpen = com::MakeHresult(0x800A0E79);
inline constexpr com::HRESULT adErrProviderNotFound = com::MakeHresult(0x800A0E7A);
inline constexpr com::HRESULT adErrInvalidConnection = com::MakeHresult(0x800A0E7D);

// The generic message of a code: the system's text for the codes it knows
// (E_POINTER: "Invalid pointer"); else "IDispatch error #%d" with code minus
// 0x80040200 for 0x80040200..0x8004FFFF; else "Unknown error 0x%0lX".
std::string ComErrorMessage(com::HRESULT code);

// Writes the five pieces
//   "Error:\n" "Code = %08lx\n" "Code meaning = %s\n" "Source = %s\n"
//   "Description = %s"
// into text, replacing what it held. An absent source or description prints
// as "(null)". When the whole does not fit, the description and then the
// meaning are shortened (at a character boundary, marked with "...") so that
// every line stays present.
void FormatComError(const ComError& error, ErrorText& text);

// As FormatComError, followed by "\n**For Field Name:" and fieldName. The
// error's part is shortened first, so the field name survives as far as it
// can.
void FormatFieldError(const ComError& error, std::string_view fieldName, ErrorText& text);

}  // namespace tagwell
