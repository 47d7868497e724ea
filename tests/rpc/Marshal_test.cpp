// Values on the wire: every VARIANT the platform can hold crosses unchanged,
// what cannot travel is refused, and malformed messages are rejected
// without leaking what was already decoded.
#include "rpc/Marshal.h"

#include <capnp/message.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace tagwell::rpc {
namespace {

using namespace com;

class MarshalTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = TaskMemOutstanding(); }
  void TearDown() override { EXPECT_EQ(TaskMemOutstanding(), baseline_) << "task memory leaked"; }

  // Sends value through a message and back.
  HRESULT RoundTrip(const VARIANT& value, Variant* out) {
    capnp::MallocMessageBuilder message;
    auto wire = message.initRoot<wire::Variant>();
    HRESULT hr = VariantToWire(value, wire);
    if (FAILED(hr)) return hr;
    return VariantFromWire(wire.asReader(), out->get());
  }

  std::size_t baseline_ = 0;
};

TEST_F(MarshalTest, EveryScalarTypeKeepsItsTypeAndBits) {
  struct Case {
    VARTYPE vt;
    std::int64_t bits;
  };
  const Case cases[] = {
      {VT_I1, -128},
      {VT_I2, -32768},
      {VT_I4, std::numeric_limits<std::int32_t>::min()},
      {VT_I8, std::numeric_limits<std::int64_t>::min()},
      {VT_INT, -7},
      {VT_UI1, 0xFF},
      {VT_UI2, 0xFFFF},
      {VT_UI4, 0xFFFFFFFFll},
      {VT_UI8, -1},  // all bits set
      {VT_UINT, 0x80000000ll},
      {VT_BOOL, VARIANT_TRUE},
      {VT_ERROR, static_cast<std::int32_t>(0x80004005)},
      {VT_CY, 123456789012345ll},
  };
  for (const Case& c : cases) {
    Variant in;
    in->vt = c.vt;
    std::memcpy(&in->llVal, &c.bits, PlainSize(c.vt));
    Variant out;
    ASSERT_EQ(RoundTrip(*in.get(), &out), S_OK) << "vt " << c.vt;
    EXPECT_EQ(out->vt, c.vt);
    EXPECT_EQ(std::memcmp(&out->llVal, &in->llVal, PlainSize(c.vt)), 0) << "vt " << c.vt;
  }
}

TEST_F(MarshalTest, FloatingValuesKeepTheirBitsIncludingNanPayloadsAndSignedZero) {
  Variant r4;
  r4->vt = VT_R4;
  r4->fltVal = -0.0f;
  Variant r8;
  r8->vt = VT_R8;
  std::uint64_t nanBits = 0x7FF4000000000123ull;
  std::memcpy(&r8->dblVal, &nanBits, sizeof nanBits);
  Variant date;
  date->vt = VT_DATE;
  date->date = 40334.29733;

  for (Variant* in : {&r4, &r8, &date}) {
    Variant out;
    ASSERT_EQ(RoundTrip(*in->get(), &out), S_OK);
    EXPECT_EQ(out->vt, (*in)->vt);
    EXPECT_EQ(std::memcmp(&out->llVal, &(*in)->llVal, PlainSize((*in)->vt)), 0);
  }
}

TEST_F(MarshalTest, EmptyAndNullStayDistinct) {
  for (VARTYPE vt : {VT_EMPTY, VT_NULL}) {
    Variant in;
    in->vt = vt;
    Variant out;
    ASSERT_EQ(RoundTrip(*in.get(), &out), S_OK);
    EXPECT_EQ(out->vt, vt);
  }
}

TEST_F(MarshalTest, StringsKeepEmbeddedZerosSurrogatesAndNull) {
  const char16_t units[] = {u'A', 0, u'\xD83D', u'\xDE00', u'\xDC00', u'z'};  // lone low surrogate
  Variant text;
  text->vt = VT_BSTR;
  text->bstrVal = SysAllocStringLen(units, 6);
  Variant out;
  ASSERT_EQ(RoundTrip(*text.get(), &out), S_OK);
  ASSERT_EQ(out->vt, VT_BSTR);
  ASSERT_EQ(SysStringLen(out->bstrVal), 6u);
  EXPECT_EQ(std::memcmp(out->bstrVal, units, sizeof units), 0);

  Variant empty;
  empty->vt = VT_BSTR;
  empty->bstrVal = SysAllocString(u"");
  Variant emptyOut;
  ASSERT_EQ(RoundTrip(*empty.get(), &emptyOut), S_OK);
  ASSERT_NE(emptyOut->bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(emptyOut->bstrVal), 0u);

  Variant null;
  null->vt = VT_BSTR;
  null->bstrVal = nullptr;
  Variant nullOut;
  ASSERT_EQ(RoundTrip(*null.get(), &nullOut), S_OK);
  EXPECT_EQ(nullOut->vt, VT_BSTR);
  EXPECT_EQ(nullOut->bstrVal, nullptr);
}

