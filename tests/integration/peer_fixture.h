// Shared set-up of the integration suites: a Network of namespaces on one
// segment and a qnchat-peer in each, helpers that wait for discovery.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"
#include "support/peer_process.h"

namespace qnchat_test {

// Bound for anything the peers must do on their own (announcements go out
// every 500 ms, answers within one pass); a ceiling, not a timing assertion.
constexpr int kEventTimeoutMs = 15000;

inline PeerOptions NamedPeer(int index) {
  PeerOptions options;
  options.nick = "Nick" + std::to_string(index);
  options.host = "host-" + std::to_string(index);
  options.uuid = "00000000-0000-0000-0000-00000000000" + std::to_string(index);
  return options;
}

inline PeerProcess::Match PeerIs(const PeerProcess& peer) {
  Json::Value expected(Json::objectValue);
  expected["hostName"] = peer.host();
  expected["uuid"] = peer.uuid();
  return Fields(expected);
}

// Matches an event or result line about one seq.
inline PeerProcess::Match SeqIs(int64_t seq) {
  return [seq](const Json::Value& json) { return json["seq"].asInt64() == seq; };
}

// "<host> <uuid>", the address part of a peer command.
inline std::string To(const PeerProcess& peer) { return peer.host() + " " + peer.uuid(); }

// A fresh directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char dir[] = "/tmp/qnchat-it-XXXXXX";
    if (mkdtemp(dir)) path_ = dir;
  }
  ~TempDir() {
    std::string ignored;
    if (!path_.empty()) RunCommand({"rm", "-rf", path_}, &ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Every line the peer wrote, for failure messages.
inline std::string Dump(PeerProcess& peer) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  std::string text;
  for (const auto& line : peer.Lines()) {
    text += std::to_string(line.at_ms) + " " + Json::writeString(builder, line.json) + "\n";
  }
  return text;
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "needs root to create network namespaces";
    network_ = std::make_unique<Network>();
  }
  void TearDown() override {
    if (HasFailure()) {
      for (auto& peer : peers_) {
        if (peer) ADD_FAILURE() << peer->host() << " stderr tail:\n" << peer->StderrTail(60);
      }
    }
    peers_.clear();
    network_.reset();
  }

  // count hosts on subnet 198.18.0.0/24, a peer started in each.
  bool StartPeers(int count, const std::vector<PeerOptions>& options = {}) {
    hosts_ = network_->MakeSegment(count);
    if (hosts_.size() != static_cast<size_t>(count)) return false;
    for (int i = 0; i < count; ++i) {
      PeerOptions peer_options =
          i < static_cast<int>(options.size()) ? options[i] : NamedPeer(i + 1);
      peers_.push_back(PeerProcess::Start(*hosts_[i], peer_options));
      if (!peers_.back()) return false;
    }
    return true;
  }

  // Every peer has reported every other one; false after the bound.
  bool AllDiscovered() {
    for (auto& a : peers_) {
      for (auto& b : peers_) {
        if (a == b) continue;
        if (!a->WaitEvent("OnPeerEntry", kEventTimeoutMs, PeerIs(*b))) return false;
      }
    }
    return true;
  }

  std::unique_ptr<Network> network_;
  std::vector<NetNamespace*> hosts_;
  std::vector<std::unique_ptr<PeerProcess>> peers_;
};

}  // namespace qnchat_test
