#include "db/AdoDatabase.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace tagwell {
namespace {

constexpr char kInvalidConnection[] = "Invalid Connection";
constexpr char kInvalidRecord[] = "Invalid Record";

void CopyText(const ErrorText& from, char* text, std::size_t size) {
  if (!text || size == 0) return;
  std::string_view kept = com::TruncateUtf8(from.view(), size - 1);
  std::memcpy(text, kept.data(), kept.size());
  text[kept.size()] = '\0';
}

// The number a field holds, from a number or from text that reads as one.
com::HRESULT ToDouble(const QVariant& value, double* number) {
  if (value.isNull()) return com::DISP_E_TYPEMISMATCH;
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
      *number = value.toDouble();
      return com::S_OK;
    case QMetaType::QString: {
      bool ok = false;
      *number = value.toString().trimmed().toDouble(&ok);
      return ok ? com::S_OK : com::DISP_E_TYPEMISMATCH;
    }
    default:
      return com::DISP_E_TYPEMISMATCH;
  }
}

com::HRESULT ToInt32(const QVariant& value, std::int32_t* number) {
  using Limits = std::numeric_limits<std::int32_t>;
  bool whole = false;
  qlonglong integer = 0;
  if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int) {
    integer = value.toLongLong(&whole);
  } else if (value.typeId() == QMetaType::QString) {
    integer = value.toString().trimmed().toLongLong(&whole);
  }
  if (!whole) {
    double real = 0;
    if (com::HRESULT hr = ToDouble(value, &real); hr != com::S_OK) return hr;
    // Rounded half to even, as VARIANT conversion does.
    real = std::nearbyint(real);
    if (!(real >= Limits::min() && real <= Limits::max())) return com::DISP_E_OVERFLOW;
    integer = static_cast<qlonglong>(real);
  }
  if (integer < Limits::min() || integer > Limits::max()) return com::DISP_E_OVERFLOW;
  *number = static_cast<std::int32_t>(integer);
  return com::S_OK;
}

com::HRESULT ToFloat(const QVariant& value, float* number) {
  double real = 0;
  if (com::HRESULT hr = ToDouble(value, &real); hr != com::S_OK) return hr;
  if (std::isfinite(real) && std::fabs(real) > FLT_MAX) return com::DISP_E_OVERFLOW;
  *number = static_cast<float>(real);
  return com::S_OK;
}

}  // namespace

// --- AdoDatabase -------------------------------------------------------------

bool AdoDatabase::Open(std::string_view connectionString, std::string_view userId,
                       std::string_view password) {
  ptrConnection = std::make_shared<ado::Connection>();
  if (ptrConnection->Open(connectionString, userId, password) != com::S_OK) {
    Failed(ptrConnection->LastError());
    ptrConnection.reset();
    return false;
  }
  return true;
}

bool AdoDatabase::Close() {
  if (!ptrConnection) {
    Failed(ComError::FromCode(com::E_POINTER));
    return false;
  }
  if (ptrConnection->Close() != com::S_OK) {
    Failed(ptrConnection->LastError());
    ptrConnection.reset();
    return false;
  }
  return true;
}

bool AdoDatabase::OpenTable(std::int32_t options, std::string_view source, AdoTable& table) {
  if (!ptrConnection) {
    table.ptrRecordset.reset();
    errorText = kInvalidConnection;
    return false;
  }
  auto ptrRecord = std::make_shared<ado::Recordset>();
  if (ptrRecord->Open(source, ptrConnection, ado::adOpenStatic, ado::adLockOptimistic, options) !=
      com::S_OK) {
    Failed(ptrRecord->LastError());
    table.ptrRecordset.reset();
    return false;
  }
  table.ptrRecordset = std::move(ptrRecord);
  return true;
}

bool AdoDatabase::Execute(std::string_view commandText) {
  if (!ptrConnection) {
    Failed(ComError::FromCode(com::E_POINTER));
    return false;
  }
  if (ptrConnection->Execute(commandText, nullptr) != com::S_OK) {
    Failed(ptrConnection->LastError());
    return false;
  }
  return true;
}

