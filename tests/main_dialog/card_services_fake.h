// A small stand-in for the application's services in the card and rename
// dialog tests: keeps the local card and counts the calls that change it.
#pragma once

#include <QStringList>

#include "ui/common/app_services.h"

namespace dialog_test {

class FakeCardServices : public AppServices {
 public:
  BusinessCardInfo GetLocalCard() const override { return local; }
  void SetLocalCard(const BusinessCardInfo& card) override {
    local = card;
    ++set_local_calls;
  }
  chat_base::RefPtr<chat::ChatPeer> GetChatPeer() override { return nullptr; }
  bool IsPeerOnline(const QString&) override { return false; }
  void OpenShareScreen() override {}
  void TranspondFile(const QString&, const BusinessCardInfo&) override {}
  void ShowErrorMessage(const QString& error) override { errors.append(error); }

  BusinessCardInfo local;
  int set_local_calls = 0;
  QStringList errors;
};

}  // namespace dialog_test
