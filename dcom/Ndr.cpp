#include "dcom/Ndr.h"

namespace tagwell::dcom {

// --- NdrReader ---------------------------------------------------------------
bool NdrReader::Take(std::size_t n) {
  if (!ok_ || data_.size() - pos_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}

void NdrReader::Align(std::size_t n) {
  std::size_t pad = (n - pos_ % n) % n;
  if (!ok_) return;
  // Trailing alignment at the very end of the input is not an error: the
  // next read will fail if anything was expected.
  pos_ = std::min(pos_ + pad, data_.size());
}

bool NdrReader::Bytes(void* out, std::size_t n) {
  if (!Take(n)) return false;
  if (n) std::memcpy(out, data_.data() + pos_, n);
  pos_ += n;
  return true;
}

void NdrReader::Skip(std::size_t n) {
  if (Take(n)) pos_ += n;
}

std::uint8_t NdrReader::U8() {
  std::uint8_t v = 0;
  Bytes(&v, 1);
  return v;
}

std::uint16_t NdrReader::U16() {
  Align(2);
  std::uint8_t b[2] = {};
  if (!Bytes(b, 2)) return 0;
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}

std::uint32_t NdrReader::U32() {
  Align(4);
  std::uint8_t b[4] = {};
  if (!Bytes(b, 4)) return 0;
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
         std::uint32_t(b[3]) << 24;
}

std::uint64_t NdrReader::U64() {
  Align(8);
  std::uint64_t lo = U32();
  std::uint64_t hi = U32();
  return ok_ ? lo | hi << 32 : 0;
}

float NdrReader::F32() {
  std::uint32_t bits = U32();
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

double NdrReader::F64() {
  std::uint64_t bits = U64();
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

com::GUID NdrReader::Guid() {
  com::GUID g{};
  g.Data1 = U32();
  g.Data2 = U16();
  g.Data3 = U16();
  if (!Bytes(g.Data4, 8)) return com::GUID_NULL;
  return g;
}

bool NdrReader::FullPointerIsNew(std::uint32_t id) {
  if (id == 0) return false;
  return fullPointers_.emplace(id, true).second;
}

std::uint32_t NdrReader::Conformance(std::size_t elementSize) {
  std::uint32_t n = U32();
  if (!ok_) return 0;
  if (n > kMaxNdrElements || (elementSize && n > remaining() / elementSize)) {
    Fail();
    return 0;
  }
  return n;
}

std::uint32_t NdrReader::Variance(std::uint32_t max) {
  std::uint32_t offset = U32();
  std::uint32_t actual = U32();
  if (!ok_ || offset != 0 || actual > max) {
    Fail();
    return 0;
  }
  return actual;
}

std::u16string NdrReader::WideString() {
  std::uint32_t max = Conformance(0);
  std::uint32_t actual = Variance(max);
  if (!ok_ || actual == 0 || actual > remaining() / 2) {
    Fail();
    return {};
  }
  std::u16string text(actual, u'\0');
  for (auto& c : text) c = static_cast<char16_t>(U16());
  if (!ok_ || text.back() != u'\0') {
    Fail();
    return {};
  }
  text.pop_back();
  // An embedded zero ends the string as the receiving side sees it.
  if (auto zero = text.find(u'\0'); zero != std::u16string::npos) text.resize(zero);
  return text;
}

// --- NdrWriter ---------------------------------------------------------------
void NdrWriter::Align(std::size_t n) {
  while (out_.size() % n) out_.push_back(0);
}

void NdrWriter::Raw(const void* p, std::size_t n) {
  auto bytes = static_cast<const std::uint8_t*>(p);
  out_.insert(out_.end(), bytes, bytes + n);
}

void NdrWriter::U16(std::uint16_t v) {
  Align(2);
  std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
  Raw(b, 2);
}

void NdrWriter::U32(std::uint32_t v) {
  Align(4);
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  Raw(b, 4);
}

void NdrWriter::U64(std::uint64_t v) {
  Align(8);
  U32(static_cast<std::uint32_t>(v));
  U32(static_cast<std::uint32_t>(v >> 32));
}

void NdrWriter::F32(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  U32(bits);
}

void NdrWriter::F64(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, 8);
  U64(bits);
}

void NdrWriter::Guid(const com::GUID& g) {
  U32(g.Data1);
  U16(g.Data2);
  U16(g.Data3);
  Raw(g.Data4, 8);
}

bool NdrWriter::Pointer(bool nonNull) {
  if (!nonNull) {
    U32(0);
    return false;
  }
  U32(nextReferent_);
  nextReferent_ += 4;
  return true;
}

void NdrWriter::WideString(std::u16string_view text) {
  auto n = static_cast<std::uint32_t>(text.size() + 1);
  U32(n);
  U32(0);
  U32(n);
  for (char16_t c : text) U16(static_cast<std::uint16_t>(c));
  U16(0);
}

void NdrWriter::PatchU32(std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace tagwell::dcom
