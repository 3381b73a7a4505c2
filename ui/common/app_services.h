// The narrow interface through which widgets reach the application: the local
// card, the chat core and a few operations. The application object implements
// it; widget tests fake it. Every call on the GUI thread.
#pragma once

#include <QString>

#include "chat/chat_peer.h"
#include "chat_base/ref_ptr.h"
#include "store/business_card_info.h"

class AppServices {
 public:
  virtual ~AppServices() = default;
  virtual BusinessCardInfo GetLocalCard() const = 0;
  // Stores the card, hands it to the chat core and saves it.
  virtual void SetLocalCard(const BusinessCardInfo& card) = 0;
  virtual chat_base::RefPtr<chat::ChatPeer> GetChatPeer() = 0;  // may be null
  // False for an unknown uuid.
  virtual bool IsPeerOnline(const QString& uuid) = 0;
  // Starts watching the last offered screen share, if any.
  virtual void OpenShareScreen() = 0;
  // Opens the chat with the contact and sends the file there.
  virtual void TranspondFile(const QString& filePath, const BusinessCardInfo& card) = 0;
  // A modal error box over the main window.
  virtual void ShowErrorMessage(const QString& error) = 0;
};
