// The message record: one plain value type serves for building, queueing,
// sending and receiving. Copied by value between the caller, the queues and
// the transports; nothing in it is shared.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace chat {

// Header every record carries: 1, 0, "QNCHAT". A received message whose
// header differs is rejected by the deserializer.
constexpr std::array<uint8_t, 8> kChatMessageHeader = {1, 0, 'Q', 'N', 'C', 'H', 'A', 'T'};

// Multicast group, destination of ENTRY, EXIT and BUSINESS_INFO.
constexpr const char kChatMulticastGroup[] = "239.222.222.222";
// UDP port of every transport and destination port of every datagram.
constexpr uint16_t kChatUdpPort = 6000;
// TCP port: listening port and destination port of every connection.
constexpr uint16_t kChatTcpPort = 6001;

struct ChatMessage {
  // Wire fields, header through email.
  std::array<uint8_t, 8> header = kChatMessageHeader;
  int64_t seq = 0;     // the sender's sequence number of this message
  int64_t refSeq = 0;  // answers: seq answered; RECALL: seq to withdraw; else 0
  std::string nickName;
  std::string hostName;
  std::string uuid;
  int32_t command = 0;  // command word, see chat_command.h
  std::string text;     // TEXT: the text; FILE: the file's base name
  int32_t port = 0;     // FILE: file-server port; SHARE_SCREEN: media port
  std::string uri;      // FILE: served URI; share control: "/play/" + 32 hex digits
  std::string section;  // card fields of BUSINESS_INFO / RESP_BUSINESS_INFO
  std::string position;
  std::string telephone;
  std::string email;

  // Local routing fields; they never leave the process.
  int64_t sentAt = 0;       // NowMs of the last hand-over to the transports
  std::string destination;  // dotted IPv4 address the message goes to
  std::string source;       // local interface that must send it; empty = every one
  int32_t tries = 0;        // retransmissions so far
};

// True when the header is 1, 0, "QNCHAT".
inline bool HasValidHeader(const ChatMessage& message) {
  return message.header == kChatMessageHeader;
}

}  // namespace chat
