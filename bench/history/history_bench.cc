// The chat database's history and conversation reads against the plain
// SQLite C interface running the very same statements (recorded from the
// driver through SQLite's trace hook) on the same file:
//  1. SaveHistory, one message per transaction, under each journal mode and
//     synchronous level (the choice the database makes is the last pair);
//  2. 1,000,000 history rows in 200 rooms; the query plan of LoadHistory must
//     use the (room, date) index and no temporary B-tree;
//  3. LoadHistory(room, 20) on random rooms, ours / C interface;
//  4. SaveHistory on the big file, ours / C interface;
//  5. LoadChatList over 1,000 conversations, ours / C interface.
// The database's log lines go to a sink that drops them, so the figures are
// those of the queries. Exits non-zero when the plan is wrong or a result
// differs between the two sides.
//
// Usage: history_bench [--dir DIR] [--rows N] [--rooms N] [--loads N]
// DIR (default /var/tmp) must be on a disk, not in memory, for the write
// figures to mean anything.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/log.h"
#include "store/chat_database.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// This thread's processor time: on a machine shared with other work the
// wall clock also counts the time the thread waited for a processor.
double CpuNow() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// Best wall and processor times of several runs of one side.
struct Best {
  double wall = 1e9, cpu = 1e9;
  template <typename Run>
  void Time(Run run) {
    Clock::time_point start = Clock::now();
    double cpuStart = CpuNow();
    run();
    cpu = std::min(cpu, CpuNow() - cpuStart);
    wall = std::min(wall, Seconds(start));
  }
};

void DropLog(int, const char*, va_list, void*) {}

// Statements run by any connection while recording is on.
bool g_recording = false;
std::vector<std::string> g_recorded;

int TraceStatement(unsigned, void*, void*, void* text) {
  if (g_recording) g_recorded.emplace_back(static_cast<const char*>(text));
  return 0;
}

int InstallTrace(sqlite3* db, const char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &TraceStatement, nullptr);
  return SQLITE_OK;
}

// The one statement the call ran.
template <typename Call>
std::string StatementOf(Call call) {
  g_recorded.clear();
  g_recording = true;
  call();
  g_recording = false;
  if (g_recorded.size() != 1) {
    fprintf(stderr, "expected one statement, saw %zu\n", g_recorded.size());
    exit(1);
  }
  return g_recorded[0];
}

sqlite3* OpenRaw(const QString& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
    fprintf(stderr, "open %s: %s\n", qPrintable(path), sqlite3_errmsg(db));
    exit(1);
  }
  return db;
}

void ExecRaw(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    fprintf(stderr, "%s: %s\n", sql, error);
    exit(1);
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    fprintf(stderr, "prepare %s: %s\n", sql.c_str(), sqlite3_errmsg(db));
    exit(1);
  }
  return stmt;
}

void BindText(sqlite3_stmt* stmt, const char* name, const std::string& value) {
  sqlite3_bind_text(stmt, sqlite3_bind_parameter_index(stmt, name), value.data(),
                    static_cast<int>(value.size()), SQLITE_TRANSIENT);
}

void BindInt(sqlite3_stmt* stmt, const char* name, int value) {
  sqlite3_bind_int(stmt, sqlite3_bind_parameter_index(stmt, name), value);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, sqlite3_column_bytes(stmt, column)) : std::string();
}

int ColumnIndex(sqlite3_stmt* stmt, const char* name) {
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
    if (strcmp(sqlite3_column_name(stmt, i), name) == 0) return i;
  }
  fprintf(stderr, "no column %s\n", name);
  exit(1);
}

struct RawHistory {
  std::string room, sender, date, content;
  int type;
};

// What LoadHistory does, through the C interface: prepare, bind, step, copy
// the row out, turn the list round.
std::vector<RawHistory> RawLoadHistory(sqlite3* db, sqlite3_stmt* cached, const std::string& sql,
                                       const std::string& room, int limit) {
  sqlite3_stmt* stmt = cached ? cached : Prepare(db, sql);
  BindText(stmt, ":chatRoomUuid", room);
  BindInt(stmt, ":limit", limit);
  std::vector<RawHistory> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    rows.push_back({ColumnText(stmt, 1), ColumnText(stmt, 2), ColumnText(stmt, 3),
                    ColumnText(stmt, 5), sqlite3_column_int(stmt, 4)});
  }
  std::reverse(rows.begin(), rows.end());
  if (cached) {
    sqlite3_reset(stmt);
  } else {
    sqlite3_finalize(stmt);
  }
  return rows;
}

