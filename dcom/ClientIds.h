// The identifiers the client runtime calls by. dcom/Iids.h holds the same
// for the server side but cannot be included beside the transport's
// dcom/rpc/Pdu.h (both define the fault codes), so the client keeps its
// own copies until the two headers are reconciled.
#pragma once

#include "platform/com/Types.h"

namespace tagwell::dcom::client {

constexpr com::GUID ComGuid(std::uint32_t d1) {
  return {d1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

inline constexpr com::IID IID_IObjectExporter = {
    0x99FCFEC4, 0x5260, 0x101B, {0xBB, 0xCB, 0x00, 0xAA, 0x00, 0x21, 0x34, 0x7A}};
inline constexpr com::IID IID_IRemoteSCMActivator = ComGuid(0x000001A0);
inline constexpr com::IID IID_IActivationPropertiesIn = ComGuid(0x000001A2);
inline constexpr com::CLSID CLSID_ActivationPropertiesIn = ComGuid(0x00000338);
inline constexpr com::IID IID_IRemUnknown2 = ComGuid(0x00000143);
inline constexpr com::IID IID_IEnumGUID = ComGuid(0x0002E000);

// The OPC server browser (OPCEnum) and the category of DA 2.0 servers.
inline constexpr com::CLSID CLSID_OpcServerList = {
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr com::IID IID_IOPCServerList = {
    0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr com::GUID CATID_OPCDAServer20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

// Fault statuses beyond the transport's (dcom/rpc/Pdu.h).
inline constexpr std::uint32_t kFaultBadStubData = 0x000006F7;   // RPC_X_BAD_STUB_DATA
inline constexpr std::uint32_t kFaultDisconnected = 0x80010108;  // RPC_E_DISCONNECTED

}  // namespace tagwell::dcom::client
