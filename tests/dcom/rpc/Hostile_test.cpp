// Hostile peers against the server while a good client keeps calling:
// garbage, truncated and lying PDUs, silent peers and a flood of
// connections. Each is closed (with a fault or bind_nak where one is due);
// none disturbs the good client.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "dcom/rpc/Client.h"
#include "tests/dcom/rpc/EchoServer.h"

namespace tagwell::dcom::test {
namespace {

using namespace std::chrono_literals;

Bytes Bind(std::uint16_t maxFragment = kDefaultFragment) {
  BindBody bind;
  bind.maxXmitFrag = bind.maxRecvFrag = maxFragment;
  bind.contexts.push_back({0, EchoInterface(), {Ndr20Syntax()}});
  return WritePdu(PduType::Bind, kPfcFirstFrag | kPfcLastFrag, 1, WriteBindBody(bind));
}

Bytes Request(std::uint32_t callId, std::uint8_t flags, std::size_t stubSize) {
  Bytes body = RequestHeader(0, 0, 0, nullptr);
  body.resize(body.size() + stubSize, 0x5a);
  return WritePdu(PduType::Request, flags, callId, body);
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes With16(Bytes pdu, std::size_t at, std::uint16_t value) {
  pdu[at] = static_cast<std::uint8_t>(value);
  pdu[at + 1] = static_cast<std::uint8_t>(value >> 8);
  return pdu;
}

// Sends bytes on a fresh connection and reads until the server closes it
// (bounded); what the server sent, or "open" when it did not close.
struct Seen {
  bool closed = false;
  Bytes received;
};

Seen Provoke(std::uint16_t port, const Bytes& bytes) {
  Seen seen;
  std::string error;
  int fd = ConnectTcp("127.0.0.1", port, Clock::now() + 5s, &error);
  EXPECT_GE(fd, 0) << error;
  if (fd < 0) return seen;
  SendAll(fd, bytes, Clock::now() + 5s);
  auto deadline = Clock::now() + 5s;
  while (Clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0) continue;
    std::uint8_t buffer[4096];
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      seen.closed = true;
      break;
    }
    seen.received.insert(seen.received.end(), buffer, buffer + got);
  }
  ::close(fd);
  return seen;
}

// The type and (for a fault) status of the last PDU the server sent.
std::string LastAnswer(const Bytes& received) {
  std::string last = "nothing";
  for (std::size_t at = 0; at + kHeaderSize <= received.size();) {
    auto header = ReadHeader(ByteView(received).subspan(at));
    if (!header || at + header->fragLength > received.size()) return "garbled";
    auto parts = SplitPdu(ByteView(received).subspan(at, header->fragLength));
    last = header->type == PduType::Fault ? "fault " + std::to_string(ReadFault(*parts).value_or(0))
           : header->type == PduType::BindNak
               ? "bind_nak " + std::to_string(ReadBindNak(*parts).value_or(0))
           : header->type == PduType::BindAck  ? "bind_ack"
           : header->type == PduType::Response ? "response"
                                               : "other";
    at += header->fragLength;
  }
  return last;
}

TEST(DcerpcHostile, HostilePeersAreClosedWhileAGoodClientKeepsCalling) {
  ServerOptions options;
  options.handshakeTimeout = 300ms;
  options.idleTimeout = 2s;
  options.maxRequestBytes = 64 << 10;
  EchoServer server(options);

  ClientConnection good;
  std::string error;
  ASSERT_TRUE(good.Connect("127.0.0.1", server.port(), 5s, &error)) << error;
  ASSERT_TRUE(good.Bind(
      EchoInterface(),
      ClientAuth{AuthLevel::PacketPrivacy, "operator", "PLANT", "Secret-1", {}, ""}, 5s, &error))
      << error;
  std::atomic<bool> stop{false};
  std::atomic<int> calls{0}, failures{0};
  std::thread caller([&] {
    Bytes stub(3000, 0x11);
    while (!stop) {
      CallResult result = good.Call(0, nullptr, stub, 5s);
      (result.ok && result.stub == stub ? calls : failures)++;
      std::this_thread::sleep_for(5ms);
    }
  });

  Bytes bind = Bind();
  struct Case {
    const char* name;
    Bytes bytes;
    const char* answer;  // the last PDU the server sends before it closes
  };
  const std::string protocolError = "fault " + std::to_string(kFaultProtocolError);
  const Case cases[] = {
      {"garbage",
       Bytes{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n', '\r',
             '\n'},
       "nothing"},
      {"truncated bind", Bytes(bind.begin(), bind.begin() + 40), "nothing"},
      {"bind shorter than its header", With16(bind, 8, 12), "nothing"},
      {"auth_length beyond the PDU", With16(bind, 10, 60000), "nothing"},
      {"auth_length beyond the header", With16(bind, 10, bind.size() - 20), "nothing"},
      {"auth_length inside the bind body", With16(bind, 10, 40), "bind_nak 0"},
      {"bind with tiny fragments", Bind(64), "bind_nak 2"},
      {"request before bind", Request(1, 3, 4), protocolError.c_str()},
      {"second bind", Join({bind, bind}), "bind_nak 0"},
      {"request with frag_length shorter than its body",
       Join({bind, With16(Request(2, 3, 8), 8, 20)}), protocolError.c_str()},
      {"request with a lying auth_length", Join({bind, With16(Request(2, 3, 40), 10, 16)}),
       protocolError.c_str()},
      {"middle fragment without a first", Join({bind, Request(2, 0, 8)}), protocolError.c_str()},
      {"request over the size limit",
       Join({bind, Request(2, kPfcFirstFrag, 60000), Request(2, 0, 60000)}), protocolError.c_str()},
      {"silent", Bytes{}, "nothing"},
      {"silent after bind", Join({bind}), "bind_ack"},
  };
  for (const Case& c : cases) {
    Seen seen = Provoke(server.port(), c.bytes);
    EXPECT_TRUE(seen.closed) << c.name;
    EXPECT_EQ(LastAnswer(seen.received), c.answer) << c.name;
  }

  // 200 connections at once: those over the per-address limit (the good
  // client holds one slot) are closed at once, with one log line.
  std::vector<int> flood;
  for (int i = 0; i < 200; ++i)
    flood.push_back(ConnectTcp("127.0.0.1", server.port(), Clock::now() + 5s, &error));
  int closedAtOnce = 0;
  for (int fd : flood) {
    pollfd entry{fd, POLLIN, 0};
    std::uint8_t byte;
    if (fd >= 0 && ::poll(&entry, 1, 100) > 0 && ::recv(fd, &byte, 1, 0) <= 0) ++closedAtOnce;
  }
  EXPECT_GE(closedAtOnce, 200 - 31);
  for (int fd : flood) ::close(fd);
  // The held ones time out; the server is back to the good client alone.
  auto deadline = Clock::now() + 10s;
  while (server.server().connections() > 1 && Clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(server.server().connections(), 1u);

  stop = true;
  caller.join();
  EXPECT_EQ(failures, 0);
  EXPECT_GT(calls, 10);
  std::string log = server.Log();
  std::size_t refusals = 0;
  for (std::size_t at = 0; (at = log.find("connection(s) over the limit", at)) != std::string::npos;
       ++at)
    ++refusals;
  EXPECT_EQ(refusals, 1u) << log;
}

}  // namespace
}  // namespace tagwell::dcom::test
