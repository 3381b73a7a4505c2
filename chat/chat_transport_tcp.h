// TCP transport of one local address (port 6001): every message that is not
// an announcement travels on a connection of its own, one framed packet per
// connection. Owns the listening socket, the receive connections it accepted
// and the send connections it opened; registers each connection with the
// core's selector through the observer as it comes and goes. Lives on the
// core's network thread; no lock.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "chat/chat_recv_connection.h"
#include "chat/chat_send_connection.h"
#include "chat/chat_serializer.h"
#include "chat/chat_transport.h"
#include "chat_net/acceptor.h"
#include "chat_net/tcp_connection.h"

namespace chat {

class ChatTransportTcp : public ChatTransport,
                         public chat_net::AcceptorObserver,
                         public chat_net::TcpConnectionObserver,
                         public ChatSendConnection::Observer {
 public:
  // Receive connections held at once; a new one beyond this drops the oldest,
  // so that idle connections cannot pin memory or descriptors.
  static constexpr size_t kMaxRecvConnections = 32;
  // Connections taken from the listen queue per readable event at most.
  static constexpr int kMaxAcceptsPerEvent = 16;

  ChatTransportTcp(const chat_net::SocketAddress& local, ChatTransportObserver* observer);
  // Unregisters and drops every connection; those still writing are cut off.
  ~ChatTransportTcp() override;

  // Listens on the local address; false (and a log line) when that fails.
  bool Open();

  // The acceptor only; connections are registered as they come and go.
  void GetChannels(std::vector<chat_net::Channel*>* channels) override;
  chat_net::IpAddress GetLocalAddress() const override;
  // Opens a connection to (destination, 6001) and writes the message on it.
  void Send(const ChatMessage& message) override;
  // Does nothing: open connections finish on their own.
  void Close() override {}

  // AcceptorObserver.
  void OnAccept() override;
  void OnError() override {}

  // TcpConnectionObserver of the accepted connections.
  void OnReadable(int fd) override;
  void OnWritable(int fd) override { (void)fd; }
  void OnError(int fd) override;

  // ChatSendConnection::Observer.
  void OnDone(ChatSendConnection* connection) override;

  size_t RecvConnectionCountForTesting() const { return recv_connections_.size(); }
  size_t SendConnectionCountForTesting() const { return send_connections_.size(); }

 private:
  void CloseRecvConnection(std::list<chat_base::RefPtr<ChatRecvConnection>>::iterator it);
  // Decodes the gathered packet and reports it to the observer.
  void Deliver(ChatRecvConnection* connection);

  chat_net::SocketAddress local_;
  ChatTransportObserver* observer_;  // not owned
  std::unique_ptr<ChatDeserializer> deserializer_;
  chat_base::RefPtr<chat_net::Acceptor> acceptor_;
  std::list<chat_base::RefPtr<ChatRecvConnection>> recv_connections_;  // acceptance order
  std::list<chat_base::RefPtr<ChatSendConnection>> send_connections_;  // creation order
  uint32_t packet_counter_ = 0;
  // One read's worth of bytes, reused by every read of every connection.
  std::unique_ptr<uint8_t[]> read_buffer_;
};

}  // namespace chat
