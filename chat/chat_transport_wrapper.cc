#include "chat/chat_transport_wrapper.h"

#include "chat/chat_command.h"

namespace chat {

ChatTransportWrapper::ChatTransportWrapper(const chat_net::SocketAddress& local,
                                           ChatTransportObserver* observer)
    : udp_(std::make_unique<ChatTransportUdp>(local, observer)),
      tcp_(std::make_unique<ChatTransportTcp>(
          chat_net::SocketAddress(local.address(), static_cast<uint16_t>(local.port() + 1)),
          observer)) {}

ChatTransportWrapper::~ChatTransportWrapper() {
  tcp_.reset();
  udp_.reset();
}

std::unique_ptr<ChatTransportWrapper> ChatTransportWrapper::Create(
    const chat_net::SocketAddress& local, ChatTransportObserver* observer) {
  auto wrapper = std::make_unique<ChatTransportWrapper>(local, observer);
  if (!wrapper->Open()) return nullptr;
  return wrapper;
}

bool ChatTransportWrapper::Open() { return udp_->Open() && tcp_->Open(); }

void ChatTransportWrapper::GetChannels(std::vector<chat_net::Channel*>* channels) {
  udp_->GetChannels(channels);
  tcp_->GetChannels(channels);
}

chat_net::IpAddress ChatTransportWrapper::GetLocalAddress() const {
  return udp_->GetLocalAddress();
}

bool ChatTransportWrapper::GoesByUdp(int32_t command) {
  switch (CommandCode(command)) {
    case CHAT_CMD_ENTRY:
    case CHAT_CMD_RESP_ENTRY:
    case CHAT_CMD_EXIT:
    case CHAT_CMD_BUSINESS_INFO:
      return true;
    default:
      return false;
  }
}

void ChatTransportWrapper::Send(const ChatMessage& message) {
  if (GoesByUdp(message.command)) {
    udp_->Send(message);
  } else {
    tcp_->Send(message);
  }
}

void ChatTransportWrapper::Close() { udp_->Close(); }

}  // namespace chat
