// The file manager, its rows and the forwarding dialog over a real SQLite
// store and real files in a temporary directory; forwarding goes to a
// function that records when it was called.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>
#include <functional>

#include "resources/resources.h"
#include "store/chat_database.h"
#include "ui/files/contact_select_widget.h"
#include "ui/files/file_info_widget.h"
#include "ui/files/file_management_dialog.h"
#include "ui/files/file_mgr.h"
#include "ui/files/file_transpond_dialog.h"

namespace {

// With QNCHAT_GRAB_DIR set, a picture of the widget for review.
void Grab(QWidget* widget, const QString& name) {
  const QString dir = QString::fromLocal8Bit(qgetenv("QNCHAT_GRAB_DIR"));
  if (dir.isEmpty()) return;
  QDir().mkpath(dir);
  widget->grab().save(dir + "/" + name + ".png");
}

bool RunUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!pred()) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, static_cast<int>(left));
  }
  return true;
}

BusinessCardInfo Card(const QString& uuid, const QString& nick, const QString& remark = QString()) {
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nick;
  card.remark = remark;
  card.device = nick + "-pc";
  return card;
}

// One file of every type, from two senders, in one conversation each.
const char* const kFiles[] = {"Report.DOCX", "slides.ppt", "clip.mkv",    "photo.png", "song.mp3",
                              "pack.tar.gz", "sheet.xlsx", "manual.pdf", "tool.bin"};

class FileManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    qnres::InitResources();
    ASSERT_TRUE(dir_.isValid());
    db_ = std::make_unique<ChatDatabase>(dir_.path() + "/QNChat.db", "file_manager_test");
    ASSERT_TRUE(db_->IsConnected());
    ASSERT_TRUE(db_->SaveContact(Card("alice-uuid", "alice")));
    ASSERT_TRUE(db_->SaveContact(Card("bob-uuid", "bob", "<b>Bob</b>")));
    files_ = std::make_unique<FileMgr>(dir_.path() + "/save");
    files_->SetDatabase(db_.get());
    int i = 0;
    for (const char* name : kFiles) {
      const QString path = files_->SavePath() + "/" + name;
      if (QString(name).endsWith(".png")) {
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(path));
      } else {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100 * (i + 1), 'x'));
      }
      // alice sent the first five, bob the rest; dates rise with i.
      const bool fromAlice = i < 5;
      ASSERT_TRUE(db_->SaveFileRecord(path, fromAlice ? "alice-uuid" : "bob-uuid",
                                      QString("2024-06-0%1 10:00:00").arg(i + 1),
                                      fromAlice ? "alice-uuid" : "bob-uuid"));
      ++i;
    }
  }

  QString Path(const char* name) const { return files_->SavePath() + "/" + name; }

  static QStringList Names(const QStringList& paths) {
    QStringList names;
    for (const QString& path : paths) names << QFileInfo(path).fileName();
    return names;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ChatDatabase> db_;
  std::unique_ptr<FileMgr> files_;
};