TEST_F(MarshalTest, ArraysKeepBoundsElementsAndNullStrings) {
  Variant numbers;
  numbers->vt = VT_ARRAY | VT_R8;
  numbers->parray = SafeArrayCreateVector(VT_R8, -3, 3);
  double* values = static_cast<double*>(numbers->parray->pvData);
  values[0] = -1.5;
  values[1] = 0.0;
  values[2] = 1e300;
  Variant out;
  ASSERT_EQ(RoundTrip(*numbers.get(), &out), S_OK);
  ASSERT_EQ(out->vt, VT_ARRAY | VT_R8);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(out->parray, 1, &lower);
  SafeArrayGetUBound(out->parray, 1, &upper);
  EXPECT_EQ(lower, -3);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(std::memcmp(out->parray->pvData, values, 3 * sizeof(double)), 0);

  Variant bytes;
  bytes->vt = VT_ARRAY | VT_UI1;
  bytes->parray = SafeArrayCreateVector(VT_UI1, 0, 0);
  Variant bytesOut;
  ASSERT_EQ(RoundTrip(*bytes.get(), &bytesOut), S_OK);
  ASSERT_NE(bytesOut->parray, nullptr);
  EXPECT_EQ(bytesOut->parray->rgsabound[0].cElements, 0u);

  Variant texts;
  texts->vt = VT_ARRAY | VT_BSTR;
  texts->parray = SafeArrayCreateVector(VT_BSTR, 1, 2);
  static_cast<BSTR*>(texts->parray->pvData)[0] = SysAllocString(u"open");
  Variant textsOut;
  ASSERT_EQ(RoundTrip(*texts.get(), &textsOut), S_OK);
  auto* strings = static_cast<BSTR*>(textsOut->parray->pvData);
  EXPECT_EQ(BstrView(strings[0]), u"open");
  EXPECT_EQ(strings[1], nullptr);

  Variant nullArray;
  nullArray->vt = VT_ARRAY | VT_I4;
  Variant nullArrayOut;
  ASSERT_EQ(RoundTrip(*nullArray.get(), &nullArrayOut), S_OK);
  EXPECT_EQ(nullArrayOut->vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(nullArrayOut->parray, nullptr);
}

TEST_F(MarshalTest, ValuesThatCannotTravelAreRefused) {
  LONG target = 5;
  for (VARTYPE vt : {VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_UNKNOWN), VARTYPE(VT_DISPATCH),
                     VARTYPE(VT_ARRAY | VT_VARIANT), VARTYPE(0x0FFF)}) {
    VARIANT in;
    VariantInit(&in);
    in.vt = vt;
    in.pvarVal = reinterpret_cast<VARIANT*>(&target);
    Variant out;
    EXPECT_EQ(RoundTrip(in, &out), DISP_E_BADVARTYPE) << "vt " << vt;
    EXPECT_EQ(out->vt, VT_EMPTY);
  }
}

TEST_F(MarshalTest, MalformedVariantsAreRejectedAndLeaveTheTargetEmpty) {
  capnp::MallocMessageBuilder message;
  auto wire = message.initRoot<wire::Variant>();
  auto expectRejected = [&](const char* what) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantFromWire(wire.asReader(), &out), RPC_E_INVALID_DATA) << what;
    EXPECT_EQ(out.vt, VT_EMPTY) << what;
  };
  wire.setVt(VT_I2);
  wire.getValue().setSigned(70000);
  expectRejected("an I2 out of range");
  wire.setVt(VT_UI1);
  wire.getValue().setUnsigned(256);
  expectRejected("a UI1 out of range");
  wire.setVt(VT_R8);
  wire.getValue().setSigned(1);
  expectRejected("a value in the member of another type");
  wire.setVt(VT_I4);
  wire.getValue().setNone();
  expectRejected("a number without a value");
  const capnp::byte odd[] = {0x41, 0x00, 0x42};
  wire.setVt(VT_BSTR);
  wire.getValue().setBstr(capnp::Data::Reader(odd, 3));
  expectRejected("a string of half a code unit");
  wire.setVt(VT_ARRAY | VT_R8);
  auto array = wire.getValue().initArray();
  array.setElementType(VT_R8);
  array.setElementSize(8);
  array.setData(capnp::Data::Reader(odd, 3));
  expectRejected("array data that is not whole elements");
  array.setElementType(VT_R4);
  array.setData(capnp::Data::Reader(odd, 0));
  expectRejected("array elements of another type than the VARIANT's");
}

