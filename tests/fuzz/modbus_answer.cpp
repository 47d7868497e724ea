// What a Modbus device answers: the registers (or bits) of a point as the
// server decodes them into the item's value, and that value written back
// the way a client's write of it is encoded. The point is made from the
// first bytes and must pass the check the address-space loader makes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "server/ModbusPoint.h"

using namespace tagwell::server;

namespace {

template <typename T>
bool Take(const std::uint8_t*& data, std::size_t& size, T* out) {
  if (size < sizeof(T)) return false;
  std::memcpy(out, data, sizeof(T));
  data += sizeof(T);
  size -= sizeof(T);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t shape = 0;
  std::uint8_t length = 0;
  double eu[2] = {};
  ModbusPoint point;
  if (!Take(data, size, &shape) || !Take(data, size, &length) || !Take(data, size, &point.address))
    return 0;
  point.kind = static_cast<RegisterKind>(shape & 3);
  point.encoding = static_cast<Encoding>((shape >> 2) % 8);
  point.lowWordFirst = shape & 0x20;
  point.stringLength = length;
  if (shape & 0x40) {
    Scaling scaling;
    if (!Take(data, size, &scaling.rawLow) || !Take(data, size, &scaling.rawHigh)) return 0;
    point.scaling = scaling;
  }
  if (!Take(data, size, &eu[0]) || !Take(data, size, &eu[1]) || !(eu[0] < eu[1])) return 0;
  if (!CheckPoint(point).empty()) return 0;

  // The device's words; a short answer is padded the way a read buffer is.
  std::vector<std::uint16_t> words(PointWidth(point), 0);
  std::memcpy(words.data(), data, std::min(size, words.size() * sizeof(std::uint16_t)));
  const com::Variant value = DecodePoint(point, words.data(), eu[0], eu[1]);
  std::vector<std::uint16_t> written;
  EncodePoint(point, *value.get(), eu[0], eu[1], &written);
  return 0;
}
