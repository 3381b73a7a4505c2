#include "chat_net/tcp_connection.h"

#include <sys/socket.h>

namespace chat_net {

TcpConnection::TcpConnection(TcpConnectionObserver* observer)
    : socket_(Socket::Create(AF_INET, SOCK_STREAM)), observer_(observer) {}

TcpConnection::TcpConnection(std::unique_ptr<Socket> socket, TcpConnectionObserver* observer)
    : socket_(std::move(socket)), observer_(observer) {}

int TcpConnection::Bind(const std::string& text, uint16_t port) {
  return socket_ ? socket_->Bind(SocketAddress(text, port)) : -1;
}

int TcpConnection::Connect(const SocketAddress& address) {
  return socket_ ? socket_->Connect(address) : -1;
}

int TcpConnection::Send(const void* data, size_t length) {
  return socket_ ? socket_->Send(data, length) : -1;
}

int TcpConnection::Recv(void* buffer, size_t capacity) {
  return socket_ ? socket_->Recv(buffer, capacity) : -1;
}

int TcpConnection::SetNonBlocking(bool on) { return socket_ ? socket_->SetNonBlocking(on) : -1; }

int TcpConnection::Close() { return socket_ ? socket_->Close() : 0; }

SocketAddress TcpConnection::GetLocalAddress() const {
  return socket_ ? socket_->GetLocalAddress() : SocketAddress();
}

SocketAddress TcpConnection::GetRemoteAddress() const {
  return socket_ ? socket_->GetRemoteAddress() : SocketAddress();
}

void TcpConnection::HandleEvents(int events) {
  if (events & kEventError) {
    if (observer_) observer_->OnError(GetFd());
    return;
  }
  if ((events & kEventWrite) && observer_) observer_->OnWritable(GetFd());
  // A connection closed by the write handler has nothing left to read.
  if ((events & kEventRead) && observer_ && GetFd() >= 0) observer_->OnReadable(GetFd());
}

}  // namespace chat_net
