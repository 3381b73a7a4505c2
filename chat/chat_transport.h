// The transport interface of the chat core and the observer every transport
// reports to. One transport pair (ChatTransportWrapper) exists per usable
// local IPv4 address. Transports are uniquely owned and used only on the
// core's network thread; nothing here is locked.
#pragma once

#include <string>
#include <vector>

#include "chat/chat_message.h"
#include "chat_base/ref_ptr.h"
#include "chat_net/channel.h"
#include "chat_net/socket_address.h"

namespace chat {

// Implemented by the peer engine. Called on the network thread only.
class ChatTransportObserver {
 public:
  virtual ~ChatTransportObserver() = default;
  // A complete, decoded, new message; local is the interface it arrived on,
  // remote its sender, both dotted IPv4 text.
  virtual void OnReceive(const ChatMessage& message, const std::string& local,
                         const std::string& remote) = 0;
  // Registers a channel with the core's selector; the engine always accepts.
  virtual bool AddChannel(chat_base::RefPtr<chat_net::Channel> channel) = 0;
  // Unregisters it (compared by identity).
  virtual void RemoveChannel(chat_net::Channel* channel) = 0;
};

class ChatTransport {
 public:
  virtual ~ChatTransport() = default;
  // Appends the channels that must be registered with the selector while the
  // transport lives; the caller takes its own references.
  virtual void GetChannels(std::vector<chat_net::Channel*>* channels) = 0;
  // The local interface address.
  virtual chat_net::IpAddress GetLocalAddress() const = 0;
  // Hands over one message; never blocks.
  virtual void Send(const ChatMessage& message) = 0;
  // Finishes what can be finished before the transport is dropped.
  virtual void Close() = 0;
};

}  // namespace chat
