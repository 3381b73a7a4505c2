#include "store/chat_database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <algorithm>
#include <initializer_list>
#include <utility>

#include "base/log.h"
#include "tessel/paths.h"

namespace {

// Table names with their statements, in the order they are created. The
// texts are the schema of every existing file: keep them byte for byte.
struct TableStatement {
  const char* name;
  const char* sql;
};
constexpr TableStatement kTables[] = {
    {"chat_history_info",
     "CREATE TABLE IF NOT EXISTS chat_history_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "chat_room_uuid TEXT NOT NULL , sender_uuid TEXT NOT NULL , send_date DATETIME NOT NULL, "
     "message_type INTEGER NOT NULL DEFAULT 0, content TEXT)"},
    {"chat_list_info",
     "CREATE TABLE IF NOT EXISTS chat_list_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "chat_room_uuid TEXT UNIQUE, content TEXT, date DATETIME, reference_uuid TEXT UNIQUE, "
     "no_disturbing BOOLEAN DEFAULT FALSE, new_message_count INTEGER DEFAULT 0, "
     "FOREIGN KEY (reference_uuid) REFERENCES contact_info(uuid))"},
    {"contact_group_info",
     "CREATE TABLE IF NOT EXISTS contact_group_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "group_ref_uuid TEXT, contact_ref_uuid TEXT UNIQUE, FOREIGN KEY (group_ref_uuid) "
     "REFERENCES group_info(group_uuid), FOREIGN KEY (contact_ref_uuid) REFERENCES "
     "contact_info(uuid))"},
    {"contact_info",
     "CREATE TABLE IF NOT EXISTS contact_info (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT "
     "NOT NULL, device TEXT NOT NULL, uuid TEXT NOT NULL UNIQUE, section TEXT, position TEXT, "
     "telephone TEXT, email TEXT, remark TEXT)"},
    {"file_record_info",
     "CREATE TABLE IF NOT EXISTS file_record_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "file_abs_url TEXT NOT NULL, send_date DATETIME NOT NULL, sender_ref_uuid TEXT NOT NULL, "
     "chat_ref_uuid TEXT NOT NULL, FOREIGN KEY (sender_ref_uuid) REFERENCES contact_info(uuid), "
     "FOREIGN KEY (chat_ref_uuid) REFERENCES contact_info(uuid))"},
    {"group_info",
     "CREATE TABLE IF NOT EXISTS group_info (id INTEGER PRIMARY KEY AUTOINCREMENT, group_uuid "
     "TEXT UNIQUE, group_name TEXT) "},
};

// A room's history is always read newest-first by room; without this index
// every LoadHistory scans the whole table. IF NOT EXISTS lets files written
// before the index existed gain it on their next opening.
constexpr char kHistoryIndexName[] = "chat_history_room_date";
constexpr char kHistoryIndex[] =
    "CREATE INDEX IF NOT EXISTS chat_history_room_date ON chat_history_info "
    "(chat_room_uuid, send_date)";

// Write-ahead logging with synchronous NORMAL: a saved message costs a write,
// not the several syncs of the rollback journal, and a crash still leaves a
// consistent file (at worst the last messages before a power cut are
// missing). Chosen by measurement (bench/history).
constexpr char kJournalMode[] = "PRAGMA journal_mode=WAL";
constexpr char kSynchronous[] = "PRAGMA synchronous=NORMAL";

constexpr char kDatabaseFileName[] = "/QNChat.db";

// The join's columns, shared by the listing and the search.
constexpr char kFileRecordSelect[] =
    "SELECT file_record_info.chat_ref_uuid, file_record_info.sender_ref_uuid, "
    "file_record_info.send_date, file_record_info.file_abs_url, sender.name AS sender_name, "
    "sender.remark AS sender_remark, chat.name AS chat_name, chat.remark AS chat_remark FROM "
    "file_record_info INNER JOIN contact_info AS sender ON file_record_info.sender_ref_uuid = "
    "sender.uuid INNER JOIN contact_info AS chat ON file_record_info.chat_ref_uuid = chat.uuid ";

using Bindings = std::initializer_list<std::pair<const char*, QVariant>>;

// Prepares sql on db, binds the named values and executes it. On failure
// *error holds the driver's text. A closed connection fails here, before Qt
// would warn about it on every call.
bool Execute(const QSqlDatabase& db, QSqlQuery* query, const QString& sql, Bindings bindings,
             QString* error) {
  if (!db.isOpen()) {
    *error = QStringLiteral("database not open");
    return false;
  }
  query->setForwardOnly(true);
  bool ok = query->prepare(sql);
  if (ok) {
    for (const auto& binding : bindings) query->bindValue(QLatin1String(binding.first), binding.second);
    ok = query->exec();
  }
  if (!ok) *error = query->lastError().text();
  return ok;
}

// Writes the operation's outcome line: level 30 on success, level 20 with the
// error text on failure. A null success text logs nothing on success.
void LogOutcome(bool ok, const char* success, const char* failure_format, const QString& error) {
  if (ok) {
    if (success) LogMessage(kLogInfo, "%s", success);
  } else {
    LogMessage(kLogWarning, failure_format, error.toUtf8().constData());
  }
}

// Column positions, looked up by name once per result: asking the query for
// a value by name rebuilds its description of the row on every call, which
// made reading a page of history several times slower than the query itself.
int Column(const QSqlRecord& record, const char* name) {
  return record.indexOf(QLatin1String(name));
}

QString Text(const QSqlQuery& query, int column) { return query.value(column).toString(); }

struct CardColumns {
  explicit CardColumns(const QSqlRecord& r)
      : name(Column(r, "name")),
        device(Column(r, "device")),
        uuid(Column(r, "uuid")),
        section(Column(r, "section")),
        position(Column(r, "position")),
        telephone(Column(r, "telephone")),
        email(Column(r, "email")),
        remark(Column(r, "remark")) {}

