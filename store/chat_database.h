// The local chat store: contacts and their cards, contact groups, the
// conversation list, the chat history and the list of transferred files, in
// one SQLite file per user.
//
// Thread: the GUI thread only. The object has no lock; debug builds assert
// that every call comes from the thread that created it (Instance() also
// asserts that this is the application's thread).
//
// Failures are reported by a level-20 log line and the result only (false, an
// empty list or an empty text); callers carry on with what they got. A file
// that cannot be opened leaves the object usable: every operation then fails
// with its own log line.
#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QThread>

#include "store/business_card_info.h"

struct ChatListRecord {
  BusinessCardInfo card;
  QString chatRoomUuid;
  QString date;
  QString content;
  bool noDisturbing = false;
  int newMessageCount = 0;
};

struct ChatHistoryRecord {
  QString chatRoomUuid;
  QString senderUuid;
  QString sendDate;  // "yyyy-MM-dd hh:mm:ss", as the caller stored it
  QString content;   // message text, or the file name for a file message
  int messageType = 0;  // 0 text, 1 file
};

struct FileRecord {
  QString fileAbsUrl;
  QString senderRefUuid;
  QString senderName;
  QString senderRemark;
  QString sendDate;
  QString chatRefUuid;
  QString chatName;  // the chat contact's remark when set, else its name
};

// The per-user data directory of the program (XDG data home + "/QNChat"),
// shared by the database, received files and screenshots. Not created here.
QString AppDataDirectory();

class ChatDatabase {
 public:
  // The process-wide store over Qt's default connection, opened on the first
  // call at AppDataDirectory() + "/QNChat.db". Never destroyed.
  static ChatDatabase* Instance();

  // Opens (creating if needed) the database file at filePath on the named
  // connection. For tests and tools; the program uses Instance().
  ChatDatabase(const QString& filePath, const QString& connectionName);
  // Closes the connection and removes it from Qt's registry.
  ~ChatDatabase();
  ChatDatabase(const ChatDatabase&) = delete;
  ChatDatabase& operator=(const ChatDatabase&) = delete;

  // True when the file opened and every table exists.
  bool IsConnected() const { return connected_; }

  bool SaveContact(const BusinessCardInfo& card);
  QList<BusinessCardInfo> LoadContacts();
  // Name or remark contains text; "%" and "_" in text act as LIKE wildcards.
  QList<BusinessCardInfo> SearchContacts(const QString& text);

  bool SaveGroup(const QString& groupUuid, const QString& groupName);
  bool DeleteGroup(const QString& groupUuid);
  QList<GroupInfo> LoadGroups();
  bool SetContactGroup(const QString& contactUuid, const QString& groupUuid);
  // The contact's group uuid, or an empty text.
  QString GetContactGroup(const QString& contactUuid);

  bool SaveChatListEntry(const QString& uuid, const QString& chatRoomUuid, const QString& date,
                         const QString& content, bool noDisturbing, int newMessageCount);
  // Oldest first.
  QList<ChatListRecord> LoadChatList();
  // Newest first; an empty text returns every conversation.
  QList<ChatListRecord> SearchChatList(const QString& text);

  bool SaveHistory(const QString& chatRoomUuid, const QString& senderUuid, const QString& sendDate,
                   int messageType, const QString& content);
  // The newest `limit` messages of the room, oldest first; messages of the
  // same second keep the order in which they were saved.
  QList<ChatHistoryRecord> LoadHistory(const QString& chatRoomUuid, int limit);

  bool SaveFileRecord(const QString& fileAbsUrl, const QString& senderUuid,
                      const QString& sendDate, const QString& chatUuid);
  bool DeleteFileRecord(const QString& fileAbsUrl);
  // Newest first; records whose sender or chat contact is unknown are left out.
  QList<FileRecord> LoadFileRecords();
  QList<FileRecord> SearchFileRecords(const QString& text);

  void Close();

 private:
  void Open();
  bool CreateTables();
  void AssertOwnerThread() const;

  QSqlDatabase db_;
  bool connected_ = false;
  QString directory_;
  QThread* owner_thread_;  // the creating (GUI) thread; debug checks only
};
