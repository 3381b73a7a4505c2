// A conversation as a user sees it: texts with emoji and a link on both
// sides, files received (done, downloading, failed) and sent, and a failed
// send, at the screen's DPI. Checks that every bubble fits the list and each
// file shows its state; with QNCHAT_GRAB_DIR set it also writes the room and
// the send dialog as PNG files for a person to look at (run it under Xvfb at
// -dpi 96 and -dpi 144 with QT_QPA_PLATFORM=xcb).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <cmath>
#include <random>

#include "chat/chat_file_uri_manager.h"
#include "chat_http/http_server_impl.h"
#include "download_servers.h"
#include "resources/resources.h"
#include "room_fakes.h"
#include "store/chat_database.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/common/dpi_scale.h"
#include "ui/files/file_mgr.h"
#include "ui/files/send_single_file_dialog.h"

namespace {

using download_test::BrokenServer;

QByteArray Bytes(int n) {
  std::mt19937 gen(7);
  QByteArray data(n, '\0');
  for (char& c : data) c = static_cast<char>(gen());
  return data;
}

TEST(RoomLookTest, ConversationWithEveryKindOfBubble) {
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ChatDatabase database(dir.filePath("QNChat.db"), "look_test");
  FileMgr files(dir.filePath("received"));
  SendSingleFileDialog dialog;
  room_test::FakeAppServices app;
  app.card.nickName = QStringLiteral("王晓雨");
  room_test::FakeRow row;

  chat::ChatFileUriManager manager;
  auto server = chat_base::MakeRefCounted<chat_http::HttpServerImpl>();
  server->AddHandler(chat::ChatFileUriManager::kUriPattern,
                     [&manager](const chat_http::HttpRequest& request,
                                chat_http::HttpResponse& response) {
                       manager.OnRequest(request, response);
                     });
  ASSERT_TRUE(server->Listen("127.0.0.1", 0));
  const QString offered = dir.filePath("季度报告.pdf");
  {
    QFile f(offered);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Bytes(2 * 1024 * 1024 + 300 * 1024));
  }
  const QString goodUrl = QStringLiteral("http://127.0.0.1:%1/%2")
                              .arg(server->GetPort())
                              .arg(QString::fromStdString(manager.Publish(offered.toStdString())));
  const QString missingUrl = QStringLiteral("http://127.0.0.1:%1/%2")
                                 .arg(server->GetPort())
                                 .arg("0123456789ABCDEF0123456789ABCDEF");
  BrokenServer holding(250000, Bytes(100000), BrokenServer::kHold);

  BusinessCardInfo card;
  card.uuid = "PEER";
  card.nickName = QStringLiteral("陈思远");
  card.device = "chen-pc";
  ChatRoomServices services{&app, &database, &files, &dialog, 0};
  const double scale = DpiScale();
  ChatRoomWidget room(&row, card, services);
  room.resize(static_cast<int>(std::lround(620 * scale)), static_cast<int>(std::lround(900 * scale)));
  room.show();

