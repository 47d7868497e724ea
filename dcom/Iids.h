// The interface and class identifiers of the DCOM runtime and the OPC
// interfaces it serves beyond those the platform declares.
#pragma once

#include "dcom/rpc/Pdu.h"
#include "platform/com/Types.h"

namespace tagwell::dcom {

namespace detail {
constexpr com::GUID ComGuid(std::uint32_t d1) {
  return {d1, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}
}  // namespace detail

// DCOM's own interfaces.
inline constexpr com::IID IID_IObjectExporter = {
    0x99FCFEC4, 0x5260, 0x101B, {0xBB, 0xCB, 0x00, 0xAA, 0x00, 0x21, 0x34, 0x7A}};
inline constexpr com::IID IID_IRemoteSCMActivator = detail::ComGuid(0x000001A0);
inline constexpr com::IID IID_IActivationPropertiesIn = detail::ComGuid(0x000001A2);
inline constexpr com::IID IID_IActivationPropertiesOut = detail::ComGuid(0x000001A3);
inline constexpr com::IID IID_IRemUnknown = detail::ComGuid(0x00000131);
inline constexpr com::IID IID_IRemUnknown2 = detail::ComGuid(0x00000143);

// The activation properties.
inline constexpr com::CLSID CLSID_ActivationPropertiesIn = detail::ComGuid(0x00000338);
inline constexpr com::CLSID CLSID_ActivationPropertiesOut = detail::ComGuid(0x00000339);
inline constexpr com::CLSID CLSID_PropsOutInfo = detail::ComGuid(0x00000339);
inline constexpr com::CLSID CLSID_InstantiationInfo = detail::ComGuid(0x000001AB);
inline constexpr com::CLSID CLSID_ActivationContextInfo = detail::ComGuid(0x000001A5);
inline constexpr com::CLSID CLSID_ServerLocationInfo = detail::ComGuid(0x000001A4);
inline constexpr com::CLSID CLSID_ScmRequestInfo = detail::ComGuid(0x000001AA);
inline constexpr com::CLSID CLSID_ScmReplyInfo = detail::ComGuid(0x000001B6);
inline constexpr com::CLSID CLSID_SecurityInfo = detail::ComGuid(0x000001A6);
inline constexpr com::CLSID CLSID_SpecialSystemProperties = detail::ComGuid(0x000001B9);
inline constexpr com::CLSID CLSID_InstanceInfo = detail::ComGuid(0x000001AD);

// OPC interfaces the platform does not declare, answered by the DCOM layer.
inline constexpr com::IID IID_IOPCCommon = {
    0xF31DFDE2, 0x07B6, 0x11D2, {0xB2, 0xD8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};
inline constexpr com::IID IID_IOPCGroupStateMgt = {
    0x39C13A50, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

// The OPC server browser.
inline constexpr com::CLSID CLSID_OpcServerList = {
    0x13486D51, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr com::IID IID_IOPCServerList = {
    0x13486D50, 0x4821, 0x11D2, {0xA4, 0x94, 0x3C, 0xB3, 0x06, 0xC1, 0x00, 0x00}};
inline constexpr com::IID IID_IOPCServerList2 = {
    0x9DD0B56C, 0xAD9E, 0x43EE, {0x83, 0x05, 0x48, 0x7F, 0x31, 0x88, 0xBF, 0x7A}};
inline constexpr com::IID IID_IOPCEnumGUID = {
    0x55C382C8, 0x21C7, 0x4E88, {0x96, 0xC1, 0xBE, 0xCF, 0xB1, 0xE3, 0xF4, 0x83}};
inline constexpr com::IID IID_IEnumGUID = {
    0x0002E000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The category of OPC Data Access 2.0 servers.
inline constexpr com::GUID CATID_OPCDAServer20 = {
    0x63D5F432, 0xCFE4, 0x11D1, {0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB}};

// Fault statuses (as the fault PDU carries them; the transport's Pdu.h has
// access denied and nca_s_unk_if) and resolver results.
inline constexpr std::uint32_t kFaultBadStubData = 0x000006F7;      // RPC_X_BAD_STUB_DATA
inline constexpr std::uint32_t kFaultOpRange = kFaultOpRangeError;  // nca_s_op_rng_error
inline constexpr std::uint32_t kFaultDisconnected = 0x80010108;     // RPC_E_DISCONNECTED
inline constexpr std::uint32_t OR_INVALID_OXID = 1910;
inline constexpr std::uint32_t OR_INVALID_SET = 1912;

}  // namespace tagwell::dcom
