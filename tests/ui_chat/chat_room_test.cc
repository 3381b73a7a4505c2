// The chat room against a real database file and a fake chat core: sending,
// history on success only, failure marks, the bubble cap, reloading the last
// messages, drops, the share notice and contact renames.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QMimeData>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "resources/resources.h"
#include "room_fakes.h"
#include "store/chat_database.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/chat/room/request_popup.h"
#include "ui/files/file_mgr.h"
#include "ui/files/send_single_file_dialog.h"

namespace {

using room_test::FakeAppServices;
using room_test::FakeChatPeer;
using room_test::FakeRow;

class ChatRoomTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qnres::InitResources();
    qnres::InstallFontFallbacks();
  }
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    database_ = std::make_unique<ChatDatabase>(dir_.filePath("QNChat.db"), "room_test");
    ASSERT_TRUE(database_->IsConnected());
    files_ = std::make_unique<FileMgr>(dir_.filePath("received"));
    dialog_ = std::make_unique<SendSingleFileDialog>();
    card_.uuid = "PEER-UUID";
    card_.nickName = "李雷";
    card_.device = "peer-pc";
    room_ = MakeRoom(&row_);
  }

  std::unique_ptr<ChatRoomWidget> MakeRoom(FakeRow* row) {
    ChatRoomServices services;
    services.app = &app_;
    services.database = database_.get();
    services.files = files_.get();
    services.sendDialog = dialog_.get();
    services.scale = 1.0;
    auto room = std::make_unique<ChatRoomWidget>(row, card_, services);
    room->resize(600, 480);
    return room;
  }

  FakeChatPeer& Peer() { return *app_.peer; }
  QList<ChatHistoryRecord> History() { return database_->LoadHistory(room_->ChatRoomUuid(), 1000); }
  qn::MsgItem* Msg(int row) { return static_cast<qn::MsgItem*>(room_->Bubble(row)); }

  QString MakeFile(const QString& name, int bytes = 10) {
    const QString path = dir_.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(bytes, 'x'));
    return path;
  }

  QTemporaryDir dir_;
  std::unique_ptr<ChatDatabase> database_;
  std::unique_ptr<FileMgr> files_;
  std::unique_ptr<SendSingleFileDialog> dialog_;
  FakeAppServices app_;
  FakeRow row_;
  BusinessCardInfo card_;
  std::unique_ptr<ChatRoomWidget> room_;
};

TEST_F(ChatRoomTest, TextGoesToTheCoreAndHistoryWaitsForTheConfirmation) {
  EXPECT_EQ(row_.room, room_.get());
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("你好&nbsp;世界<br/>"), 0), {});
  ASSERT_EQ(Peer().texts.size(), 1u);
  EXPECT_EQ(Peer().texts[0].what, "你好&nbsp;世界<br/>");
  EXPECT_EQ(Peer().texts[0].hostName, "peer-pc");
  EXPECT_EQ(Peer().texts[0].uuid, "PEER-UUID");
  ASSERT_EQ(room_->MessageList()->count(), 1);
  EXPECT_EQ(row_.last_text, QStringLiteral("你好&nbsp;世界<br/>"));
  EXPECT_TRUE(History().isEmpty());

  room_->OnSendMessageSucceed(999);  // someone else's
  EXPECT_TRUE(History().isEmpty());
  room_->OnSendMessageSucceed(100);
  room_->OnSendMessageSucceed(100);  // a repeated answer writes nothing more
  const auto history = History();
  ASSERT_EQ(history.size(), 1);
  EXPECT_EQ(history[0].senderUuid, QStringLiteral("LOCAL-UUID"));
  EXPECT_EQ(history[0].messageType, 0);
  EXPECT_EQ(history[0].content, QStringLiteral("你好&nbsp;世界<br/>"));
  EXPECT_TRUE(Msg(0)->HistoryWritten());
}

TEST_F(ChatRoomTest, FailuresMarkTheBubbleAndWriteNoHistory) {
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("a"), 0), {});
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("b"), 0), {});
  room_->OnSendMessageFailed(101);
  EXPECT_EQ(Msg(0)->SendState(), qn::MsgItem::kSendNormal);
  EXPECT_EQ(Msg(1)->SendState(), qn::MsgItem::kSendFailed);

  Peer().next_result = -1;  // the core refuses at once
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("c"), 0), {});
  EXPECT_EQ(Msg(2)->SendState(), qn::MsgItem::kSendFailed);
  room_->OnSendMessageSucceed(-1);
  app_.with_peer = false;  // no core at all
  room_->SendFile(MakeFile("x.txt"));
  EXPECT_EQ(Msg(3)->SendState(), qn::MsgItem::kSendFailed);
  EXPECT_TRUE(History().isEmpty());
}