TEST_F(FileManagerTest, FiltersBySenderAndTypeAndSearchesNamesIgnoringCase) {
  FileManagementDialog dialog(files_.get(), nullptr, nullptr);
  dialog.show();
  // Everything, newest first.
  EXPECT_EQ(QStringList({"tool.bin", "manual.pdf", "sheet.xlsx", "pack.tar.gz", "song.mp3",
                         "photo.png", "clip.mkv", "slides.ppt", "Report.DOCX"}),
            Names(dialog.Files()->Paths()));
  EXPECT_EQ(dialog.Files(), dialog.Pages()->currentWidget());
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  Grab(&dialog, "file_manager_all");

  // The type list in its order, each type showing exactly its file.
  ASSERT_EQ(9, dialog.TypeList()->count());
  EXPECT_EQ("  PDF", dialog.TypeList()->item(6)->text());
  EXPECT_EQ("  电子表格", dialog.TypeList()->item(7)->text());
  dialog.TypeButton()->setChecked(true);
  EXPECT_TRUE(dialog.TypeList()->isVisible());
  const QStringList expected = {"Report.DOCX", "slides.ppt", "clip.mkv",   "photo.png", "song.mp3",
                                "pack.tar.gz", "manual.pdf", "sheet.xlsx", "tool.bin"};
  for (int row = 0; row < 9; ++row) {
    dialog.on_fileType_lw_itemClicked(dialog.TypeList()->item(row));
    EXPECT_EQ(QStringList({expected[row]}), Names(dialog.Files()->Paths())) << row;
  }

  // One sender row per sender, shown by remark as plain text.
  dialog.SenderButton()->setChecked(true);
  ASSERT_EQ(2, dialog.SenderList()->count());
  EXPECT_EQ("  <b>Bob</b>", dialog.SenderList()->item(0)->text());
  dialog.on_sender_lw_itemClicked(dialog.SenderList()->item(1));
  EXPECT_EQ(QStringList({"song.mp3", "photo.png", "clip.mkv", "slides.ppt", "Report.DOCX"}),
            Names(dialog.Files()->Paths()));
  FileInfoWidget* row = dialog.Files()->Row(0);
  ASSERT_NE(nullptr, row);
  EXPECT_EQ("alice", row->HostNameLabel()->text());
  EXPECT_EQ("与alice的聊天", row->FileFromLabel()->text());
  EXPECT_EQ("500.00B", row->FileSizeLabel()->text());
  Grab(&dialog, "file_manager_sender");

  // Search: case-insensitive substring of the name, across every filter.
  dialog.SearchEdit()->setText("REPORT");
  EXPECT_EQ(dialog.SearchResults(), dialog.Pages()->currentWidget());
  EXPECT_EQ(QStringList({"Report.DOCX"}), Names(dialog.SearchResults()->Paths()));
  dialog.SearchEdit()->setText(".P");
  EXPECT_EQ(QStringList({"manual.pdf", "photo.png", "slides.ppt"}),
            Names(dialog.SearchResults()->Paths()));
  dialog.SearchEdit()->setText("nothing-like-it");
  EXPECT_EQ(dialog.EmptyPage(), dialog.Pages()->currentWidget());
  EXPECT_EQ("无搜索结果", dialog.EmptyLabel()->text());
  Grab(&dialog, "file_manager_no_result");
  dialog.SearchEdit()->clear();
  EXPECT_EQ(dialog.Files(), dialog.Pages()->currentWidget());

  EXPECT_TRUE(files_->RecordsByType(9).isEmpty());
  EXPECT_TRUE(files_->RecordsByType(-1).isEmpty());
}

TEST_F(FileManagerTest, DeletingARecordKeepsTheFile) {
  FileManagementDialog dialog(files_.get(), nullptr, nullptr);
  dialog.show();
  ASSERT_EQ(9, dialog.Files()->count());
  dialog.DeleteRecord(Path("song.mp3"));
  EXPECT_EQ(8, dialog.Files()->count());
  EXPECT_FALSE(Names(dialog.Files()->Paths()).contains("song.mp3"));
  EXPECT_TRUE(QFileInfo::exists(Path("song.mp3")));
  // Gone from the store too: a manager opened later does not list it.
  FileMgr later(dir_.path() + "/save");
  later.SetDatabase(db_.get());
  later.Reload();
  EXPECT_EQ(8, later.AllRecords().size());
  // A record whose file was removed meanwhile can still be cleaned away.
  ASSERT_TRUE(QFile::remove(Path("tool.bin")));
  dialog.DeleteRecord(Path("tool.bin"));
  EXPECT_EQ(7, dialog.Files()->count());
}

TEST_F(FileManagerTest, RecordsAddedFromWorkersWhileTheListIsReadReachTheStore) {
  FileManagementDialog dialog(files_.get(), nullptr, nullptr);
  dialog.show();
  // Downloads finish on worker threads while the GUI thread reads the map.
  QList<QFuture<void>> workers;
  for (int w = 0; w < 4; ++w) {
    workers << QtConcurrent::run([this, w] {
      for (int i = 0; i < 50; ++i) {
        FileMgrRecord record;
        record.file = QFileInfo(files_->SavePath() + QString("/w%1-%2.txt").arg(w).arg(i));
        record.senderUuid = "alice-uuid";
        record.senderName = "alice";
        record.sendDate = "2024-07-01 10:00:00";
        record.chatUuid = "alice-uuid";
        record.chatName = "alice";
        files_->AddFileRecord(record);
      }
    });
  }
  // The GUI thread reads (and the list refreshes) while the workers add.
  auto running = [&workers] {
    return std::any_of(workers.begin(), workers.end(),
                       [](const QFuture<void>& f) { return !f.isFinished(); });
  };
  do {
    for (const FileMgrRecord& record : files_->RecordsByType(0))
      EXPECT_TRUE(record.file.fileName().endsWith(".txt") || record.file.fileName().endsWith(".DOCX"));
    QCoreApplication::processEvents();
  } while (running());
  EXPECT_EQ(209, files_->AllRecords().size());
  EXPECT_EQ(201, files_->RecordsByType(0).size());
  // The store is written on the GUI thread; once the queue is drained a
  // reload finds every record.
  QCoreApplication::processEvents();
  files_->Reload();
  EXPECT_EQ(209, files_->AllRecords().size());
}

