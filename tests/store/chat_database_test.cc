// The chat database on real files in a temporary directory. The statements
// the driver runs are recorded through SQLite's trace hook, and the schema is
// read back with the plain C interface, independently of Qt.
#include "store/chat_database.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"

namespace {

// The six statements, in the order the tables are created.
const std::vector<std::pair<std::string, std::string>> kSchema = {
    {"chat_history_info",
     "CREATE TABLE IF NOT EXISTS chat_history_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "chat_room_uuid TEXT NOT NULL , sender_uuid TEXT NOT NULL , send_date DATETIME NOT NULL, "
     "message_type INTEGER NOT NULL DEFAULT 0, content TEXT)"},
    {"chat_list_info",
     "CREATE TABLE IF NOT EXISTS chat_list_info (id INTEGER PRIMARY KEY AUTOINCREMENT, "
     "chat_room_uuid TEXT UNIQUE, content TEXT, date DATETIME, reference_uuid TEXT UNIQUE, "
     "no_disturbing BOOLEAN DEFAULT FALSE, new_message_count INTEGER DEFAULT 0, FOREIGN KEY "
     "(reference_uuid) REFERENCES contact_info(uuid))"},
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

// Every statement any SQLite connection of this process runs, as written.
std::vector<std::string> g_traced;

int TraceStatement(unsigned, void*, void*, void* text) {
  g_traced.emplace_back(static_cast<const char*>(text));
  return 0;
}

int InstallTrace(sqlite3* db, const char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &TraceStatement, nullptr);
  return SQLITE_OK;
}

struct LogLine {
  int level;
  std::string text;
};
std::vector<LogLine> g_log;

void CollectLog(int level, const char* format, va_list args, void*) {
  char line[1024];
  vsnprintf(line, sizeof(line), format, args);
  g_log.push_back({level, line});
}

int CountLog(int level, const std::string& text) {
  int n = 0;
  for (const LogLine& line : g_log) n += line.level == level && line.text == text;
  return n;
}

int CountLogPrefix(int level, const std::string& prefix) {
  int n = 0;
  for (const LogLine& line : g_log) {
    n += line.level == level && line.text.compare(0, prefix.size(), prefix) == 0 &&
         line.text.size() > prefix.size();
  }
  return n;
}

// Reads a file with the plain C interface.
class RawDb {
 public:
  explicit RawDb(const QString& path) {
    EXPECT_EQ(SQLITE_OK, sqlite3_open(path.toUtf8().constData(), &db_));
  }
  ~RawDb() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error))
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }
  // The first column of every row, as text ("<null>" for NULL).
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr)) << sql;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(stmt, 0);
      out.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
    }
    sqlite3_finalize(stmt);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Takes CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH out of this thread's
// effective set while alive, so that root too meets file permissions.
class DacCapabilitiesDropped {
 public:
  DacCapabilitiesDropped() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    syscall(SYS_capget, &header_, saved_);
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &header_, reduced);
  }
  ~DacCapabilitiesDropped() { syscall(SYS_capset, &header_, saved_); }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
};

class ChatDatabaseTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { sqlite3_auto_extension(reinterpret_cast<void (*)()>(&InstallTrace)); }
  static void TearDownTestSuite() { sqlite3_reset_auto_extension(); }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.path() + "/data/QNChat.db";
    g_traced.clear();
    g_log.clear();
    SetLogSink(&CollectLog, nullptr);
  }
  void TearDown() override { SetLogSink(nullptr, nullptr); }

  static BusinessCardInfo Card(const QString& uuid, const QString& name, const QString& remark = "") {
    BusinessCardInfo card;
    card.uuid = uuid;
    card.nickName = name;
    card.remark = remark;
    card.device = name + "-pc";
    card.section = "section " + name;
    card.position = "position " + name;
    card.telephone = "tel " + name;
    card.email = name + "@example.org";
    return card;
  }

  QTemporaryDir dir_;
  QString path_;
};

