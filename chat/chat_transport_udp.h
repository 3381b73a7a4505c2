// Multicast UDP transport of one local address. Owns a socket bound to
// (interface address, 6000) that sends every datagram and receives unicast,
// and a group socket bound to (239.222.222.222, 6000) that receives the
// group's datagrams of this interface only (Linux hands a group's datagrams
// only to sockets bound to the group or the wildcard address). Messages are
// queued and sent one datagram per writable event; every readable event
// reads until the socket is empty, since a joiner's announcement draws a
// burst of answers at once. Lives on the core's network thread; no lock.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "chat/chat_packet_assembler.h"
#include "chat/chat_serializer.h"
#include "chat/chat_transport.h"
#include "chat/chat_transport_packet.h"
#include "chat_net/udp_socket.h"

namespace chat {

class ChatTransportUdp : public ChatTransport, public chat_net::UdpSocketObserver {
 public:
  // Receive buffer per datagram.
  static constexpr int kReceiveBufferSize = 1400;
  // Senders whose receive state is kept; beyond this the least recently heard
  // sender's assembler is dropped.
  static constexpr size_t kMaxAssemblers = 64;
  // Receive buffer asked of the system for each socket (it may give less).
  static constexpr int kSocketReceiveBufferBytes = 4 * 1024 * 1024;
  // Datagrams read in one readable event at most, so that a flood cannot
  // hold the loop for ever.
  static constexpr int kMaxReadsPerEvent = 4096;

  ChatTransportUdp(const chat_net::SocketAddress& local, ChatTransportObserver* observer);
  // Leaves the group; queued messages and packets are discarded.
  ~ChatTransportUdp() override;

  // Binds the interface socket (failure: false) and sets up the group socket.
  bool Open();

  // Both sockets, the interface socket first.
  void GetChannels(std::vector<chat_net::Channel*>* channels) override;
  chat_net::IpAddress GetLocalAddress() const override;
  // Queues a copy; sending happens on the socket's writable events.
  void Send(const ChatMessage& message) override;
  // Sends every queued packet and message before returning.
  void Close() override;

  // UdpSocketObserver of the interface socket.
  void OnReadable() override;
  void OnWritable() override;

  size_t AssemblerCountForTesting() const { return assemblers_.size(); }
  // The receive buffer the system granted the interface socket, in bytes as
  // it reports them (Linux reports twice what it accounts for data).
  int ReceiveBufferBytes() const { return receive_buffer_bytes_; }

 private:
  // Receives the group socket's datagrams for its transport.
  class GroupReceiver : public chat_net::UdpSocketObserver {
   public:
    explicit GroupReceiver(ChatTransportUdp* transport) : transport_(transport) {}
    void OnReadable() override;
    void OnWritable() override {}

   private:
    ChatTransportUdp* transport_;
  };

  struct SenderState {
    std::unique_ptr<ChatPacketAssembler> assembler;
    std::list<uint32_t>::iterator recency;
  };

  bool OpenGroupSocket();
  // Reads every waiting datagram of the socket.
  void ReceiveAll(chat_net::UdpSocket* socket);
  // One datagram; false when the socket had none.
  bool ReceiveFrom(chat_net::UdpSocket* socket);
  ChatPacketAssembler* AssemblerFor(uint32_t sender);
  void UpdateWantWrite();

  chat_net::SocketAddress local_;
  ChatTransportObserver* observer_;  // not owned
  chat_base::RefPtr<chat_net::UdpSocket> socket_;
  bool joined_ = false;
  std::deque<std::unique_ptr<ChatTransportPacketToSend>> packets_;  // oldest first
  std::deque<ChatMessage> messages_;                                // oldest first
  std::unique_ptr<ChatSerializer> serializer_;
  std::unique_ptr<ChatDeserializer> deserializer_;
  // Keyed by the sender's IPv4 address in host order; recency_ holds the same
  // keys, most recently heard first.
  std::unordered_map<uint32_t, SenderState> assemblers_;
  std::list<uint32_t> recency_;
  uint32_t packet_counter_ = 0;
  int receive_buffer_bytes_ = 0;
  GroupReceiver group_receiver_{this};
  chat_base::RefPtr<chat_net::UdpSocket> group_socket_;
};

}  // namespace chat