  BusinessCardInfo Read(const QSqlQuery& query) const {
    BusinessCardInfo card;
    card.nickName = Text(query, name);
    card.device = Text(query, device);
    card.uuid = Text(query, uuid);
    card.section = Text(query, section);
    card.position = Text(query, position);
    card.telephone = Text(query, telephone);
    card.email = Text(query, email);
    card.remark = Text(query, remark);
    return card;
  }

  int name, device, uuid, section, position, telephone, email, remark;
};

struct ChatListColumns {
  explicit ChatListColumns(const QSqlRecord& r)
      : card(r),
        chatRoomUuid(Column(r, "chat_room_uuid")),
        date(Column(r, "date")),
        content(Column(r, "content")),
        noDisturbing(Column(r, "no_disturbing")),
        newMessageCount(Column(r, "new_message_count")) {}

  ChatListRecord Read(const QSqlQuery& query) const {
    ChatListRecord record;
    record.card = card.Read(query);
    record.chatRoomUuid = Text(query, chatRoomUuid);
    record.date = Text(query, date);
    record.content = Text(query, content);
    record.noDisturbing = query.value(noDisturbing).toInt() != 0;
    record.newMessageCount = query.value(newMessageCount).toInt();
    return record;
  }

  CardColumns card;
  int chatRoomUuid, date, content, noDisturbing, newMessageCount;
};

struct HistoryColumns {
  explicit HistoryColumns(const QSqlRecord& r)
      : chatRoomUuid(Column(r, "chat_room_uuid")),
        senderUuid(Column(r, "sender_uuid")),
        sendDate(Column(r, "send_date")),
        content(Column(r, "content")),
        messageType(Column(r, "message_type")) {}

