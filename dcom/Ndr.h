// NDR 2.0 (little-endian, as DCE/RPC carries it): a reader of outside data
// and a writer.
//
// The reader never reads past the end and never allocates more than the
// input could hold: every count is checked against the bytes left before
// anything is sized from it. A failure is sticky: after the first one every
// read gives zero, ok() is false, and the caller answers "bad stub data".
//
// Deferred pointees (the referents of pointers embedded in structures and
// arrays) are the caller's to order: NDR writes them after the construct
// that holds the pointers, each followed by its own deferred pointees.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/com/Types.h"

namespace tagwell::dcom {

// The most elements one conformant array of the wire may announce, whatever
// bytes follow: bounds what one request can make the server hold.
inline constexpr std::uint32_t kMaxNdrElements = 1u << 20;

class NdrReader {
 public:
  explicit NdrReader(std::span<const std::uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  // The whole input was consumed (trailing padding to 8 bytes allowed).
  bool AtEnd() const { return ok_ && data_.size() - pos_ < 8; }

  void Align(std::size_t n);
  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  std::uint64_t U64();
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  float F32();
  double F64();
  com::GUID Guid();
  // n raw bytes (no alignment); false and nothing copied when short.
  bool Bytes(void* out, std::size_t n);
  void Skip(std::size_t n);

  // A unique or full pointer's referent id; 0 is null.
  std::uint32_t Pointer() { return U32(); }
  // A full pointer: whether the referent id is new (its pointee follows).
  // A repeated id refers to the pointee already read.
  bool FullPointerIsNew(std::uint32_t id);

  // The max count of a conformant array whose elements take at least
  // elementSize bytes each: fails when the rest of the input cannot hold
  // that many (or more than kMaxNdrElements).
  std::uint32_t Conformance(std::size_t elementSize);
  // offset and actual count of a varying array with the given max count:
  // the offset must be 0 and actual <= max.
  std::uint32_t Variance(std::uint32_t max);
  // A [string] wchar_t* pointee: max count, offset, actual count and the
  // characters, ending with one zero that is not returned.
  std::u16string WideString();
  // A conformant array of n-byte little-endian numbers (1, 2, 4 or 8).
  template <class T>
  std::vector<T> Array(std::size_t alignment = sizeof(T)) {
    std::uint32_t n = Conformance(sizeof(T));
    return Elements<T>(n, alignment);
  }
  template <class T>
  std::vector<T> Elements(std::uint32_t n, std::size_t alignment = sizeof(T)) {
    std::vector<T> out;
    if (!ok_ || n > remaining() / sizeof(T)) {
      if (n) Fail();
      return out;
    }
    Align(alignment);
    out.resize(n);
    for (auto& v : out) Bytes(&v, sizeof(T));
    if (!ok_) out.clear();
    return out;
  }

 private:
  bool Take(std::size_t n);

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
  std::unordered_map<std::uint32_t, bool> fullPointers_;
};

class NdrWriter {
 public:
  void Align(std::size_t n);
  void U8(std::uint8_t v) { Raw(&v, 1); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void U64(std::uint64_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void F32(float v);
  void F64(double v);
  void Guid(const com::GUID& g);
  void Raw(const void* p, std::size_t n);

  // A unique pointer: writes a fresh referent id, or 0 when null. Returns
  // nonNull so that callers write the pointee when true.
  bool Pointer(bool nonNull);
  // A [string] wchar_t* pointee (the pointer itself is the caller's).
  void WideString(std::u16string_view text);
  // Max count of a conformant array.
  void Conformance(std::uint32_t n) { U32(n); }
  template <class T>
  void Array(std::span<const T> values, std::size_t alignment = sizeof(T)) {
    U32(static_cast<std::uint32_t>(values.size()));
    Align(alignment);
    for (const T& v : values) Raw(&v, sizeof(T));
  }

  std::size_t size() const { return out_.size(); }
  void PatchU32(std::size_t at, std::uint32_t v);
  const std::vector<std::uint8_t>& bytes() const { return out_; }
  std::vector<std::uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
  std::uint32_t nextReferent_ = 0x00020000;
};

}  // namespace tagwell::dcom