TEST_F(ChatDatabaseTest, CreatesTheSixTablesInOrderWithTheirStatementsAndTheHistoryIndex) {
  {
    ChatDatabase db(path_, "schema");
    EXPECT_TRUE(db.IsConnected());
  }
  // Statements reach the driver byte for byte (the trailing blank included).
  std::vector<std::string> creates;
  for (const std::string& sql : g_traced) {
    if (sql.rfind("CREATE TABLE", 0) == 0) creates.push_back(sql);
  }
  ASSERT_EQ(kSchema.size(), creates.size());
  for (size_t i = 0; i < kSchema.size(); ++i) EXPECT_EQ(kSchema[i].second, creates[i]);

  ASSERT_GE(g_log.size(), 7u);
  EXPECT_EQ(30, g_log[0].level);
  EXPECT_EQ("connect database success", g_log[0].text);
  for (size_t i = 0; i < kSchema.size(); ++i) {
    EXPECT_EQ(30, g_log[i + 1].level);
    EXPECT_EQ(kSchema[i].first + " table created successfully!", g_log[i + 1].text);
  }

  // SQLite keeps the text from the table name on, without "IF NOT EXISTS"
  // and without what follows the closing parenthesis.
  RawDb raw(path_);
  for (const auto& [name, sql] : kSchema) {
    std::string stored = "CREATE TABLE " + sql.substr(std::string("CREATE TABLE IF NOT EXISTS ").size());
    while (stored.back() == ' ') stored.pop_back();
    EXPECT_EQ(std::vector<std::string>{stored},
              raw.Column("SELECT sql FROM sqlite_master WHERE type='table' AND name='" + name + "'"));
  }
  EXPECT_EQ((std::vector<std::string>{"chat_room_uuid", "send_date"}),
            raw.Column("SELECT name FROM pragma_index_info((SELECT name FROM sqlite_master WHERE "
                       "type='index' AND tbl_name='chat_history_info' AND sql IS NOT NULL))"));
}

TEST_F(ChatDatabaseTest, AnOlderFileKeepsItsRowsAndGainsTheIndex) {
  QDir().mkpath(dir_.path() + "/data");
  {
    RawDb raw(path_);
    for (const auto& table : kSchema) raw.Exec(table.second);
    raw.Exec("INSERT INTO chat_history_info (chat_room_uuid, sender_uuid, send_date, message_type, "
             "content) VALUES ('room', 'me', '2024-01-02 03:04:05', 0, 'kept')");
  }
  ChatDatabase db(path_, "old");
  ASSERT_TRUE(db.IsConnected());
  QList<ChatHistoryRecord> history = db.LoadHistory("room", 20);
  ASSERT_EQ(1, history.size());
  EXPECT_EQ("kept", history[0].content);
  RawDb raw(path_);
  EXPECT_EQ(std::vector<std::string>{"1"},
            raw.Column("SELECT count(*) FROM sqlite_master WHERE type='index' AND "
                       "tbl_name='chat_history_info' AND sql IS NOT NULL"));
}

TEST_F(ChatDatabaseTest, ContactsAreReplacedByUuidAndFoundByNameOrRemark) {
  ChatDatabase db(path_, "contacts");
  ASSERT_TRUE(db.SaveContact(Card("u1", "alice")));
  ASSERT_TRUE(db.SaveContact(Card("u2", "bob", "boss")));
  EXPECT_EQ(2, CountLog(30, "Data INSERTed successfully!"));
  RawDb raw(path_);
  std::string firstId = raw.Column("SELECT id FROM contact_info WHERE uuid='u1'").at(0);

  BusinessCardInfo renamed = Card("u1", "alicia", "friend");
  ASSERT_TRUE(db.SaveContact(renamed));
  QList<BusinessCardInfo> cards = db.LoadContacts();
  EXPECT_EQ(1, CountLog(30, "Query executed successfully!"));
  ASSERT_EQ(2, cards.size());
  const BusinessCardInfo& loaded = cards[0].uuid == "u1" ? cards[0] : cards[1];
  EXPECT_EQ("alicia", loaded.nickName);
  EXPECT_EQ("friend", loaded.remark);
  EXPECT_EQ("alicia-pc", loaded.device);
  EXPECT_EQ("section alicia", loaded.section);
  EXPECT_EQ("position alicia", loaded.position);
  EXPECT_EQ("tel alicia", loaded.telephone);
  EXPECT_EQ("alicia@example.org", loaded.email);
  EXPECT_EQ(0, loaded.online);
  EXPECT_NE(firstId, raw.Column("SELECT id FROM contact_info WHERE uuid='u1'").at(0));

  // One bound value serves both LIKEs.
  ASSERT_EQ(1, db.SearchContacts("bos").size());
  EXPECT_EQ("u2", db.SearchContacts("bos")[0].uuid);
  EXPECT_EQ("u1", db.SearchContacts("lic").value(0).uuid);
  EXPECT_EQ(2, db.SearchContacts("_").size());  // a LIKE wildcard
  EXPECT_TRUE(db.SearchContacts("nobody").isEmpty());
}

