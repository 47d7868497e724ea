// Conversions between the COM/OPC values and their wire form (opcda.capnp).
//
// To-wire functions read what the caller owns and never free it. From-wire
// functions allocate what COM says the receiver owns with the task allocator
// (strings, arrays, VARIANT contents), and on failure leave nothing
// allocated. A malformed message gives RPC_E_INVALID_DATA; a value that
// cannot travel (VT_UNKNOWN, VT_BYREF, arrays of other than numbers and
// BSTRs) DISP_E_BADVARTYPE.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"
#include "rpc/Errors.h"
#include "rpc/opcda.capnp.h"

namespace tagwell::rpc {

// The most entries one Next of a string or IUnknown enumerator fetches.
inline constexpr com::ULONG kMaxEnumBatch = 65536;

// Bytes of one number of type vt, as a VARIANT member or SAFEARRAY element;
// 0 for types that are not plain numbers (strings, pointers, unknown).
unsigned PlainSize(com::VARTYPE vt);

// --- GUIDs and FILETIMEs -----------------------------------------------------
void GuidToWire(const com::GUID& guid, wire::Guid::Builder out);
com::GUID GuidFromWire(wire::Guid::Reader in);
std::uint64_t FileTimeToWire(const com::FILETIME& time);
com::FILETIME FileTimeFromWire(std::uint64_t ticks);

// --- Wide strings --------------------------------------------------------------
// The code units of a zero-terminated wide string (no terminator). The view
// lives as long as text.
capnp::Data::Reader WideToWire(com::LPCWSTR text);
// A task-allocator copy, zero-terminated; *out is null when the field was
// absent.
com::HRESULT TaskWideFromWire(bool present, capnp::Data::Reader bytes, com::LPWSTR* out);

// A wide-string argument received by a stub, kept zero-terminated for the
// COM call. get() is null when the field was absent.
class WideArg final {
 public:
  // False when the bytes are not whole UTF-16 code units.
  bool Assign(bool present, capnp::Data::Reader bytes);
  com::LPWSTR get() { return present_ ? text_.data() : nullptr; }

 private:
  bool present_ = false;
  std::u16string text_;
};

// --- VARIANT ---------------------------------------------------------------------
com::HRESULT VariantToWire(const com::VARIANT& value, wire::Variant::Builder out);
// *out must be empty (VT_EMPTY, nothing owned); it is left so on failure.
com::HRESULT VariantFromWire(wire::Variant::Reader in, com::VARIANT* out);

// --- Owned task-allocator blocks ----------------------------------------------
struct TaskMemFree {
  void operator()(void* block) const { com::CoTaskMemFree(block); }
};
template <class T>
using TaskPtr = std::unique_ptr<T, TaskMemFree>;

// --- Owned task-allocator arrays ---------------------------------------------
// Frees what the elements own (strings, blobs, VARIANTs), not the array.
void FreeContents(com::OPCITEMRESULT* items, std::size_t count);
void FreeContents(com::OPCITEMSTATE* items, std::size_t count);
void FreeContents(com::OPCITEMATTRIBUTES* items, std::size_t count);
void FreeContents(com::LPWSTR* items, std::size_t count);
void FreeContents(com::VARIANT* items, std::size_t count);
template <class T>
void FreeContents(T*, std::size_t) {}

// Owns a zero-filled task-allocator array of `count` T until Release()
// hands it to the caller; otherwise frees it with what its elements own.
template <class T>
class TaskArray final {
 public:
  explicit TaskArray(std::size_t count)
      : count_(count), data_(static_cast<T*>(com::CoTaskMemAlloc(sizeof(T) * count))) {
    if (data_) std::fill_n(reinterpret_cast<unsigned char*>(data_), sizeof(T) * count, 0);
  }
  ~TaskArray() {
    if (!data_) return;
    FreeContents(data_, count_);
    com::CoTaskMemFree(data_);
  }
  TaskArray(const TaskArray&) = delete;
  TaskArray& operator=(const TaskArray&) = delete;

  // False when the allocation failed (a zero-length request may give null).
  bool ok() const { return data_ != nullptr || count_ == 0; }
  T* get() const { return data_; }
  T& operator[](std::size_t i) const { return data_[i]; }
  std::size_t size() const { return count_; }
  T* Release() { return std::exchange(data_, nullptr); }

