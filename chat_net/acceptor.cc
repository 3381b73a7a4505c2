#include "chat_net/acceptor.h"

#include <sys/socket.h>

namespace chat_net {

Acceptor::Acceptor(AcceptorObserver* observer)
    : socket_(Socket::Create(AF_INET, SOCK_STREAM)), observer_(observer) {}

bool Acceptor::Listen(const SocketAddress& address) {
  if (!socket_) return false;
  if (socket_->Bind(address) != 0) return false;
  return socket_->Listen(kBacklog) == 0;
}

std::unique_ptr<Socket> Acceptor::Accept() { return socket_ ? socket_->Accept() : nullptr; }

int Acceptor::SetNonBlocking(bool on) { return socket_ ? socket_->SetNonBlocking(on) : -1; }

int Acceptor::SetReuseAddress(bool on) {
  if (!socket_) return -1;
  const int value = on ? 1 : 0;
  return ::setsockopt(socket_->GetFd(), SOL_SOCKET, SO_REUSEADDR, &value, sizeof(value));
}

void Acceptor::HandleEvents(int events) {
  if (!observer_) return;
  if (events & kEventError) {
    observer_->OnError();
    return;
  }
  if (events & kEventRead) observer_->OnAccept();
}

}  // namespace chat_net
