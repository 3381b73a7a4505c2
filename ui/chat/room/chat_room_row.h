// What a chat room needs from the conversation row it belongs to. The
// conversation list's row implements it; tests fake it. GUI thread.
#pragma once

#include <QString>

class ChatRoomWidget;

class ChatRoomRow {
 public:
  virtual ~ChatRoomRow() = default;
  // Called once, from the room's constructor: this row's room from now on.
  virtual void AttachRoom(ChatRoomWidget* room) = 0;
  // The conversation's last message and its time ("yyyy-MM-dd hh:mm:ss"):
  // shown in the row and saved with the conversation.
  virtual void SetLastMessage(const QString& text, const QString& time) = 0;
  // The share state under the row's name; empty clears it.
  virtual void SetHint(const QString& text) = 0;
};