TEST_F(MarshalTest, AFailureHalfWayThroughAListFreesWhatWasDecoded) {
  capnp::MallocMessageBuilder listMessage;
  auto list = listMessage.initRoot<capnp::AnyPointer>().initAs<capnp::List<wire::ItemState>>(3);
  for (unsigned i = 0; i < 3; ++i) {
    auto value = list[i].initValue();
    value.setVt(VT_BSTR);
    value.getValue().setBstr(WideToWire(u"a value that is freed again"));
  }
  list[2].getValue().setVt(VT_I2);
  list[2].getValue().getValue().setSigned(1 << 20);  // out of range

  OPCITEMSTATE* out = reinterpret_cast<OPCITEMSTATE*>(0x1);
  EXPECT_EQ(ItemStatesFromWire(list.asReader(), 3, &out), RPC_E_INVALID_DATA);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(ItemStatesFromWire(list.asReader(), 2, &out), RPC_E_INVALID_DATA)
      << "a list of another length than the request's";
}

TEST_F(MarshalTest, AStatusWithAMalformedVendorTextLeavesNoTaskMemory) {
  capnp::MallocMessageBuilder built;
  auto status = built.initRoot<wire::ServerStatus>();
  status.setVendorInfo(WideToWire(u"Tagwell"));
  auto segment = built.getSegmentsForOutput()[0];
  std::vector<capnp::word> words(segment.begin(), segment.end());
  // The root's one pointer (after its data words) points far outside the
  // segment, as a hostile server may send it.
  std::uint64_t root = 0;
  std::memcpy(&root, words.data(), sizeof root);
  const std::size_t pointer = 1 + ((root >> 2) & 0x3FFFFFFF) + ((root >> 32) & 0xFFFF);
  const std::uint64_t outside = 1 | (std::uint64_t{0x1000000} << 2) | (std::uint64_t{2} << 32) |
                                (std::uint64_t{64} << 35);
  std::memcpy(static_cast<void*>(&words[pointer]), &outside, sizeof outside);
  kj::ArrayPtr<const capnp::word> segments[] = {kj::arrayPtr(words.data(), words.size())};
  capnp::SegmentArrayMessageReader reader(segments);

  OPCSERVERSTATUS* out = nullptr;
  try {
    EXPECT_TRUE(FAILED(StatusFromWire(reader.getRoot<wire::ServerStatus>(), &out)));
  } catch (const kj::Exception&) {
    // The proxy takes a reader's throw as a failed decode.
  }
  EXPECT_EQ(out, nullptr);
}

TEST(MarshalItemDefs, AListOfEntriesThatTakeNoRoomIsRefused) {
  // A root struct whose one pointer is a list of a million empty structs:
  // three words in all.
  const std::uint64_t raw[] = {std::uint64_t{1} << 48,          // root: 0 data words, 1 pointer
                               1 | (std::uint64_t{7} << 32),    // list of structs, 0 words
                               std::uint64_t{1'000'000} << 2};  // tag: 1e6 entries of 0 words
  capnp::word message[3];
  std::memcpy(message, raw, sizeof raw);
  kj::ArrayPtr<const capnp::word> segments[] = {kj::arrayPtr(message, 3)};
  capnp::SegmentArrayMessageReader reader(segments);
  auto items = reader.getRoot<wire::OpcItemMgt::AddItemsParams>().getItems();
  ASSERT_EQ(items.size(), 1'000'000u);
  ItemDefArgs args;
  EXPECT_EQ(args.Assign(items), RPC_E_INVALID_DATA);

  capnp::MallocMessageBuilder real;
  auto defs = real.initRoot<wire::OpcItemMgt::AddItemsParams>().initItems(2);
  defs[0].setItemId(WideToWire(u"Line1.Count"));
  ASSERT_EQ(args.Assign(defs.asReader()), S_OK) << "entries without an item ID still travel";
  EXPECT_EQ(args.size(), 2u);
  EXPECT_EQ(args.data()[1].szItemID, nullptr);
}

TEST(MarshalGuid, GuidsAndFileTimesCrossExactly) {
  const GUID guid = {0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};
  capnp::MallocMessageBuilder message;
  auto wire = message.initRoot<wire::Guid>();
  GuidToWire(guid, wire);
  EXPECT_EQ(GuidFromWire(wire.asReader()), guid);

  const FILETIME time = {0xFFFFFFFF, 0x01CB0000};
  FILETIME back = FileTimeFromWire(FileTimeToWire(time));
  EXPECT_EQ(back.dwLowDateTime, time.dwLowDateTime);
  EXPECT_EQ(back.dwHighDateTime, time.dwHighDateTime);
}

}  // namespace
}  // namespace tagwell::rpc
