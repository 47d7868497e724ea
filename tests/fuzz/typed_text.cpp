// Texts that become values: what an operator types into Write Item or the
// cycle box, and a text a client writes to an item of another type (the
// server converts it). The first byte picks the item's type.
#include <string>

#include "session/ReadCycle.h"
#include "opc/Writing.h"
#include "platform/com/Variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr com::VARTYPE kTypes[] = {
      com::VT_I1, com::VT_I2,  com::VT_I4, com::VT_I8,   com::VT_UI1,  com::VT_UI2, com::VT_UI4,
      com::VT_UI8, com::VT_R4, com::VT_R8, com::VT_BOOL, com::VT_DATE, com::VT_BSTR};
  if (size < 1) return 0;
  const com::VARTYPE vt = kTypes[data[0] % std::size(kTypes)];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  com::Variant typed;
  tagwell::WriteValueFromText(text.c_str(), vt, typed.get());
  tagwell::CycleSeconds(text);

  com::Variant written;
  written->vt = com::VT_BSTR;
  written->bstrVal = com::SysAllocStringUtf8(text);
  com::Variant converted;
  com::VariantChangeType(converted.get(), written.get(), 0, vt);
  return 0;
}