TEST_F(ChatRoomTest, TextAndImagesGoOutInOrderAndFilesWriteHistoryAndRecordOnSuccess) {
  const QString one = MakeFile("qnchat_ss1.png"), two = MakeFile("qnchat_ss2.png");
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("看图"), 0), {one, two});
  ASSERT_EQ(Peer().texts.size(), 1u);
  ASSERT_EQ(Peer().files.size(), 2u);
  EXPECT_EQ(QString::fromStdString(Peer().files[0].what), one);
  EXPECT_EQ(QString::fromStdString(Peer().files[1].what), two);
  ASSERT_EQ(room_->MessageList()->count(), 3);
  room_->OnSendMessageSucceed(101);
  const auto history = History();
  ASSERT_EQ(history.size(), 1);
  EXPECT_EQ(history[0].messageType, 1);
  EXPECT_EQ(history[0].content, one);  // a sent file is stored under its full path
  EXPECT_EQ(row_.last_text, QStringLiteral("[文件]：qnchat_ss2.png"));
}

TEST_F(ChatRoomTest, ReceivedMessagesWriteHistoryAtOnce) {
  room_->OnRecvMessage(QStringLiteral("在吗"), 0, QString());
  room_->OnRecvMessage(QStringLiteral("http://127.0.0.1:9/none"), 1, QStringLiteral("a(1).txt"));
  room_->OnRecvMessage(QStringLiteral("[notice]"), 2, QString());
  EXPECT_EQ(room_->MessageList()->count(), 2);
  const auto history = History();
  ASSERT_EQ(history.size(), 2);
  EXPECT_EQ(history[0].senderUuid, QStringLiteral("PEER-UUID"));
  EXPECT_EQ(history[0].content, QStringLiteral("在吗"));
  EXPECT_EQ(history[1].messageType, 1);
  EXPECT_EQ(history[1].content, QStringLiteral("a(1).txt"));
  EXPECT_EQ(row_.last_text, QStringLiteral("[文件]：a(1).txt"));
  // The offer above points at a closed port: let its download finish here.
  QSignalSpy result(static_cast<qn::FileItem*>(room_->Bubble(1)), &qn::FileItem::Sig_DownLoadFileResult);
  ASSERT_TRUE(result.wait(30000));
  EXPECT_EQ(result[0][0].toInt(), -1);
}

TEST_F(ChatRoomTest, TheTwoHundredAndFirstBubblePushesTheOldestOut) {
  for (int i = 0; i < 200; ++i) room_->OnRecvMessage(QString::number(i), 0, QString());
  QPointer<qn::ItemBase> oldest = room_->Bubble(0);
  room_->OnRecvMessage(QStringLiteral("200"), 0, QString());
  EXPECT_EQ(room_->MessageList()->count(), ChatRoomWidget::kMaxBubbles);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(oldest.isNull());  // the evicted bubble is gone, not only hidden
  EXPECT_EQ(room_->Bubble(0)->Data()->ctx->Content(), QStringLiteral("1"));
  EXPECT_EQ(room_->Bubble(199)->Data()->ctx->Content(), QStringLiteral("200"));
  EXPECT_EQ(History().size(), 201);  // the database keeps everything
  EXPECT_TRUE(room_->IsAtBottom());
}

TEST_F(ChatRoomTest, ReloadShowsTheLastTwentyInOrderOnTheirSides) {
  const QDateTime start = QDateTime::currentDateTime().addSecs(-3600);
  const QString uuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
  for (int i = 0; i < 30; ++i) {
    const bool mine = i % 3 == 0;
    database_->SaveHistory(uuid, mine ? "LOCAL-UUID" : "PEER-UUID",
                           start.addSecs(i).toString("yyyy-MM-dd hh:mm:ss"), 0,
                           QString::number(i));
  }
  FakeRow row;
  auto room = MakeRoom(&row);
  room->SetChatRoomUuid(uuid);
  room->LoadHistory();
  ASSERT_EQ(room->MessageList()->count(), 20);
  for (int r = 0; r < 20; ++r) {
    const int i = r + 10;
    qn::ItemBase* bubble = room->Bubble(r);
    EXPECT_EQ(bubble->Data()->ctx->Content(), QString::number(i));
    EXPECT_EQ(bubble->Data()->IsSent(), i % 3 == 0) << i;
    EXPECT_TRUE(bubble->Data()->ctx->IsHistory());
  }
  EXPECT_EQ(database_->LoadHistory(uuid, 100).size(), 30);  // nothing written again
  EXPECT_TRUE(Peer().texts.empty());
}