  ChatHistoryRecord Read(const QSqlQuery& query) const {
    ChatHistoryRecord record;
    record.chatRoomUuid = Text(query, chatRoomUuid);
    record.senderUuid = Text(query, senderUuid);
    record.sendDate = Text(query, sendDate);
    record.content = Text(query, content);
    record.messageType = query.value(messageType).toInt();
    return record;
  }

  int chatRoomUuid, senderUuid, sendDate, content, messageType;
};

struct FileRecordColumns {
  explicit FileRecordColumns(const QSqlRecord& r)
      : fileAbsUrl(Column(r, "file_abs_url")),
        senderRefUuid(Column(r, "sender_ref_uuid")),
        senderName(Column(r, "sender_name")),
        senderRemark(Column(r, "sender_remark")),
        sendDate(Column(r, "send_date")),
        chatRefUuid(Column(r, "chat_ref_uuid")),
        chatName(Column(r, "chat_name")),
        chatRemark(Column(r, "chat_remark")) {}

  FileRecord Read(const QSqlQuery& query) const {
    FileRecord record;
    record.fileAbsUrl = Text(query, fileAbsUrl);
    record.senderRefUuid = Text(query, senderRefUuid);
    record.senderName = Text(query, senderName);
    record.senderRemark = Text(query, senderRemark);
    record.sendDate = Text(query, sendDate);
    record.chatRefUuid = Text(query, chatRefUuid);
    QString remark = Text(query, chatRemark);
    record.chatName = remark.isEmpty() ? Text(query, chatName) : remark;
    return record;
  }

  int fileAbsUrl, senderRefUuid, senderName, senderRemark, sendDate, chatRefUuid, chatName,
      chatRemark;
};

// Appends every remaining row of query, read through Columns.
template <typename Columns, typename Record>
void ReadRows(QSqlQuery& query, QList<Record>* out) {
  Columns columns(query.record());
  while (query.next()) out->append(columns.Read(query));
}

QString LikePattern(const QString& text) { return QLatin1Char('%') + text + QLatin1Char('%'); }

}  // namespace

QString AppDataDirectory() {
  return QString::fromStdString(tsl::UserDataDir()) + QStringLiteral("/QNChat");
}

ChatDatabase* ChatDatabase::Instance() {
  Q_ASSERT(QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread());
  static ChatDatabase* instance =
      new ChatDatabase(AppDataDirectory() + QLatin1String(kDatabaseFileName),
                       QLatin1String(QSqlDatabase::defaultConnection));
  return instance;
}

ChatDatabase::ChatDatabase(const QString& filePath, const QString& connectionName)
    : owner_thread_(QThread::currentThread()) {
  directory_ = QFileInfo(filePath).absolutePath();
  // The directory first, so that the driver can create the file in it.
  // A failure shows as the open failure just below.
  QDir().mkpath(directory_);
  db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
  db_.setDatabaseName(filePath);
  Open();
}

ChatDatabase::~ChatDatabase() {
  AssertOwnerThread();
  QString name = db_.connectionName();
  db_.close();
  db_ = QSqlDatabase();
  QSqlDatabase::removeDatabase(name);
}

void ChatDatabase::AssertOwnerThread() const {
  Q_ASSERT(QThread::currentThread() == owner_thread_);
}

void ChatDatabase::Open() {
  if (!db_.open()) {
    LogMessage(kLogWarning, "Error: failed to connect to database.");
    return;
  }
  LogMessage(kLogInfo, "connect database success");
  connected_ = CreateTables();
  if (!connected_) return;

  QString error;
  {
    QSqlQuery query(db_);
    if (!Execute(db_, &query, QLatin1String(kHistoryIndex), {}, &error)) {
      LogMessage(kLogWarning, "Failed to CREATE index %s: %s", kHistoryIndexName,
                 error.toUtf8().constData());
    }
  }
  for (const char* pragma : {kJournalMode, kSynchronous}) {
    QSqlQuery query(db_);
    if (!Execute(db_, &query, QLatin1String(pragma), {}, &error)) {
      LogMessage(kLogWarning, "Failed to set %s: %s", pragma, error.toUtf8().constData());
    }
  }
}

