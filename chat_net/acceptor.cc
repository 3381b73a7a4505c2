#include "chat_net/acceptor.h"

#include <sys/socket.h>

#include <cstdio>

namespace chat_net {

Acceptor::Acceptor(AcceptorObserver* observer)
    : socket_(Socket::Create(AF_INET, SOCK_STREAM)), observer_(observer) {}

int Acceptor::SystemBacklog() {
  int backlog = 0;
  if (FILE* file = fopen("/proc/sys/net/core/somaxconn", "re")) {
    if (fscanf(file, "%d", &backlog) != 1) backlog = 0;
    fclose(file);
  }
  return backlog > 0 ? backlog : SOMAXCONN;
}

bool Acceptor::Listen(const SocketAddress& address) {
  if (!socket_) return false;
  if (socket_->Bind(address) != 0) return false;
  return socket_->Listen(SystemBacklog()) == 0;
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
