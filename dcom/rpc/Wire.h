// Little-endian reading and writing of outside bytes. The reader never reads
// past its span: a read beyond the end yields zeros and marks it failed, so a
// parser checks ok() once at the end of a structure instead of after each
// field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/com/Types.h"

namespace tagwell::dcom {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class ByteReader {
 public:
  explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  std::size_t offset() const { return offset_; }
  std::size_t remaining() const { return ok_ ? bytes_.size() - offset_ : 0; }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Little(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Little(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Little(4)); }
  std::uint64_t U64() { return Little(8); }
  // The next count bytes (empty and failed when fewer remain).
  ByteView Take(std::size_t count) {
    if (!Have(count)) return {};
    ByteView part = bytes_.subspan(offset_, count);
    offset_ += count;
    return part;
  }
  void Skip(std::size_t count) { Take(count); }
  // Skips to the next multiple of alignment, counted from the span's start.
  void Align(std::size_t alignment) {
    std::size_t pad = (alignment - offset_ % alignment) % alignment;
    Skip(pad);
  }
  com::GUID Guid() {
    com::GUID guid{};
    guid.Data1 = U32();
    guid.Data2 = U16();
    guid.Data3 = U16();
    ByteView tail = Take(8);
    for (std::size_t i = 0; i < tail.size(); ++i) guid.Data4[i] = tail[i];
    return guid;
  }
  void Fail() { ok_ = false; }

 private:
  bool Have(std::size_t count) {
    if (!ok_ || count > bytes_.size() - offset_) ok_ = false;
    return ok_;
  }
  std::uint64_t Little(std::size_t count) {
    if (!Have(count)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
      value |= static_cast<std::uint64_t>(bytes_[offset_ + i]) << (8 * i);
    offset_ += count;
    return value;
  }

  ByteView bytes_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(Bytes start) : bytes_(std::move(start)) {}

  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void U16(std::uint16_t value) { Little(value, 2); }
  void U32(std::uint32_t value) { Little(value, 4); }
  void U64(std::uint64_t value) { Little(value, 8); }
  void Put(ByteView bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
  void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void Align(std::size_t alignment) { Zeros((alignment - bytes_.size() % alignment) % alignment); }
  void Guid(const com::GUID& guid) {
    U32(guid.Data1);
    U16(guid.Data2);
    U16(guid.Data3);
    Put(ByteView(guid.Data4, 8));
  }
  void Set16(std::size_t at, std::uint16_t value) {
    bytes_[at] = static_cast<std::uint8_t>(value);
    bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  void Set32(std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  std::size_t size() const { return bytes_.size(); }
  Bytes& bytes() { return bytes_; }
  Bytes Take() { return std::move(bytes_); }

 private:
  void Little(std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }

  Bytes bytes_;
};

}  // namespace tagwell::dcom
