// An observer for the chat core's unit tests: writes every call down as one
// line of text, so a test compares what was reported, in order, with one
// expectation. Thread-safe, since the peer list may be driven from several
// threads.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "chat/chat_peer.h"

namespace chat {

class RecordingObserver : public ChatObserver {
 public:
  void OnPeerEntry(const ChatPeerInfo& info) override {
    Add("entry " + Describe(info));
    if (on_entry) on_entry(info);
  }
  void OnPeerExit(const ChatPeerInfo& info) override {
    Add("exit " + Describe(info));
    if (on_exit) on_exit(info);
  }
  void OnSendMessageCompleted(int64_t seq) override { Add("completed " + std::to_string(seq)); }
  void OnSendMessageFailed(int64_t seq) override { Add("failed " + std::to_string(seq)); }
  void OnRecvText(int64_t seq, const std::string& text, const std::string& hostName,
                  const std::string& uuid) override {
    Add("text " + std::to_string(seq) + " " + text + " " + hostName + "/" + uuid);
  }
  void OnRecvFileUrl(int64_t seq, const std::string& url, const std::string& fileName,
                     const std::string& hostName, const std::string& uuid) override {
    Add("file " + std::to_string(seq) + " " + url + " " + fileName + " " + hostName + "/" + uuid);
  }
  void OnRecvBusinessInfo(const ChatBusinessInfo& card, const std::string& hostName,
                          const std::string& uuid) override {
    Add("card " + card.nickName + "," + card.section + "," + card.position + "," + card.telephone +
        "," + card.email + " " + hostName + "/" + uuid);
    if (on_card) on_card(card);
  }
  void OnRecvShareScreenUrl(const std::string& url, const std::string& hostName,
                            const std::string& uuid) override {
    Add("share " + url + " " + hostName + "/" + uuid);
  }
  void OnMediaSessionClosed(const std::string& uri, const std::string& hostName,
                            const std::string& uuid) override {
    Add("closed " + uri + " " + hostName + "/" + uuid);
  }
  void OnRecallResult(int64_t seq, bool accepted) override {
    Add("recall result " + std::to_string(seq) + (accepted ? " accepted" : " refused"));
  }
  bool OnRecall(int64_t seq, const std::string& hostName, const std::string& uuid) override {
    Add("recall " + std::to_string(seq) + " " + hostName + "/" + uuid);
    return accept_recall;
  }

  // Every call so far; clears the record.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> calls;
    calls.swap(calls_);
    return calls;
  }

  bool accept_recall = false;
  // Run inside the callbacks, while the caller still holds whatever it holds.
  std::function<void(const ChatPeerInfo&)> on_entry;
  std::function<void(const ChatPeerInfo&)> on_exit;
  std::function<void(const ChatBusinessInfo&)> on_card;
  // Run after every call has been written down, with its line.
  std::function<void(const std::string&)> on_any;

 private:
  static std::string Describe(const ChatPeerInfo& info) {
    return info.nickName + " " + info.hostName + "/" + info.uuid + "@" + info.address;
  }
  void Add(const std::string& call) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      calls_.push_back(call);
    }
    if (on_any) on_any(call);
  }

  std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace chat
