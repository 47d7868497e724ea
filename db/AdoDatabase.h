// AdoDatabase holds one connection, AdoTable one recordset. Every operation
// catches the store's errors: it writes their description (FormatComError)
// into the object's errorText and reports failure only through its result.
// No operation shows a message, writes the log or throws. The user creates
// an object for one task and destroys it afterwards; destruction releases
// the object's reference and makes no Close call of its own (a connection or
// recordset ends with its last reference).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "db/Ado.h"
#include "db/ComError.h"

namespace tagwell {

class AdoTable;

class AdoDatabase final {
 public:
  AdoDatabase() = default;
  AdoDatabase(const AdoDatabase&) = delete;
  AdoDatabase& operator=(const AdoDatabase&) = delete;

  // Creates a new connection and opens it ("Provider=SQLite;Data
  // Source=PATH", see ado::Connection::Open). On failure ptrConnection is
  // null.
  bool Open(std::string_view connectionString, std::string_view userId, std::string_view password);
  // On failure (never opened, closed already) ptrConnection becomes null.
  bool Close();
  // Opens source on this connection into table (options: ado::adCmdText for
  // a statement, ado::adCmdTable for a table name). Without a connection:
  // "Invalid Connection". On failure the table has no recordset.
  bool OpenTable(std::int32_t options, std::string_view source, AdoTable& table);
  // Runs a statement and drops any rows it returns; the connection stays on
  // failure.
  bool Execute(std::string_view commandText);
  // Runs a statement; its rows become table's recordset (null on failure).
  bool Execute(std::string_view commandText, AdoTable& table);

  // Copies errorText into text, at most size bytes with the terminator.
  void GetErrorText(char* text, std::size_t size) const;
  template <std::size_t N>
  void GetErrorText(char (&text)[N]) const {
    GetErrorText(text, N);
  }

  std::shared_ptr<ado::Connection> ptrConnection;  // null until Open succeeds
  ErrorText errorText{"NULL POINTER"};             // the last failure; a success keeps it

 private:
  void Failed(const ComError& error) { FormatComError(error, errorText); }
};

class AdoTable final {
 public:
  AdoTable() = default;
  AdoTable(const AdoTable&) = delete;
  AdoTable& operator=(const AdoTable&) = delete;

  // -1 (VARIANT_TRUE) past the last row, 0 otherwise. Without a recordset:
  // "Invalid Record" and 0. On failure the recordset is dropped.
  int IsEOF();

  // The named field of the current row. Text: numbers as their text, NULL as
  // "", cut to size bytes at a character boundary. Numbers: a number, or text
  // that reads as one, converted to the type asked for; NULL or other text
  // fails with "Type mismatch.", a value that does not fit with "Out of
  // present range.". On failure the text ends with "\n**For Field Name:" and
  // the name; the recordset stays.
  bool GetFieldValue(std::string_view fieldName, char* value, std::size_t size);
  template <std::size_t N>
  bool GetFieldValue(std::string_view fieldName, char (&value)[N]) {
    return GetFieldValue(fieldName, value, N);
  }
  bool GetFieldValue(std::string_view fieldName, std::int32_t* value);
  bool GetFieldValue(std::string_view fieldName, float* value);
  bool GetFieldValue(std::string_view fieldName, double* value);

  // Always 0; a failure (moving past either end, no recordset) sets
  // errorText and keeps the recordset.
  int MoveNext();
  int MovePrevious();
  int MoveFirst();
  int MoveLast();

  void GetErrorText(char* text, std::size_t size) const;
  template <std::size_t N>
  void GetErrorText(char (&text)[N]) const {
    GetErrorText(text, N);
  }

  std::shared_ptr<ado::Recordset> ptrRecordset;  // null until set or opened
  ErrorText errorText;                           // the last failure

 private:
  bool FieldValue(std::string_view fieldName, QVariant* value);
  bool FieldFailed(com::HRESULT code, std::string_view fieldName);
  template <class Number>
  bool ReadNumber(std::string_view fieldName, Number* value,
                  com::HRESULT (*convert)(const QVariant&, Number*));
  int Move(com::HRESULT (ado::Recordset::*move)());
};

}  // namespace tagwell
