// The activation properties blob of remote activation: what a client asks
// for (ActivationPropertiesIn) and what the server answers
// (ActivationPropertiesOut), each property in NDR type serialization
// version 1.
#pragma once

#include <optional>
#include <vector>

#include "dcom/Orpc.h"

namespace tagwell::dcom {

struct ActivationRequest {
  com::CLSID clsid{};
  std::vector<com::IID> iids;
  std::uint32_t classContext = 0;
};

// Reads the blob of an ActivationPropertiesIn custom OBJREF. nullopt when
// the blob is malformed or lacks the instantiation information.
std::optional<ActivationRequest> ReadActivationProperties(std::span<const std::uint8_t> blob);

struct ActivationReply {
  std::vector<com::IID> iids;
  std::vector<com::HRESULT> results;
  std::vector<std::vector<std::uint8_t>> objrefs;  // empty where the result failed
  OXID oxid = 0;
  Bindings bindings;
  IPID remUnknown{};
  std::uint32_t authnHint = 0;
};

// The blob of the ActivationPropertiesOut: PropsOutInfo, then ScmReplyInfo.
std::vector<std::uint8_t> WriteActivationReply(const ActivationReply& reply);

// A client's side: the blob it sends (InstantiationInfo and ScmRequestInfo
// asking for ncacn_ip_tcp) and the answer it reads.
std::vector<std::uint8_t> WriteActivationRequest(const ActivationRequest& request);
std::optional<ActivationReply> ReadActivationReply(std::span<const std::uint8_t> blob);

// Type serialization version 1: the 16-byte header before a property.
void BeginSerialized(NdrWriter& w);
// Patches the object buffer length and pads to 8 bytes.
void EndSerialized(NdrWriter& w);
// Checks the header; the reader is then at the property's data.
bool ReadSerializedHeader(NdrReader& r);

}  // namespace tagwell::dcom