TEST_F(ChatRoomTest, DropsOfManyFilesSendTenAndOneFileAsksFirst) {
  QList<QUrl> urls;
  for (int i = 0; i < 12; ++i) urls << QUrl::fromLocalFile(MakeFile(QStringLiteral("f%1.txt").arg(i)));
  // A drop reaches the widget that accepted the drag's entry.
  auto drop = [this](const QList<QUrl>& list) {
    QMimeData data;
    data.setUrls(list);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(room_.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(room_.get(), &event);
  };
  drop(urls);
  EXPECT_EQ(Peer().files.size(), 10u);
  EXPECT_FALSE(dialog_->isVisible());

  drop({urls[11]});
  EXPECT_EQ(Peer().files.size(), 10u);
  ASSERT_TRUE(dialog_->isVisible());
  EXPECT_EQ(dialog_->FilePath(), urls[11].toLocalFile());
  EXPECT_EQ(dialog_->NameLabel()->text(), QStringLiteral("李雷"));
  // Another room's confirmation does not send from this one.
  FakeRow other;
  auto otherRoom = MakeRoom(&other);
  dialog_->SendButton()->click();
  ASSERT_EQ(Peer().files.size(), 11u);
  EXPECT_EQ(QString::fromStdString(Peer().files[10].what), urls[11].toLocalFile());
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(otherRoom->MessageList()->count(), 0);

  drop({QUrl(QStringLiteral("https://example.org/x"))});  // nothing local: nothing to send
  QMimeData text;
  text.setText(QStringLiteral("just text"));
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(room_.get(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_EQ(Peer().files.size(), 11u);
}

TEST_F(ChatRoomTest, RenamedContactChangesTitleAndTheirBubblesOnly) {
  room_->OnRecvMessage(QStringLiteral("hi"), 0, QString());
  room_->SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("yo"), 0), {});
  QSignalSpy renamed(room_.get(), &ChatRoomWidget::Sig_NameOrRemarkChanged);
  BusinessCardInfo card = card_;
  card.section = "研发";
  room_->OnContactInfoChanged(card);  // same shown name
  EXPECT_EQ(renamed.size(), 0);
  card.remark = "<b>老李</b>";
  room_->OnContactInfoChanged(card);
  ASSERT_EQ(renamed.size(), 1);
  EXPECT_EQ(room_->NameLabel()->text(), QStringLiteral("<b>老李</b>"));
  EXPECT_EQ(room_->NameLabel()->textFormat(), Qt::PlainText);
  EXPECT_EQ(room_->Bubble(0)->Data()->senderName, QStringLiteral("<b>老李</b>"));
  EXPECT_EQ(room_->Bubble(1)->Data()->senderName, QStringLiteral("本机用户"));
  room_->OnLocalNameChanged(QStringLiteral("新名字"));
  EXPECT_EQ(room_->Bubble(1)->Data()->senderName, QStringLiteral("新名字"));
  EXPECT_EQ(room_->Bubble(0)->Data()->senderName, QStringLiteral("<b>老李</b>"));
}

TEST_F(ChatRoomTest, ShareNoticeShowsTheBarAndAcceptingMarksTheRoom) {
  room_->show();
  room_->ShowShareNotice(1);
  EXPECT_FALSE(room_->RequestWidget()->isVisible());
  room_->ShowShareNotice(2);
  EXPECT_TRUE(room_->RequestWidget()->isVisible());
  EXPECT_EQ(row_.last_text, QStringLiteral("对方发起了屏幕共享"));
  room_->RequestWidget()->AcceptButton()->click();
  EXPECT_EQ(app_.share_opened, 1);
  EXPECT_FALSE(room_->RequestWidget()->isVisible());
  EXPECT_EQ(room_->HintLabel()->text(), QStringLiteral("屏幕共享中"));
  EXPECT_EQ(row_.hint, QStringLiteral("屏幕共享中"));
  room_->ShowShareNotice(2);
  room_->RequestWidget()->RejectButton()->click();
  EXPECT_EQ(app_.share_opened, 1);
}

TEST_F(ChatRoomTest, BubblesFollowTheListWidth) {
  room_->show();
  room_->OnRecvMessage(QString(300, QLatin1Char('w')), 0, QString());
  const int narrowHeight = room_->MessageList()->item(0)->sizeHint().height();
  room_->resize(1100, 480);
  QCoreApplication::processEvents();
  const int width = room_->MessageList()->viewport()->width();
  EXPECT_GT(width, 900);
  EXPECT_EQ(room_->Bubble(0)->width(), width);
  EXPECT_LT(room_->MessageList()->item(0)->sizeHint().height(), narrowHeight);
  EXPECT_LE(room_->Bubble(0)->Data()->bubbleRect.right(), width - 1);
}

}  // namespace

namespace {

TEST(SendSingleFileDialogTest, FileNameWrapsIntoLinesThatFitAndKeepsEveryCharacter) {
  const QFontMetrics metrics{QFont()};
  const QString name = QStringLiteral("一个名字相当长的项目计划书_最终版_修订稿_with_latin_and_😀_v12.docx");
  const int width = metrics.horizontalAdvance(QStringLiteral("一个名字相当长的项"));
  const QString wrapped = SendSingleFileDialog::WrapFileName(name, metrics, width, 10);
  const QStringList lines = wrapped.split('\n');
  EXPECT_GT(lines.size(), 2);
  for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), width) << line.toStdString();
  EXPECT_EQ(lines.join(QString()), name);
  // Past the line limit the rest is elided into the last line.
  const QStringList capped = SendSingleFileDialog::WrapFileName(name, metrics, width, 2).split('\n');
  ASSERT_EQ(capped.size(), 2);
  EXPECT_TRUE(capped[1].contains(QChar(0x2026)));
}

}  // namespace