  room.OnRecvMessage(QStringLiteral(
      "下午好<img src=\":/image/face/emoji_03.png\"/>&nbsp;评审会改到三点，资料在这里：<a href = "
      "\"https://intranet.example.com/review\">https://intranet.example.com/review</a><br/>"), 0, {});
  room.SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral(
      "收到<img src=\":/image/face/emoji_00.png\"/><img src=\":/image/face/emoji_07.png\"/>&nbsp;我先看一下<br/>"), 0), {});
  room.OnSendMessageSucceed(100);
  room.OnRecvMessage(QStringLiteral(
      "另外，<b>这不是粗体</b>&nbsp;&lt;img src=/etc/passwd&gt; 会原样显示。这条消息比较长，用来看看气泡在"
      "接近最大宽度时怎样换行，以及中英文混排 mixed with some English words 的效果。<br/>"), 0, {});
  room.OnRecvMessage(goodUrl, 1, files.UniqueFileName(QStringLiteral("季度报告.pdf")));
  auto* done = static_cast<qn::FileItem*>(room.Bubble(3));
  QSignalSpy doneSpy(done, &qn::FileItem::Sig_DownLoadFileResult);
  room.OnRecvMessage(missingUrl, 1, files.UniqueFileName(QStringLiteral("设计稿.psd")));
  auto* failed = static_cast<qn::FileItem*>(room.Bubble(4));
  QSignalSpy failedSpy(failed, &qn::FileItem::Sig_DownLoadFileResult);
  room.OnRecvMessage(holding.Url(), 1, files.UniqueFileName(QStringLiteral("会议录像.mp4")));
  auto* downloading = static_cast<qn::FileItem*>(room.Bubble(5));
  room.SendFile(offered);
  room.OnSendMessageSucceed(101);
  app.peer->next_result = -1;
  room.SendMessage(std::make_unique<qn::MsgSendCtx>(QStringLiteral("对方不在线时这条会发送失败<br/>"), 0), {});

  ASSERT_TRUE(doneSpy.count() > 0 || doneSpy.wait(30000));
  ASSERT_TRUE(failedSpy.count() > 0 || failedSpy.wait(30000));
  // The holding server has sent 40% and waits; the progress reaches it once
  // the client has read what was sent.
  ASSERT_TRUE(QTest::qWaitFor([&] { return downloading->File()->Progress() >= 0.39; }, 30000));

  EXPECT_EQ(done->File()->state, qn::FileData::State::kDone);
  EXPECT_EQ(done->File()->StatusText(), QStringLiteral("2.29MB"));
  EXPECT_EQ(failed->File()->StatusText(), QStringLiteral("下载失败"));
  EXPECT_EQ(downloading->File()->state, qn::FileData::State::kDownloading);
  EXPECT_NEAR(downloading->File()->Progress(), 0.4, 0.01);
  EXPECT_EQ(downloading->File()->StatusText(), QStringLiteral("下载中  40%"));
  EXPECT_EQ(static_cast<qn::MsgItem*>(room.Bubble(7))->SendState(), qn::MsgItem::kSendFailed);
  const int width = room.MessageList()->viewport()->width();
  for (int r = 0; r < room.MessageList()->count(); ++r) {
    qn::ItemBase* bubble = room.Bubble(r);
    EXPECT_EQ(bubble->width(), width) << r;
    EXPECT_LE(bubble->Data()->bubbleRect.right(), width - 1) << r;
    EXPECT_GE(bubble->Data()->bubbleRect.left(), 0) << r;
  }

  const QByteArray grabDir = qgetenv("QNCHAT_GRAB_DIR");
  if (!grabDir.isEmpty()) {
    QDir().mkpath(QString::fromLocal8Bit(grabDir));
    const int dpi = static_cast<int>(std::lround(96 * scale));
    room.MessageList()->scrollToTop();
    QCoreApplication::processEvents();
    EXPECT_TRUE(room.grab().save(QStringLiteral("%1/room_top_%2.png").arg(QString::fromLocal8Bit(grabDir)).arg(dpi)));
    room.MessageList()->scrollToBottom();
    QCoreApplication::processEvents();
    EXPECT_TRUE(room.grab().save(QStringLiteral("%1/room_bottom_%2.png").arg(QString::fromLocal8Bit(grabDir)).arg(dpi)));
    room.ShowShareNotice(2);
    dialog.ShowFor(card.nickName, dir.filePath(QStringLiteral("一个名字相当长的项目计划书_最终版_修订稿_v12.docx")), &room);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(QStringLiteral("%1/send_dialog_%2.png").arg(QString::fromLocal8Bit(grabDir)).arg(dpi)));
    EXPECT_TRUE(room.grab().save(QStringLiteral("%1/room_share_%2.png").arg(QString::fromLocal8Bit(grabDir)).arg(dpi)));
  }
}

}  // namespace