TEST_F(FileManagerTest, RowsShowThumbnailsPlainNamesAndMissingFiles) {
  FileMgrRecord picture;
  picture.file = QFileInfo(Path("photo.png"));
  picture.fileType = 3;
  picture.senderName = "<i>evil</i>";
  picture.chatName = "<img src=x>";
  FileInfoWidget row(picture);
  row.resize(500, 60);
  EXPECT_TRUE(RunUntil([&] { return row.HasThumbnail(); }));
  EXPECT_EQ(Qt::PlainText, row.HostNameLabel()->textFormat());
  EXPECT_EQ(Qt::PlainText, row.FileFromLabel()->textFormat());
  EXPECT_EQ("与<img src=x>的聊天", row.FileFromLabel()->text());

  FileMgrRecord gone = picture;
  gone.file = QFileInfo(Path("gone.png"));
  FileInfoWidget missing(gone);
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
  EXPECT_FALSE(missing.HasThumbnail());
  EXPECT_EQ("已删除", missing.FileSizeLabel()->text());

  // A long name is elided in the middle to fit, the full name a tool tip.
  FileMgrRecord longName = picture;
  longName.file = QFileInfo(Path(QString(200, 'n').append(".txt").toUtf8().constData()));
  FileInfoWidget elided(longName);
  elided.resize(400, 60);
  elided.show();
  EXPECT_TRUE(elided.FileNameLabel()->text().contains(QChar(0x2026)));
  EXPECT_TRUE(elided.FileNameLabel()->text().endsWith(".txt"));
  EXPECT_EQ(longName.file.fileName(), elided.FileNameLabel()->toolTip());
}

// Forwarding: calls of the send function with the time they came.
struct Sent {
  QStringList uuids;
  QList<qint64> at;
  QElapsedTimer clock;
};

TranspondContacts ThreeContacts() {
  TranspondContacts contacts;
  contacts.recentChats = {Card("a", "alice"), Card("b", "bob"), Card("c", "carol")};
  contacts.contacts = {Card("a", "alice"), Card("b", "bob"), Card("c", "carol"), Card("d", "dave")};
  contacts.isOnline = [](const QString& uuid) { return uuid != "c"; };
  return contacts;
}

TEST(FileTranspondDialogTest, ChoosingKeepsBothListsAndTheChosenListAlike) {
  FileTranspondDialog dialog("/tmp/x.txt", ThreeContacts(), nullptr);
  EXPECT_EQ(3, dialog.LastChatList()->count());
  // Online contacts only: carol is not.
  ASSERT_EQ(3, dialog.OnlineContactList()->count());
  EXPECT_FALSE(dialog.TranspondButton()->isEnabled());

  dialog.on_listWidget_last_chat_itemClicked(dialog.LastChatList()->item(1));  // bob
  EXPECT_EQ(1, dialog.SelectedList()->count());
  EXPECT_TRUE(dialog.RowWidget(dialog.OnlineContactList(), 1)->IsChecked());
  EXPECT_TRUE(dialog.TranspondButton()->isEnabled());
  // Checked in the other list: the same contact, not a second entry.
  dialog.RowWidget(dialog.OnlineContactList(), 1)->Toggle();
  EXPECT_EQ(0, dialog.SelectedList()->count());
  EXPECT_FALSE(dialog.RowWidget(dialog.LastChatList(), 1)->IsChecked());

  dialog.on_listWidget_online_contact_itemClicked(dialog.OnlineContactList()->item(2));  // dave
  ASSERT_EQ(1, dialog.SelectedList()->count());
  // The chosen row's remove button unchecks it everywhere.
  dialog.RowWidget(dialog.SelectedList(), 0)->DeleteButton()->click();
  EXPECT_EQ(0, dialog.SelectedList()->count());
  EXPECT_FALSE(dialog.RowWidget(dialog.OnlineContactList(), 2)->IsChecked());
  QCoreApplication::processEvents();

  // Search narrows both lists by name; a choice survives it.
  dialog.on_listWidget_last_chat_itemClicked(dialog.LastChatList()->item(0));  // alice
  dialog.SearchEdit()->setText("AL");
  EXPECT_EQ(1, dialog.LastChatList()->count());
  EXPECT_TRUE(dialog.RowWidget(dialog.LastChatList(), 0)->IsChecked());
  dialog.SearchEdit()->setText("zz");
  EXPECT_EQ(0, dialog.LastChatList()->count());
  EXPECT_EQ(1, dialog.Selected().size());
}

