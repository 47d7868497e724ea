// The OLE Automation types as they travel over DCOM: BSTR (a unique pointer
// to a FLAGGED_WORD_BLOB), VARIANT (a unique pointer to a _wireVARIANT with
// its clSize and rpcReserved and a union switched on vt), one-dimensional
// SAFEARRAYs (a unique pointer to a _wireSAFEARRAY) and FILETIME.
//
// A VARIANT embedded in a structure or an array is its pointer there and its
// body among the deferred pointees; the functions come in pairs for that.
#pragma once

#include <string>

#include "dcom/Ndr.h"
#include "platform/com/Time.h"
#include "platform/com/Variant.h"

namespace tagwell::dcom {

// Whether a value of this type can cross the wire: the scalars the
// platform knows, VT_BSTR, and one-dimensional arrays of them.
bool WireVariantType(com::VARTYPE vt);

// --- BSTR ------------------------------------------------------------------
// The pointer and, when not null, the blob right after it (top level).
void WriteBstr(NdrWriter& w, com::BSTR text);
// The blob of a non-null wireBSTR.
void WriteBstrBlob(NdrWriter& w, std::u16string_view text);
// The blob of a non-null wireBSTR (its pointer already read).
std::u16string ReadBstrBlob(NdrReader& r);

// --- VARIANT ----------------------------------------------------------------
// The body of a wireVARIANT, with the pointees of its own pointers (a BSTR,
// an array) right after it. DISP_E_BADVARTYPE for a type WireVariantType
// refuses; nothing is written then.
com::HRESULT WriteVariantBody(NdrWriter& w, const com::VARIANT& v);
// The pointer and the body, where a VARIANT is not deferred (an array of
// VARIANTs writes all pointers first and the bodies after).
com::HRESULT WriteVariant(NdrWriter& w, const com::VARIANT& v);
// Reads a body into *out (VariantInit'ed by the caller, owned by it after);
// on failure the reader fails and *out is left VT_EMPTY.
void ReadVariantBody(NdrReader& r, com::VARIANT* out);
// A non-null pointer, then the body.
void ReadVariant(NdrReader& r, com::VARIANT* out);

// --- FILETIME ---------------------------------------------------------------
inline void WriteFiletime(NdrWriter& w, const com::FILETIME& t) {
  w.U32(t.dwLowDateTime);
  w.U32(t.dwHighDateTime);
}
inline com::FILETIME ReadFiletime(NdrReader& r) {
  com::FILETIME t{};
  t.dwLowDateTime = r.U32();
  t.dwHighDateTime = r.U32();
  return t;
}

// --- Interface pointers ---------------------------------------------------------
// An MInterfacePointer pointee: its conformant byte count and the OBJREF.
void WriteInterfacePointer(NdrWriter& w, const std::vector<std::uint8_t>& objref);
std::vector<std::uint8_t> ReadInterfacePointer(NdrReader& r);

}  // namespace tagwell::dcom
