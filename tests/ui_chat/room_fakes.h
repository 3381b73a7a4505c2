// Small hand-written fakes for the chat room's tests. They are fakes because
// the real chat core may only run inside a network namespace; they record
// what the room asks of them and answer with numbers the test chooses.
#pragma once

#include <QList>
#include <QString>
#include <string>
#include <vector>

#include "chat/chat_peer.h"
#include "chat_base/ref_ptr.h"
#include "ui/chat/room/chat_room_row.h"
#include "ui/common/app_services.h"

namespace room_test {

// Counts SendText/SendFile and hands out increasing seqs (or next_result
// when it is set, e.g. -1 for a refused send).
class FakeChatPeer : public chat::ChatPeer {
 public:
  struct Call {
    std::string what;  // text or path
    std::string hostName;
    std::string uuid;
  };

  void SetBusinessInfo(const chat::ChatBusinessInfo&) override {}
  bool Start() override { return true; }
  int64_t SendText(const std::string& text, const std::string& hostName,
                   const std::string& uuid) override {
    texts.push_back({text, hostName, uuid});
    return Next();
  }
  int64_t SendFile(const std::string& path, const std::string& hostName,
                   const std::string& uuid) override {
    files.push_back({path, hostName, uuid});
    return Next();
  }
  int64_t RequestBusinessInfo(const std::string&, const std::string&) override { return Next(); }
  int64_t ShareScreen(const std::string&, const std::string&) override { return Next(); }
  int64_t CloseShareScreen() override { return -1; }
  int64_t Ping(const std::string&, const std::string&) override { return Next(); }
  int64_t Recall(int64_t, const std::string&, const std::string&) override { return Next(); }
  std::vector<std::string> LocalAddresses() override { return {}; }
  int FilePort() const override { return 0; }
  int MediaPort() const override { return 0; }
  std::vector<KnownPeer> KnownPeers() override { return {}; }

  std::vector<Call> texts;
  std::vector<Call> files;
  int64_t next_seq = 100;
  int64_t next_result = 0;  // 0: hand out next_seq++

 private:
  int64_t Next() { return next_result != 0 ? next_result : next_seq++; }
};

class FakeAppServices : public AppServices {
 public:
  FakeAppServices() : peer(chat_base::MakeRefCounted<FakeChatPeer>()) {
    card.uuid = QStringLiteral("LOCAL-UUID");
    card.nickName = QStringLiteral("本机用户");
    card.device = QStringLiteral("local-pc");
  }
  BusinessCardInfo GetLocalCard() const override { return card; }
  void SetLocalCard(const BusinessCardInfo& c) override { card = c; }
  chat_base::RefPtr<chat::ChatPeer> GetChatPeer() override {
    return with_peer ? chat_base::RefPtr<chat::ChatPeer>(peer) : nullptr;
  }
  bool IsPeerOnline(const QString&) override { return true; }
  void OpenShareScreen() override { ++share_opened; }
  void TranspondFile(const QString&, const BusinessCardInfo&) override {}
  void ShowErrorMessage(const QString&) override {}

  BusinessCardInfo card;
  chat_base::RefPtr<FakeChatPeer> peer;
  bool with_peer = true;
  int share_opened = 0;
};

class FakeRow : public ChatRoomRow {
 public:
  void AttachRoom(ChatRoomWidget* r) override { room = r; }
  void SetLastMessage(const QString& text, const QString& time) override {
    last_text = text;
    last_time = time;
    ++messages;
  }
  void SetHint(const QString& text) override { hint = text; }

  ChatRoomWidget* room = nullptr;
  QString last_text;
  QString last_time;
  QString hint;
  int messages = 0;
};

}  // namespace room_test