// What LoadChatList does, through the C interface; returns the row count.
int RawLoadChatList(sqlite3* db, const std::string& sql) {
  struct Row {
    std::string name, device, uuid, section, position, telephone, email, remark, room, date,
        content;
    bool mute;
    int count;
  };
  static const char* kColumns[] = {"name",      "device",         "uuid",    "section", "position",
                                   "telephone", "email",          "remark",  "chat_room_uuid",
                                   "date",      "content",        "no_disturbing",
                                   "new_message_count"};
  sqlite3_stmt* stmt = Prepare(db, sql);
  int index[13];
  for (int c = 0; c < 13; ++c) index[c] = ColumnIndex(stmt, kColumns[c]);
  std::vector<Row> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    rows.push_back({ColumnText(stmt, index[0]), ColumnText(stmt, index[1]),
                    ColumnText(stmt, index[2]), ColumnText(stmt, index[3]),
                    ColumnText(stmt, index[4]), ColumnText(stmt, index[5]),
                    ColumnText(stmt, index[6]), ColumnText(stmt, index[7]),
                    ColumnText(stmt, index[8]), ColumnText(stmt, index[9]),
                    ColumnText(stmt, index[10]), sqlite3_column_int(stmt, index[11]) != 0,
                    sqlite3_column_int(stmt, index[12])});
  }
  sqlite3_finalize(stmt);
  return static_cast<int>(rows.size());
}

std::string Date(long second) {
  // 2023-01-01 00:00:00 plus second, in a plain calendar of 28-day months:
  // only the order of the texts matters here.
  long day = second / 86400, rest = second % 86400;
  char text[32];
  snprintf(text, sizeof(text), "%04ld-%02ld-%02ld %02ld:%02ld:%02ld", 2023 + day / 336,
           1 + (day / 28) % 12, 1 + day % 28, rest / 3600, (rest / 60) % 60, rest % 60);
  return text;
}

struct Options {
  QString dir = "/var/tmp";
  long rows = 1000000;
  int rooms = 200;
  int loads = 20000;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--dir") options.dir = argv[i + 1];
    else if (flag == "--rows") options.rows = atol(argv[i + 1]);
    else if (flag == "--rooms") options.rooms = atoi(argv[i + 1]);
    else if (flag == "--loads") options.loads = atoi(argv[i + 1]);
    else {
      fprintf(stderr, "usage: history_bench [--dir DIR] [--rows N] [--rooms N] [--loads N]\n");
      exit(2);
    }
  }
  return options;
}