TEST_F(ChatDatabaseTest, GroupsAndMembershipWithUuidsHoldingQuotes) {
  ChatDatabase db(path_, "groups");
  ASSERT_TRUE(db.SaveGroup("g1", "friends"));
  ASSERT_TRUE(db.SaveGroup("g'2", "work"));
  ASSERT_TRUE(db.SaveGroup("g1", "old friends"));
  EXPECT_EQ(3, CountLog(30, "Record INSERTed into group_info successfully!"));
  QList<GroupInfo> groups = db.LoadGroups();
  ASSERT_EQ(2, groups.size());
  EXPECT_EQ("g'2", groups[0].groupUuid);
  EXPECT_EQ("g1", groups[1].groupUuid);
  EXPECT_EQ("old friends", groups[1].groupName);

  ASSERT_TRUE(db.SetContactGroup("c'1", "g'2"));
  ASSERT_TRUE(db.SetContactGroup("c2", "g1"));
  ASSERT_TRUE(db.SetContactGroup("c2", "g'2"));  // a contact is in one group
  EXPECT_EQ(3, CountLog(30, "Record INSERTed into contact_group_info successfully!"));
  EXPECT_EQ("g'2", db.GetContactGroup("c'1"));
  EXPECT_EQ("g'2", db.GetContactGroup("c2"));
  EXPECT_EQ("", db.GetContactGroup("c3"));
  // Text spliced into the statement would have matched every row here.
  EXPECT_EQ("", db.GetContactGroup("x' OR '1'='1"));
  EXPECT_EQ(0, CountLogPrefix(20, "Query error:: "));

  ASSERT_TRUE(db.DeleteGroup("g'2"));
  EXPECT_EQ(1, CountLog(30, "Record DELETE from group_info successfully!"));
  ASSERT_EQ(1, db.LoadGroups().size());
}

TEST_F(ChatDatabaseTest, ConversationListJoinsContactsAndKeepsOneEntryPerContact) {
  ChatDatabase db(path_, "chatlist");
  ASSERT_TRUE(db.SaveContact(Card("u1", "alice")));
  ASSERT_TRUE(db.SaveContact(Card("u2", "bob", "boss")));
  ASSERT_TRUE(db.SaveChatListEntry("u1", "room1", "2024-05-01 10:00:00", "hi", false, 0));
  ASSERT_TRUE(db.SaveChatListEntry("u2", "room2", "2024-05-02 10:00:00", "yo", true, 3));
  // Same contact again: replaces its entry.
  ASSERT_TRUE(db.SaveChatListEntry("u1", "room1", "2024-05-03 10:00:00", "later", false, 7));
  // No such contact: stored but never listed.
  ASSERT_TRUE(db.SaveChatListEntry("u9", "room9", "2024-05-04 10:00:00", "ghost", false, 0));
  EXPECT_EQ(4, CountLog(30, "Record INSERTed into chat_list_info successfully!"));

  QList<ChatListRecord> list = db.LoadChatList();
  EXPECT_EQ(1, CountLog(30, "JOIN query executed successfully!"));
  ASSERT_EQ(2, list.size());
  EXPECT_EQ("room2", list[0].chatRoomUuid);
  EXPECT_EQ("bob", list[0].card.nickName);
  EXPECT_EQ("boss", list[0].card.remark);
  EXPECT_TRUE(list[0].noDisturbing);
  EXPECT_EQ(3, list[0].newMessageCount);
  EXPECT_EQ("room1", list[1].chatRoomUuid);
  EXPECT_EQ("later", list[1].content);
  EXPECT_EQ("2024-05-03 10:00:00", list[1].date);
  EXPECT_FALSE(list[1].noDisturbing);
  EXPECT_EQ(7, list[1].newMessageCount);

  QList<ChatListRecord> all = db.SearchChatList("");
  ASSERT_EQ(2, all.size());
  EXPECT_EQ("room1", all[0].chatRoomUuid);  // newest first
  QList<ChatListRecord> byRemark = db.SearchChatList("oss");
  ASSERT_EQ(1, byRemark.size());
  EXPECT_EQ("u2", byRemark[0].card.uuid);
  EXPECT_EQ(2, db.SearchChatList("%").size());
}

