// TCP sockets for the transport: listening, connecting with a deadline,
// sending whole buffers and reading whole PDUs with timeouts.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "dcom/rpc/Wire.h"

namespace tagwell::dcom {

using Clock = std::chrono::steady_clock;

// A listening IPv4 socket on address:port (port 0: one the system picks);
// -1 with the reason in *error.
int ListenTcp(const std::string& address, std::uint16_t port, std::string* error);
std::uint16_t LocalPort(int fd);
// "ADDRESS:PORT" of the peer ("unknown" when it has none).
std::string PeerName(int fd);
// The ADDRESS part of a PeerName.
std::string PeerHost(const std::string& peer);

// A connected socket to host:port (IPv4) before deadline; -1 with the
// reason in *error.
int ConnectTcp(const std::string& host, std::uint16_t port, Clock::time_point deadline,
               std::string* error);

// Sends all of bytes before deadline.
bool SendAll(int fd, ByteView bytes, Clock::time_point deadline);

enum class ReadOutcome { Pdu, Closed, Timeout, Malformed };
// Reads one whole PDU: its first byte must come before firstByte, the rest
// before firstByte's arrival + rest. Malformed: a header no PDU has.
ReadOutcome ReadPdu(int fd, Bytes* pdu, Clock::time_point firstByte,
                    std::chrono::milliseconds rest);

}  // namespace tagwell::dcom