bool ChatDatabase::CreateTables() {
  for (const TableStatement& table : kTables) {
    QSqlQuery query(db_);
    QString error;
    if (!Execute(db_, &query, QLatin1String(table.sql), {}, &error)) {
      LogMessage(kLogWarning, "Failed to CREATE table %s: %s", table.name,
                 error.toUtf8().constData());
      return false;
    }
    LogMessage(kLogInfo, "%s table created successfully!", table.name);
  }
  return true;
}

bool ChatDatabase::SaveContact(const BusinessCardInfo& card) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("INSERT OR REPLACE INTO contact_info (name, device, uuid, "
                                   "section,position, telephone, email, remark) VALUES (:name, "
                                   ":device, :uuid, :section, :position, :telephone, :email, "
                                   ":remark)"),
                    {{":name", card.nickName},
                     {":device", card.device},
                     {":uuid", card.uuid},
                     {":section", card.section},
                     {":position", card.position},
                     {":telephone", card.telephone},
                     {":email", card.email},
                     {":remark", card.remark}},
                    &error);
  LogOutcome(ok, "Data INSERTed successfully!", "Failed to INSERT data : %s", error);
  return ok;
}

QList<BusinessCardInfo> ChatDatabase::LoadContacts() {
  AssertOwnerThread();
  QList<BusinessCardInfo> cards;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query, QStringLiteral("SELECT * FROM contact_info"), {}, &error);
  LogOutcome(ok, "Query executed successfully!", "Query error:: %s", error);
  if (ok) ReadRows<CardColumns>(query, &cards);
  return cards;
}

QList<BusinessCardInfo> ChatDatabase::SearchContacts(const QString& text) {
  AssertOwnerThread();
  QList<BusinessCardInfo> cards;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("SELECT ci.* FROM contact_info ci WHERE ci.name LIKE "
                                   ":queryInfo OR ci.remark LIKE :queryInfo"),
                    {{":queryInfo", LikePattern(text)}}, &error);
  LogOutcome(ok, nullptr, "Failed to execute SELECT query: %s", error);
  if (ok) ReadRows<CardColumns>(query, &cards);
  return cards;
}

bool ChatDatabase::SaveGroup(const QString& groupUuid, const QString& groupName) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("INSERT OR REPLACE INTO group_info (group_uuid, group_name) "
                                   "VALUES (:group_uuid, :group_name)"),
                    {{":group_uuid", groupUuid}, {":group_name", groupName}}, &error);
  LogOutcome(ok, "Record INSERTed into group_info successfully!",
             "Failed to INSERT into group_info: %s", error);
  return ok;
}

bool ChatDatabase::DeleteGroup(const QString& groupUuid) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("DELETE FROM group_info WHERE group_uuid = :group_uuid"),
                    {{":group_uuid", groupUuid}}, &error);
  LogOutcome(ok, "Record DELETE from group_info successfully!",
             "Failed to DELETE from group_info: %s", error);
  return ok;
}

QList<GroupInfo> ChatDatabase::LoadGroups() {
  AssertOwnerThread();
  QList<GroupInfo> groups;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query, QStringLiteral("SELECT * FROM group_info"), {}, &error);
  LogOutcome(ok, "Query executed successfully!", "Query error:: %s", error);
  if (ok) {
    QSqlRecord record = query.record();
    int groupUuid = Column(record, "group_uuid"), groupName = Column(record, "group_name");
    while (query.next()) groups.append({Text(query, groupUuid), Text(query, groupName)});
  }
  return groups;
}

bool ChatDatabase::SetContactGroup(const QString& contactUuid, const QString& groupUuid) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("INSERT OR REPLACE INTO contact_group_info (group_ref_uuid, "
                                   "contact_ref_uuid) VALUES (:groupUuid, :contactUuid)"),
                    {{":groupUuid", groupUuid}, {":contactUuid", contactUuid}}, &error);
  LogOutcome(ok, "Record INSERTed into contact_group_info successfully!",
             "Failed to INSERT into contact_group_info: %s", error);
  return ok;
}