// SaveHistory rate on a fresh file under one journal mode and synchronous
// level, set on the database's own connection.
void MeasureJournalMode(const QString& dir, const char* journal, const char* sync, int count,
                        bool chosen) {
  QString path = dir + "/modes-" + journal + "-" + sync + ".db";
  QString name = QString("modes-%1-%2").arg(journal, sync);
  double seconds;
  {
    ChatDatabase db(path, name);
    QSqlQuery pragma(QSqlDatabase::database(name));
    pragma.exec(QString("PRAGMA journal_mode=%1").arg(journal));
    pragma.exec(QString("PRAGMA synchronous=%1").arg(sync));
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
      db.SaveHistory("ROOM", "SENDER", QString::fromStdString(Date(i)), 0,
                     "<p>a message of ordinary length, about sixty bytes</p>");
    }
    seconds = Seconds(start);
  }
  printf("  %-6s %-6s %8.0f messages/s  %7.3f ms each%s\n", journal, sync, count / seconds,
         seconds * 1000 / count, chosen ? "   <- the database's setting" : "");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Options options = ParseOptions(argc, argv);
  SetLogSink(&DropLog, nullptr);
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(&InstallTrace));

  QTemporaryDir temp(options.dir + "/qnchat-history-XXXXXX");
  if (!temp.isValid()) {
    fprintf(stderr, "cannot make a directory in %s\n", qPrintable(options.dir));
    return 1;
  }
  printf("files in %s, SQLite %s\n", qPrintable(temp.path()), sqlite3_libversion());

  // 1. Journal modes.
  printf("SaveHistory, one message per transaction, fresh file:\n");
  const struct {
    const char* journal;
    const char* sync;
  } modes[] = {{"DELETE", "FULL"}, {"DELETE", "NORMAL"}, {"WAL", "FULL"}, {"WAL", "NORMAL"}};
  for (const auto& mode : modes) {
    MeasureJournalMode(temp.path(), mode.journal, mode.sync, 500, &mode == &modes[3]);
  }

  // 2. The big file. The database creates it (schema, index, pragmas); the
  // rows go in through the C interface in one transaction.
  QString path = temp.path() + "/QNChat.db";
  ChatDatabase db(path, "bench");
  if (!db.IsConnected()) {
    fprintf(stderr, "database did not open\n");
    return 1;
  }
  std::vector<std::string> rooms;
  for (int i = 0; i < options.rooms; ++i) {
    rooms.push_back(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString());
  }
  std::string saveSql = StatementOf(
      [&] { db.SaveHistory("warm-up", "me", "2022-12-31 23:59:59", 0, "first"); });
  sqlite3* raw = OpenRaw(path);
  ExecRaw(raw, "PRAGMA synchronous=NORMAL");
  {
    Clock::time_point start = Clock::now();
    ExecRaw(raw, "BEGIN");
    sqlite3_stmt* insert = Prepare(raw, saveSql);
    unsigned seed = 12345;
    for (long i = 0; i < options.rows; ++i) {
      seed = seed * 1103515245u + 12345u;
      const std::string& room = rooms[(seed >> 8) % rooms.size()];
      BindText(insert, ":chatRoomUuid", room);
      BindText(insert, ":senderUuid", (seed >> 4) & 1 ? room : std::string("ME"));
      BindText(insert, ":sendDate", Date(i / 3));  // three messages a second
      BindInt(insert, ":msgType", (seed >> 12) % 10 == 0);
      BindText(insert, ":content", "<p>message " + std::to_string(i) + " of an ordinary chat</p>");
      if (sqlite3_step(insert) != SQLITE_DONE) {
        fprintf(stderr, "insert: %s\n", sqlite3_errmsg(raw));
        return 1;
      }
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ExecRaw(raw, "COMMIT");
    printf("%ld history rows in %d rooms written in %.1f s\n", options.rows, options.rooms,
           Seconds(start));
  }

  // The plan of the statement LoadHistory runs.
  std::string loadSql = StatementOf([&] { db.LoadHistory(QString::fromStdString(rooms[0]), 20); });
  printf("LoadHistory runs: %s\nquery plan:\n", loadSql.c_str());
  bool usesIndex = false, sorts = false;
  {
    sqlite3_stmt* plan = Prepare(raw, "EXPLAIN QUERY PLAN " + loadSql);
    BindText(plan, ":chatRoomUuid", rooms[0]);
    BindInt(plan, ":limit", 20);
    while (sqlite3_step(plan) == SQLITE_ROW) {
      std::string detail = ColumnText(plan, 3);
      printf("  %s\n", detail.c_str());
      usesIndex |= detail.find("USING INDEX chat_history_room_date") != std::string::npos;
      sorts |= detail.find("TEMP B-TREE") != std::string::npos;
    }
    sqlite3_finalize(plan);
  }
  printf("plan: %s, %s\n", usesIndex ? "uses the (room, date) index" : "DOES NOT USE THE INDEX",
         sorts ? "SORTS IN A TEMPORARY B-TREE" : "no temporary B-tree");

  // 3. LoadHistory(room, 20), both sides on the same rooms, alternating
  // rounds so that neither profits from a warmer cache.
  std::vector<int> order(options.loads);
  unsigned seed = 777;
  for (int& room : order) {
    seed = seed * 1103515245u + 12345u;
    room = (seed >> 8) % rooms.size();
  }
  std::vector<QString> qrooms;
  for (const std::string& room : rooms) qrooms.push_back(QString::fromStdString(room));
  // Same rows on both sides.
  bool same = true;
  for (int r = 0; r < options.rooms; r += 17) {
    QList<ChatHistoryRecord> ours = db.LoadHistory(qrooms[r], 20);
    std::vector<RawHistory> theirs = RawLoadHistory(raw, nullptr, loadSql, rooms[r], 20);
    same &= ours.size() == static_cast<int>(theirs.size()) && ours.size() == 20;
    for (int i = 0; same && i < ours.size(); ++i) {
      same &= ours[i].content.toStdString() == theirs[i].content &&
              ours[i].sendDate.toStdString() == theirs[i].date;
    }
  }
  if (!same) fprintf(stderr, "LoadHistory and the C interface disagree\n");

  sqlite3_stmt* cached = Prepare(raw, loadSql);
  Best ours, theirs, kept;
  for (int round = 0; round < 5; ++round) {
    size_t sink = 0;
    ours.Time([&] {
      for (int room : order) sink += db.LoadHistory(qrooms[room], 20).size();
    });
    theirs.Time([&] {
      for (int room : order) sink += RawLoadHistory(raw, nullptr, loadSql, rooms[room], 20).size();
    });
    kept.Time([&] {
      for (int room : order) sink += RawLoadHistory(raw, cached, loadSql, rooms[room], 20).size();
    });
    if (sink != 3u * 20u * order.size()) same = false;
  }
  sqlite3_finalize(cached);
  double perCall = 1e6 / options.loads;
  printf("LoadHistory(room, 20), best of 5 rounds of %d calls (wall / processor time):\n",
         options.loads);
  printf("  ChatDatabase                              %7.1f / %7.1f us/call\n", ours.wall * perCall,
         ours.cpu * perCall);
  printf("  C interface, prepared each call (as ours) %7.1f / %7.1f us/call\n",
         theirs.wall * perCall, theirs.cpu * perCall);
  printf("  C interface, statement kept               %7.1f / %7.1f us/call\n", kept.wall * perCall,
         kept.cpu * perCall);
  printf("  ratio ours / C interface: %.2fx wall, %.2fx processor (target <= 3x)\n",
         ours.wall / theirs.wall, ours.cpu / theirs.cpu);

  // 4. SaveHistory on the big file, one message per transaction.
  {
    const int count = 2000;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
      db.SaveHistory(qrooms[i % qrooms.size()], "ME", QString::fromStdString(Date(400000 + i)), 0,
                     "<p>a message of ordinary length, about sixty bytes</p>");
    }
    double ours = Seconds(start);
    start = Clock::now();
    for (int i = 0; i < count; ++i) {
      sqlite3_stmt* insert = Prepare(raw, saveSql);
      BindText(insert, ":chatRoomUuid", rooms[i % rooms.size()]);
      BindText(insert, ":senderUuid", "ME");
      BindText(insert, ":sendDate", Date(500000 + i));
      BindInt(insert, ":msgType", 0);
      BindText(insert, ":content", "<p>a message of ordinary length, about sixty bytes</p>");
      sqlite3_step(insert);
      sqlite3_finalize(insert);
    }
    double theirs = Seconds(start);
    printf("SaveHistory on the big file, %d messages one per transaction:\n", count);
    printf("  ChatDatabase %8.0f messages/s, C interface %8.0f messages/s, ratio %.2fx\n",
           count / ours, count / theirs, ours / theirs);
  }

  // 5. 1,000 conversations.
  {
    for (int i = 0; i < 1000; ++i) {
      BusinessCardInfo card;
      card.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
      card.nickName = QString("contact %1").arg(i);
      card.device = QString("pc-%1").arg(i);
      card.section = "section";
      card.position = "position";
      card.telephone = "123456";
      card.email = "someone@example.org";
      db.SaveContact(card);
      db.SaveChatListEntry(card.uuid, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                           QString::fromStdString(Date(1000 * i)), "<p>last message</p>", i % 7 == 0,
                           i % 5);
    }
    std::string listSql = StatementOf([&] { db.LoadChatList(); });
    const int calls = 50;
    Best ours, theirs;
    int ourRows = 0, rawRows = 0;
    for (int round = 0; round < 5; ++round) {
      ours.Time([&] {
        for (int i = 0; i < calls; ++i) ourRows = db.LoadChatList().size();
      });
      theirs.Time([&] {
        for (int i = 0; i < calls; ++i) rawRows = RawLoadChatList(raw, listSql);
      });
    }
    if (ourRows != 1000 || rawRows != 1000) {
      fprintf(stderr, "LoadChatList returned %d rows, the C interface %d\n", ourRows, rawRows);
      same = false;
    }
    printf("LoadChatList with 1,000 conversations, best of 5 rounds of %d calls:\n", calls);
    printf("  ChatDatabase %6.2f / %6.2f ms/call, C interface %6.2f / %6.2f ms/call (wall / "
           "processor)\n  ratio %.2fx wall, %.2fx processor\n",
           ours.wall * 1000 / calls, ours.cpu * 1000 / calls, theirs.wall * 1000 / calls,
           theirs.cpu * 1000 / calls, ours.wall / theirs.wall, ours.cpu / theirs.cpu);
  }

  sqlite3_close(raw);
  return usesIndex && !sorts && same ? 0 : 1;
}