bool AdoDatabase::Execute(std::string_view commandText, AdoTable& table) {
  std::shared_ptr<ado::Recordset> ptrRecord;
  if (!ptrConnection) {
    Failed(ComError::FromCode(com::E_POINTER));
  } else if (ptrConnection->Execute(commandText, &ptrRecord) != com::S_OK) {
    Failed(ptrConnection->LastError());
  } else {
    table.ptrRecordset = std::move(ptrRecord);
    return true;
  }
  table.ptrRecordset.reset();
  return false;
}

void AdoDatabase::GetErrorText(char* text, std::size_t size) const {
  CopyText(errorText, text, size);
}

// --- AdoTable ----------------------------------------------------------------

int AdoTable::IsEOF() {
  if (!ptrRecordset) {
    errorText = kInvalidRecord;
    return 0;
  }
  com::VARIANT_BOOL eof = com::VARIANT_FALSE;
  if (ptrRecordset->GetEOF(&eof) != com::S_OK) {
    FormatComError(ptrRecordset->LastError(), errorText);
    ptrRecordset.reset();
    return 0;
  }
  return eof;
}

bool AdoTable::FieldFailed(com::HRESULT code, std::string_view fieldName) {
  FormatFieldError(ComError::FromCode(code), fieldName, errorText);
  return false;
}

bool AdoTable::FieldValue(std::string_view fieldName, QVariant* value) {
  if (!ptrRecordset) return FieldFailed(com::E_POINTER, fieldName);
  if (ptrRecordset->GetValue(fieldName, value) != com::S_OK) {
    FormatFieldError(ptrRecordset->LastError(), fieldName, errorText);
    return false;
  }
  return true;
}

bool AdoTable::GetFieldValue(std::string_view fieldName, char* value, std::size_t size) {
  QVariant field;
  if (!value || size == 0) return FieldFailed(com::E_POINTER, fieldName);
  if (!FieldValue(fieldName, &field)) return false;
  const QByteArray text =
      field.typeId() == QMetaType::QByteArray ? field.toByteArray() : field.toString().toUtf8();
  std::string_view kept =
      com::TruncateUtf8(std::string_view(text.constData(), text.size()), size - 1);
  std::memcpy(value, kept.data(), kept.size());
  value[kept.size()] = '\0';
  return true;
}

template <class Number>
bool AdoTable::ReadNumber(std::string_view fieldName, Number* value,
                          com::HRESULT (*convert)(const QVariant&, Number*)) {
  QVariant field;
  Number number{};
  if (!value) return FieldFailed(com::E_POINTER, fieldName);
  if (!FieldValue(fieldName, &field)) return false;
  if (com::HRESULT hr = convert(field, &number); hr != com::S_OK) return FieldFailed(hr, fieldName);
  *value = number;
  return true;
}

bool AdoTable::GetFieldValue(std::string_view fieldName, std::int32_t* value) {
  return ReadNumber(fieldName, value, ToInt32);
}

bool AdoTable::GetFieldValue(std::string_view fieldName, float* value) {
  return ReadNumber(fieldName, value, ToFloat);
}

bool AdoTable::GetFieldValue(std::string_view fieldName, double* value) {
  return ReadNumber(fieldName, value, ToDouble);
}

int AdoTable::Move(com::HRESULT (ado::Recordset::*move)()) {
  if (!ptrRecordset) {
    FormatComError(ComError::FromCode(com::E_POINTER), errorText);
  } else if ((ptrRecordset.get()->*move)() != com::S_OK) {
    FormatComError(ptrRecordset->LastError(), errorText);
  }
  return 0;
}

int AdoTable::MoveNext() {
  return Move(&ado::Recordset::MoveNext);
}
int AdoTable::MovePrevious() {
  return Move(&ado::Recordset::MovePrevious);
}
int AdoTable::MoveFirst() {
  return Move(&ado::Recordset::MoveFirst);
}
int AdoTable::MoveLast() {
  return Move(&ado::Recordset::MoveLast);
}

void AdoTable::GetErrorText(char* text, std::size_t size) const {
  CopyText(errorText, text, size);
}

}  // namespace tagwell