QString ChatDatabase::GetContactGroup(const QString& contactUuid) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  // The uuid comes from a remote peer: bound, never spliced into the text.
  bool ok = Execute(db_, &query,
                    QStringLiteral("SELECT group_ref_uuid FROM contact_group_info WHERE "
                                   "contact_ref_uuid = :contactUuid"),
                    {{":contactUuid", contactUuid}}, &error);
  LogOutcome(ok, "Query executed successfully!", "Query error:: %s", error);
  if (ok && query.next()) return Text(query, Column(query.record(), "group_ref_uuid"));
  return QString();
}

bool ChatDatabase::SaveChatListEntry(const QString& uuid, const QString& chatRoomUuid,
                                     const QString& date, const QString& content,
                                     bool noDisturbing, int newMessageCount) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(
      db_, &query,
      QStringLiteral("INSERT OR REPLACE INTO chat_list_info (content, date, reference_uuid, "
                     "no_disturbing, chat_room_uuid, new_message_count) VALUES (:content, :date, "
                     ":uuid, :no_disturbing, :chat_room_uuid, :new_message_count)"),
      {{":content", content},
       {":date", date},
       {":uuid", uuid},
       {":no_disturbing", noDisturbing},
       {":chat_room_uuid", chatRoomUuid},
       {":new_message_count", newMessageCount}},
      &error);
  LogOutcome(ok, "Record INSERTed into chat_list_info successfully!",
             "Failed to INSERT into chat_list_info: %s", error);
  return ok;
}

QList<ChatListRecord> ChatDatabase::LoadChatList() {
  AssertOwnerThread();
  QList<ChatListRecord> records;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("SELECT ci.*, cli.* FROM contact_info ci JOIN chat_list_info "
                                   "cli ON ci.uuid = cli.reference_uuid ORDER BY date ASC"),
                    {}, &error);
  LogOutcome(ok, "JOIN query executed successfully!", "Failed to execute JOIN query: %s", error);
  if (ok) ReadRows<ChatListColumns>(query, &records);
  return records;
}

QList<ChatListRecord> ChatDatabase::SearchChatList(const QString& text) {
  AssertOwnerThread();
  QList<ChatListRecord> records;
  QSqlQuery query(db_);
  QString error;
  bool ok;
  if (text.isEmpty()) {
    ok = Execute(db_, &query,
                 QStringLiteral("SELECT ci.*, cli.* FROM contact_info ci JOIN chat_list_info cli "
                                "ON ci.uuid = cli.reference_uuid ORDER BY date DESC"),
                 {}, &error);
  } else {
    ok = Execute(db_, &query,
                 QStringLiteral("SELECT ci.*, cli.* FROM contact_info ci JOIN chat_list_info cli "
                                "ON ci.uuid = cli.reference_uuid WHERE ci.name LIKE :queryInfo OR "
                                "ci.remark LIKE :queryInfo ORDER BY cli.date DESC"),
                 {{":queryInfo", LikePattern(text)}}, &error);
  }
  LogOutcome(ok, "JOIN query executed successfully!", "Failed to execute JOIN query: %s", error);
  if (ok) ReadRows<ChatListColumns>(query, &records);
  return records;
}

bool ChatDatabase::SaveHistory(const QString& chatRoomUuid, const QString& senderUuid,
                               const QString& sendDate, int messageType, const QString& content) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("INSERT OR REPLACE INTO chat_history_info (chat_room_uuid, "
                                   "sender_uuid, send_date, message_type, content) VALUES "
                                   "(:chatRoomUuid, :senderUuid, :sendDate, :msgType, :content)"),
                    {{":chatRoomUuid", chatRoomUuid},
                     {":senderUuid", senderUuid},
                     {":sendDate", sendDate},
                     {":msgType", messageType},
                     {":content", content}},
                    &error);
  LogOutcome(ok, "Record INSERTed into chat_history_info successfully!",
             "Failed to INSERT into chat_history_info: %s", error);
  return ok;
}

