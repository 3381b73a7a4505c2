// The transport pair of one local IPv4 address: UDP on port 6000 (joined to
// the multicast group on that interface) and TCP on port 6001. Announcements
// and their answers (ENTRY, RESP_ENTRY, EXIT, BUSINESS_INFO) go by UDP,
// everything else by TCP.
//
// Use from the peer engine, on its network thread only:
//   auto pair = ChatTransportWrapper::Create(SocketAddress(address, kChatUdpPort), observer);
//   if (pair) { pair->GetChannels(&channels); /* AddChannel each to the selector */ }
//   pair->Send(message);          // routed by command code; destination in the message
//   pair->Close();                // flushes queued UDP datagrams (the final EXIT)
//   /* RemoveChannel each of GetChannels(), then destroy */
// While the pair lives it adds and removes the channels of its TCP connections
// itself through the observer's AddChannel/RemoveChannel.
#pragma once

#include <memory>
#include <vector>

#include "chat/chat_transport.h"
#include "chat/chat_transport_tcp.h"
#include "chat/chat_transport_udp.h"

namespace chat {

class ChatTransportWrapper : public ChatTransport {
 public:
  // local carries the UDP port (6000); TCP uses port + 1. The observer is not
  // owned and must outlive the wrapper.
  ChatTransportWrapper(const chat_net::SocketAddress& local, ChatTransportObserver* observer);
  // Destroys the TCP transport, then the UDP transport.
  ~ChatTransportWrapper() override;

  // Builds a wrapper and opens it; none when either transport cannot open.
  static std::unique_ptr<ChatTransportWrapper> Create(const chat_net::SocketAddress& local,
                                                      ChatTransportObserver* observer);

  // Opens UDP, then (only if that succeeded) TCP; true when both did.
  bool Open();

  void GetChannels(std::vector<chat_net::Channel*>* channels) override;
  chat_net::IpAddress GetLocalAddress() const override;
  void Send(const ChatMessage& message) override;
  void Close() override;

  // True for the command codes that travel by UDP (1, 2, 3, 10).
  static bool GoesByUdp(int32_t command);

  ChatTransportUdp* udp() { return udp_.get(); }
  ChatTransportTcp* tcp() { return tcp_.get(); }

 private:
  std::unique_ptr<ChatTransportUdp> udp_;
  std::unique_ptr<ChatTransportTcp> tcp_;
};

}  // namespace chat