TEST_F(ChatDatabaseTest, HistoryOfOneSecondComesBackInTheOrderItWasSaved) {
  ChatDatabase db(path_, "history");
  // Saved out of date order, and a second room in between.
  ASSERT_TRUE(db.SaveHistory("r'1", "me", "2024-06-02 09:00:00", 0, "next day"));
  ASSERT_TRUE(db.SaveHistory("other", "me", "2024-06-01 12:00:00", 0, "elsewhere"));
  ASSERT_TRUE(db.SaveHistory("r'1", "me", "2024-06-01 08:00:00", 0, "early"));
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(db.SaveHistory("r'1", i % 2 ? "me" : "you", "2024-06-01 12:00:00", i % 3 == 0,
                               QString("m%1").arg(i)));
  }
  EXPECT_EQ(33, CountLog(30, "Record INSERTed into chat_history_info successfully!"));

  // The newest 20: "next day", then the last 19 of the same second, oldest
  // first, in the order they were saved.
  QList<ChatHistoryRecord> newest = db.LoadHistory("r'1", 20);
  ASSERT_EQ(20, newest.size());
  for (int i = 0; i < 19; ++i) {
    EXPECT_EQ(QString("m%1").arg(11 + i), newest[i].content) << i;
    EXPECT_EQ("2024-06-01 12:00:00", newest[i].sendDate);
    EXPECT_EQ((11 + i) % 3 == 0 ? 1 : 0, newest[i].messageType);
  }
  EXPECT_EQ("next day", newest[19].content);
  EXPECT_EQ("r'1", newest[19].chatRoomUuid);
  EXPECT_EQ("me", newest[19].senderUuid);

  QList<ChatHistoryRecord> everything = db.LoadHistory("r'1", 100);
  ASSERT_EQ(32, everything.size());
  EXPECT_EQ("early", everything[0].content);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(QString("m%1").arg(i), everything[1 + i].content);
  EXPECT_EQ("next day", everything[31].content);

  EXPECT_TRUE(db.LoadHistory("r'", 20).isEmpty());
  EXPECT_TRUE(db.LoadHistory("x' OR '1'='1", 20).isEmpty());
  EXPECT_EQ(0, CountLogPrefix(20, "Query error:: "));
}

TEST_F(ChatDatabaseTest, FileRecordsJoinBothContacts) {
  ChatDatabase db(path_, "files");
  ASSERT_TRUE(db.SaveContact(Card("u1", "alice", "")));
  ASSERT_TRUE(db.SaveContact(Card("u2", "bob", "boss")));
  ASSERT_TRUE(db.SaveFileRecord("/save/a.txt", "u1", "2024-06-01 10:00:00", "u2"));
  ASSERT_TRUE(db.SaveFileRecord("/save/b.png", "u2", "2024-06-02 10:00:00", "u1"));
  ASSERT_TRUE(db.SaveFileRecord("/save/c.zip", "stranger", "2024-06-03 10:00:00", "u1"));
  EXPECT_EQ(3, CountLog(30, "Record INSERTed into file_record_info successfully!"));

  QList<FileRecord> records = db.LoadFileRecords();
  EXPECT_EQ(1, CountLog(30, "Query executed successfully!"));
  ASSERT_EQ(2, records.size());
  EXPECT_EQ("/save/b.png", records[0].fileAbsUrl);
  EXPECT_EQ("u2", records[0].senderRefUuid);
  EXPECT_EQ("bob", records[0].senderName);
  EXPECT_EQ("boss", records[0].senderRemark);
  EXPECT_EQ("2024-06-02 10:00:00", records[0].sendDate);
  EXPECT_EQ("u1", records[0].chatRefUuid);
  EXPECT_EQ("alice", records[0].chatName);  // no remark: the name
  EXPECT_EQ("boss", records[1].chatName);   // the remark

  QList<FileRecord> found = db.SearchFileRecords(".txt");
  EXPECT_EQ(1, CountLog(30, "Query custom info executed successfully!"));
  ASSERT_EQ(1, found.size());
  EXPECT_EQ("/save/a.txt", found[0].fileAbsUrl);

  ASSERT_TRUE(db.DeleteFileRecord("/save/a.txt"));
  EXPECT_EQ(1, CountLog(30, "Record DELETE from file_record_info successfully!"));
  ASSERT_EQ(1, db.LoadFileRecords().size());
}