QList<ChatHistoryRecord> ChatDatabase::LoadHistory(const QString& chatRoomUuid, int limit) {
  AssertOwnerThread();
  QList<ChatHistoryRecord> records;
  QSqlQuery query(db_);
  QString error;
  // The room uuid is a remote peer's choice, so it is bound. The id breaks
  // ties between messages of the same second (a text and its images). The
  // newest rows are read straight off the (room, date) index, newest first,
  // and turned round here: sorting them again in SQL would cost a
  // temporary B-tree per call.
  bool ok = Execute(db_, &query,
                    QStringLiteral("SELECT * FROM chat_history_info WHERE chat_room_uuid = "
                                   ":chatRoomUuid ORDER BY send_date DESC, id DESC LIMIT :limit"),
                    {{":chatRoomUuid", chatRoomUuid}, {":limit", limit}}, &error);
  LogOutcome(ok, "Query executed successfully!", "Query error:: %s", error);
  if (ok) ReadRows<HistoryColumns>(query, &records);
  std::reverse(records.begin(), records.end());
  return records;
}

bool ChatDatabase::SaveFileRecord(const QString& fileAbsUrl, const QString& senderUuid,
                                  const QString& sendDate, const QString& chatUuid) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("INSERT OR REPLACE INTO file_record_info (file_abs_url, "
                                   "sender_ref_uuid, send_date, chat_ref_uuid) VALUES "
                                   "(:fileAbsUrl, :senderUuid, :sendDate, :chatUuid)"),
                    {{":fileAbsUrl", fileAbsUrl},
                     {":senderUuid", senderUuid},
                     {":sendDate", sendDate},
                     {":chatUuid", chatUuid}},
                    &error);
  LogOutcome(ok, "Record INSERTed into file_record_info successfully!",
             "Failed to INSERT into file_record_info: %s", error);
  return ok;
}

bool ChatDatabase::DeleteFileRecord(const QString& fileAbsUrl) {
  AssertOwnerThread();
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QStringLiteral("DELETE FROM file_record_info WHERE file_abs_url = :file_path"),
                    {{":file_path", fileAbsUrl}}, &error);
  LogOutcome(ok, "Record DELETE from file_record_info successfully!",
             "Failed to DELETE from file_record_info: %s", error);
  return ok;
}

QList<FileRecord> ChatDatabase::LoadFileRecords() {
  AssertOwnerThread();
  QList<FileRecord> records;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QLatin1String(kFileRecordSelect) + QStringLiteral("ORDER BY send_date DESC"),
                    {}, &error);
  LogOutcome(ok, "Query executed successfully!", "Query error:: %s", error);
  if (ok) ReadRows<FileRecordColumns>(query, &records);
  return records;
}

QList<FileRecord> ChatDatabase::SearchFileRecords(const QString& text) {
  AssertOwnerThread();
  QList<FileRecord> records;
  QSqlQuery query(db_);
  QString error;
  bool ok = Execute(db_, &query,
                    QLatin1String(kFileRecordSelect) +
                        QStringLiteral("WHERE file_record_info.file_abs_url LIKE :queryInfo "
                                       "ORDER BY send_date DESC"),
                    {{":queryInfo", LikePattern(text)}}, &error);
  LogOutcome(ok, "Query custom info executed successfully!", "Query error:: %s", error);
  if (ok) ReadRows<FileRecordColumns>(query, &records);
  return records;
}

void ChatDatabase::Close() {
  AssertOwnerThread();
  LogMessage(kLogInfo, "Close database.");
  db_.close();
  connected_ = false;
}