 private:
  std::size_t count_;
  T* data_;
};

// Frees a whole array a server handed out (contents and block); null is fine.
template <class T>
void FreeTaskArray(T* items, std::size_t count) {
  if (!items) return;
  FreeContents(items, count);
  com::CoTaskMemFree(items);
}
void FreeServerStatus(com::OPCSERVERSTATUS* status);

// Holds an array of `count` T that a from-wire function allocated, freeing
// it unless Take() hands it out (so a later failure loses nothing).
template <class T>
class Received final {
 public:
  explicit Received(std::size_t count) : count_(count) {}
  ~Received() { FreeTaskArray(data_, count_); }
  Received(const Received&) = delete;
  Received& operator=(const Received&) = delete;
  T** Out() { return &data_; }
  T* get() const { return data_; }
  T* Take() { return std::exchange(data_, nullptr); }

 private:
  std::size_t count_;
  T* data_ = nullptr;
};

// --- Lists of numbers ----------------------------------------------------------
template <class List, class T>
void FillList(List list, const T* values) {
  for (unsigned i = 0; i < list.size(); ++i) list.set(i, values[i]);
}

// A task array of the entries of a list that must hold `count` entries.
template <class T, class Reader>
com::HRESULT NumbersFromWire(bool present, Reader list, std::size_t count, T** out) {
  *out = nullptr;
  if (!present) return com::S_OK;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  TaskArray<T> array(count);
  if (!array.ok()) return com::E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) array[i] = static_cast<T>(list[i]);
  *out = array.Release();
  return com::S_OK;
}

// A received list of numbers as an array for a COM call.
template <class T, class Reader>
std::vector<T> VectorFromWire(Reader list) {
  std::vector<T> values(list.size());
  for (unsigned i = 0; i < list.size(); ++i) values[i] = static_cast<T>(list[i]);
  return values;
}

// --- Lists of strings and VARIANTs (`count` entries each) -----------------------
void TextsToWire(const com::LPWSTR* texts, capnp::List<wire::OptionalText>::Builder out);
com::HRESULT TextsFromWire(capnp::List<wire::OptionalText>::Reader list, std::size_t count,
                           com::LPWSTR** out);
com::HRESULT VariantsToWire(const com::VARIANT* values, capnp::List<wire::Variant>::Builder out);
com::HRESULT VariantsFromWire(capnp::List<wire::Variant>::Reader list, std::size_t count,
                              com::VARIANT** out);

// --- OPC structures --------------------------------------------------------------
com::HRESULT StatusToWire(const com::OPCSERVERSTATUS& status, wire::ServerStatus::Builder out);
com::HRESULT StatusFromWire(wire::ServerStatus::Reader in, com::OPCSERVERSTATUS** out);

void ItemDefToWire(const com::OPCITEMDEF& def, wire::ItemDef::Builder out);

// Item definitions received by a stub, with the storage their pointers use.
class ItemDefArgs final {
 public:
  // RPC_E_INVALID_DATA when an entry is malformed.
  com::HRESULT Assign(capnp::List<wire::ItemDef>::Reader list);
  com::OPCITEMDEF* data() { return defs_.data(); }
  com::DWORD size() const { return static_cast<com::DWORD>(defs_.size()); }

 private:
  std::vector<com::OPCITEMDEF> defs_;
  std::vector<WideArg> accessPaths_;
  std::vector<WideArg> itemIds_;
};

void ItemResultToWire(const com::OPCITEMRESULT& result, wire::ItemResult::Builder out);
com::HRESULT ItemResultsFromWire(capnp::List<wire::ItemResult>::Reader list, std::size_t count,
                                 com::OPCITEMRESULT** out);
com::HRESULT ItemStateToWire(const com::OPCITEMSTATE& state, wire::ItemState::Builder out);
com::HRESULT ItemStatesFromWire(capnp::List<wire::ItemState>::Reader list, std::size_t count,
                                com::OPCITEMSTATE** out);
com::HRESULT AttributesToWire(const com::OPCITEMATTRIBUTES& item,
                              wire::ItemAttributes::Builder out);
// One task-allocator block of list.size() records (null for none).
com::HRESULT AttributesFromWire(capnp::List<wire::ItemAttributes>::Reader list,
                                com::OPCITEMATTRIBUTES** out);

}  // namespace tagwell::rpc