// Every operation on a store that could not be opened: false or empty, and
// its own failure line.
void ExpectEveryOperationFails(ChatDatabase& db) {
  EXPECT_FALSE(db.IsConnected());
  EXPECT_FALSE(db.SaveContact(BusinessCardInfo()));
  EXPECT_TRUE(db.LoadContacts().isEmpty());
  EXPECT_TRUE(db.SearchContacts("a").isEmpty());
  EXPECT_FALSE(db.SaveGroup("g", "n"));
  EXPECT_FALSE(db.DeleteGroup("g"));
  EXPECT_TRUE(db.LoadGroups().isEmpty());
  EXPECT_FALSE(db.SetContactGroup("c", "g"));
  EXPECT_TRUE(db.GetContactGroup("c").isEmpty());
  EXPECT_FALSE(db.SaveChatListEntry("u", "r", "d", "c", false, 0));
  EXPECT_TRUE(db.LoadChatList().isEmpty());
  EXPECT_TRUE(db.SearchChatList("").isEmpty());
  EXPECT_FALSE(db.SaveHistory("r", "s", "d", 0, "c"));
  EXPECT_TRUE(db.LoadHistory("r", 20).isEmpty());
  EXPECT_FALSE(db.SaveFileRecord("f", "s", "d", "c"));
  EXPECT_FALSE(db.DeleteFileRecord("f"));
  EXPECT_TRUE(db.LoadFileRecords().isEmpty());
  EXPECT_TRUE(db.SearchFileRecords("f").isEmpty());

  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT data : "));
  EXPECT_EQ(6, CountLogPrefix(20, "Query error:: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to execute SELECT query: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT into group_info: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to DELETE from group_info: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT into contact_group_info: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT into chat_list_info: "));
  EXPECT_EQ(2, CountLogPrefix(20, "Failed to execute JOIN query: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT into chat_history_info: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to INSERT into file_record_info: "));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to DELETE from file_record_info: "));

  db.Close();
  EXPECT_EQ(1, CountLog(30, "Close database."));
}

TEST_F(ChatDatabaseTest, ADirectoryInThePlaceOfTheFileLeavesEmptyResults) {
  ASSERT_TRUE(QDir().mkpath(path_));
  ChatDatabase db(path_, "blocked");
  EXPECT_EQ(1, CountLog(20, "Error: failed to connect to database."));
  EXPECT_EQ(0, CountLog(30, "connect database success"));
  ExpectEveryOperationFails(db);
}

TEST_F(ChatDatabaseTest, AReadOnlyDirectoryLeavesEmptyResults) {
  QString readOnly = dir_.path() + "/data";
  ASSERT_TRUE(QDir().mkpath(readOnly));
  ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ExeOwner));
  {
    DacCapabilitiesDropped asPlainUser;
    ChatDatabase db(path_, "readonly");
    EXPECT_EQ(1, CountLog(20, "Error: failed to connect to database."));
    ExpectEveryOperationFails(db);
  }
  EXPECT_FALSE(QFile::exists(path_));
  QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(ChatDatabaseTest, ATableThatCannotBeCreatedStopsTheRest) {
  QDir().mkpath(dir_.path() + "/data");
  {
    // An index holding the third table's name makes its creation fail.
    RawDb raw(path_);
    raw.Exec("CREATE TABLE t (x)");
    raw.Exec("CREATE INDEX contact_group_info ON t (x)");
  }
  ChatDatabase db(path_, "clash");
  EXPECT_FALSE(db.IsConnected());
  EXPECT_EQ(1, CountLog(30, "chat_list_info table created successfully!"));
  EXPECT_EQ(1, CountLogPrefix(20, "Failed to CREATE table contact_group_info: "));
  EXPECT_EQ(0, CountLog(30, "contact_info table created successfully!"));
  RawDb raw(path_);
  EXPECT_TRUE(raw.Column("SELECT name FROM sqlite_master WHERE name='contact_info'").empty());
}

TEST_F(ChatDatabaseTest, TheProcessInstanceLivesInTheUserDataDirectory) {
  QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.path() + "/xdg"));
  ChatDatabase* db = ChatDatabase::Instance();
  EXPECT_EQ(db, ChatDatabase::Instance());
  EXPECT_TRUE(db->IsConnected());
  EXPECT_TRUE(db->SaveGroup("g", "n"));
  EXPECT_TRUE(QFile::exists(dir_.path() + "/xdg/QNChat/QNChat.db"));
  db->Close();
  if (saved.isNull()) qunsetenv("XDG_DATA_HOME"); else qputenv("XDG_DATA_HOME", saved);
}

}  // namespace
