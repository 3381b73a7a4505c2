// The drawn content of a conversation row: avatar initials with the online
// mark, shown name, share hint, time, last message and unread count; writes
// the row into the conversation table when asked to. GUI thread only.
#pragma once

#include <QLabel>
#include <QWidget>
#include <functional>

#include "store/business_card_info.h"

class ChatListWidget : public QWidget {
  Q_OBJECT

 public:
  // save is called to persist the row (text, time) when SetContent asks for it;
  // the row decides whether it may (it needs its room's uuid).
  explicit ChatListWidget(const BusinessCardInfo& card, QWidget* parent = nullptr);

  void SetCard(const BusinessCardInfo& card);
  const BusinessCardInfo& Card() const { return card_; }
  void SetOnline(bool online);
  bool IsOnline() const { return online_; }
  // The message text (message format) and its time "yyyy-MM-dd hh:mm:ss".
  // With save set the row asks its owner to persist the conversation.
  void SetContent(const QString& text, const QString& time, bool save);
  const QString& ContentText() const { return content_; }
  const QString& Time() const { return time_; }
  void SetHint(const QString& text);
  QString Hint() const;
  // Shows the unread total; hidden at 0.
  void SetUnread(int total);
  QString UnreadText() const;
  bool UnreadShown() const;
  QString ShownName() const;

  void SetSaveHook(std::function<void(const QString& text, const QString& time)> hook) {
    save_ = std::move(hook);
  }

 signals:
  void Sig_AddNewMessageCount(int count);

 private:
  BusinessCardInfo card_;
  bool online_ = false;
  QString content_;
  QString time_;
  std::function<void(const QString&, const QString&)> save_;
  QLabel* headPortrait_lb_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QLabel* hint_lb_ = nullptr;
  QLabel* time_lb_ = nullptr;
  QLabel* content_lb_ = nullptr;
  QLabel* noDisturbing_lb_ = nullptr;
};