TEST(FileTranspondDialogTest, SendsToEachContactAPaceApartThenAccepts) {
  Sent sent;
  FileTranspondDialog dialog("/tmp/x.txt", ThreeContacts(),
                             [&sent](const QString& path, const BusinessCardInfo& card) {
                               EXPECT_EQ("/tmp/x.txt", path);
                               sent.uuids << card.uuid;
                               sent.at << sent.clock.elapsed();
                             });
  for (int i = 0; i < 3; ++i)
    dialog.on_listWidget_last_chat_itemClicked(dialog.LastChatList()->item(i));
  QSignalSpy accepted(&dialog, &QDialog::accepted);
  QSignalSpy rejected(&dialog, &QDialog::rejected);
  sent.clock.start();
  dialog.TranspondButton()->click();
  EXPECT_EQ(1, dialog.Pages()->currentIndex());
  EXPECT_EQ(3, dialog.Progress()->maximum());
  ASSERT_TRUE(RunUntil([&] { return accepted.count() == 1; }));
  EXPECT_EQ(QStringList({"a", "b", "c"}), sent.uuids);
  EXPECT_EQ(3, dialog.Progress()->value());
  // Timers never fire early: each send at least the pace after the one before.
  ASSERT_EQ(3, sent.at.size());
  EXPECT_GE(sent.at[1] - sent.at[0], FileTranspondDialog::kPaceMs - 1);
  EXPECT_GE(sent.at[2] - sent.at[1], FileTranspondDialog::kPaceMs - 1);
  EXPECT_EQ(0, rejected.count());
}

TEST(FileTranspondDialogTest, StopEndsAfterTheSendUnderWay) {
  QStringList sent;
  FileTranspondDialog* dialog = nullptr;
  FileTranspondDialog owned("/tmp/x.txt", ThreeContacts(),
                            [&](const QString&, const BusinessCardInfo& card) {
                              sent << card.uuid;
                              // The user presses "中止" while the first goes out.
                              if (sent.size() == 1) dialog->StopButton()->click();
                            });
  dialog = &owned;
  for (int i = 0; i < 3; ++i)
    owned.on_listWidget_last_chat_itemClicked(owned.LastChatList()->item(i));
  QSignalSpy accepted(&owned, &QDialog::accepted);
  QSignalSpy rejected(&owned, &QDialog::rejected);
  owned.TranspondButton()->click();
  ASSERT_TRUE(RunUntil([&] { return rejected.count() == 1; }));
  EXPECT_EQ(QStringList({"a"}), sent);
  EXPECT_EQ(0, accepted.count());
}

TEST_F(FileManagerTest, ForwardingFromTheMenuReportsCompletion) {
  QStringList sent;
  FileManagementDialog dialog(
      files_.get(), [] { return ThreeContacts(); },
      [&sent](const QString& path, const BusinessCardInfo& card) {
        sent << QFileInfo(path).fileName() + ">" + card.uuid;
      });
  dialog.show();
  QSignalSpy finished(&dialog, &FileManagementDialog::Sig_TranspondFinished);
  dialog.Transpond(Path("manual.pdf"));
  FileTranspondDialog* forward = dialog.TranspondDialog();
  ASSERT_NE(nullptr, forward);
  forward->on_listWidget_online_contact_itemClicked(forward->OnlineContactList()->item(2));
  forward->TranspondButton()->click();
  ASSERT_TRUE(RunUntil([&] { return finished.count() == 1; }));
  EXPECT_TRUE(finished.at(0).at(0).toBool());
  EXPECT_EQ(QStringList({"manual.pdf>d"}), sent);
  EXPECT_NE(nullptr, dialog.findChild<QMessageBox*>("transpondDoneBox"));
}

}  // namespace
