// Bubbles: layout relations at two DPI factors, the avatar and name line,
// link handling, received markup shown inert, send states, file states.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <memory>

#include "resources/resources.h"
#include "store/chat_database.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/chat/room/msg_ctx.h"
#include "ui/common/message_time.h"
#include "ui/files/file_mgr.h"

namespace qn {
namespace {

// Receives what QDesktopServices::openUrl would hand to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  UrlCatcher() {
    for (const char* scheme : {"http", "https", "file", "javascript"})
      QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "Open");
  }
  ~UrlCatcher() override {
    for (const char* scheme : {"http", "https", "file", "javascript"})
      QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  }
  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened << url; }
};

QString Now() { return QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss"); }

MsgDisplayCtx Display(bool sent, const QString& name = QStringLiteral("张小明")) {
  MsgDisplayCtx display;
  display.direction = sent ? MsgDisplayCtx::kSent : MsgDisplayCtx::kReceived;
  display.senderName = name;
  display.msgTime = Now();
  display.font = QFont(QStringLiteral("微软雅黑"));
  display.font.setPointSizeF(10);
  return display;
}

std::unique_ptr<MsgCtx> Text(bool sent, const QString& content) {
  if (sent) return std::make_unique<MsgSendCtx>(content, 0);
  return std::make_unique<MsgRecvCtx>(content, 0);
}

class BubbleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qnres::InitResources();
    qnres::InstallFontFallbacks();
  }
  std::unique_ptr<ItemBase> Make(std::unique_ptr<MsgCtx> ctx, bool sent, double scale, int width) {
    BubbleEnv env;
    env.scale = scale;
    env.files = &files_;
    return std::unique_ptr<ItemBase>(CreateMsgItem(std::move(ctx), Display(sent), env, width));
  }

  QTemporaryDir dir_;
  FileMgr files_{dir_.path()};
};

const QString kShort = QStringLiteral("好的");
const QString kLong = QStringLiteral(
    "这是一条很长的消息，&nbsp;它会换行。The quick brown fox jumps over the lazy dog "
    "again and again until the line has to wrap more than once in any bubble.<br/>");
const QString kUnbroken = QString(400, QLatin1Char('x'));

TEST_F(BubbleTest, TextBubblesStayInsideTheirWidthAndWrapAtBothScales) {
  for (double scale : {1.0, 1.5}) {
    for (int width : {360, 575, 1200}) {
      for (bool sent : {false, true}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale << " width " << width << " sent " << sent);
        auto shortItem = Make(Text(sent, kShort), sent, scale, width);
        auto longItem = Make(Text(sent, kLong), sent, scale, width);
        auto unbroken = Make(Text(sent, kUnbroken), sent, scale, width);
        for (ItemBase* item : {shortItem.get(), longItem.get(), unbroken.get()}) {
          const MsgData& d = *item->Data();
          item->HeightForWidth(width);
          EXPECT_LE(d.bubbleRect.width(), d.MaxBubbleWidth(width));
          EXPECT_GE(d.bubbleRect.left(), 0);
          EXPECT_LE(d.bubbleRect.right(), width - 1);
          EXPECT_TRUE(d.bubbleRect.contains(d.contentRect));
          EXPECT_FALSE(d.bubbleRect.intersects(d.avatarRect));
          EXPECT_EQ(d.avatarRect.width(), qRound(40 * scale));
          if (sent) {
            EXPECT_GT(d.avatarRect.left(), d.bubbleRect.right());
            EXPECT_LT(d.failureRect.right(), d.bubbleRect.left());
          } else {
            EXPECT_LT(d.avatarRect.right(), d.bubbleRect.left());
          }
        }
        // Long text fills the widest bubble and takes several lines.
        const int line = QFontMetrics(shortItem->Data()->font).height();
        EXPECT_GT(longItem->Data()->contentRect.height(), 2 * line);
        EXPECT_GT(unbroken->Data()->contentRect.height(), 2 * line);
        EXPECT_LT(shortItem->Data()->bubbleRect.width(), longItem->Data()->bubbleRect.width());
        EXPECT_GT(longItem->HeightForWidth(width), shortItem->HeightForWidth(width));
      }
    }
  }
}

TEST_F(BubbleTest, NarrowerRoomMakesTallerBubbleAndLargerScaleLargerOne) {
  auto wide = Make(Text(false, kLong), false, 1.0, 900);
  const int wideHeight = wide->HeightForWidth(900);
  EXPECT_GT(wide->HeightForWidth(400), wideHeight);
  auto big = Make(Text(false, kShort), false, 1.5, 575);
  auto small = Make(Text(false, kShort), false, 1.0, 575);
  EXPECT_GT(big->Data()->bubbleRect.height(), small->Data()->bubbleRect.height() - 1);
  EXPECT_GT(big->Data()->avatarRect.height(), small->Data()->avatarRect.height());
}

TEST_F(BubbleTest, AvatarShowsLastTwoCharactersAndNameLineCarriesTheTime) {
  EXPECT_EQ(MsgData::AvatarText(QStringLiteral("王")), QStringLiteral("王"));
  EXPECT_EQ(MsgData::AvatarText(QStringLiteral("张小明")), QStringLiteral("小明"));
  EXPECT_EQ(MsgData::AvatarText(QStringLiteral("Alice")), QStringLiteral("ce"));
  auto item = Make(Text(false, kShort), false, 1.0, 575);
  const QString time = FormatMessageTime(item->Data()->msgTime, false);
  EXPECT_TRUE(item->Data()->NameLine().startsWith(QStringLiteral("张小明")));
  EXPECT_TRUE(item->Data()->NameLine().endsWith(time)) << item->Data()->NameLine().toStdString();
}

TEST_F(BubbleTest, ReceivedMarkupIsShownAsTextAndLoadsNothing) {
  const QString hostile = QStringLiteral(
      "<img src=\"/etc/passwd\"/><img src=\"file:///etc/hosts\"/><b>bold</b>"
      "<style>@import url(file:///etc/passwd);</style><a href = \"javascript:alert(1)\">x</a>");
  auto item = Make(Text(false, hostile), false, 1.0, 575);
  auto* text = static_cast<TextItem*>(item.get());
  const QString plain = text->Text()->Document()->toPlainText();
  EXPECT_TRUE(plain.contains(QStringLiteral("/etc/passwd"))) << plain.toStdString();
  EXPECT_TRUE(plain.contains(QStringLiteral("<b>bold</b>"))) << plain.toStdString();
  // Only the emoji faces would be loaded; nothing of the above became an image.
  EXPECT_FALSE(text->Text()->Document()->toHtml().contains(QStringLiteral("<img")));
}

TEST_F(BubbleTest, LinksOpenOnlyForWebTargetsAndPicturesAreEmitted) {
  UrlCatcher catcher;
  auto item = Make(Text(false, QStringLiteral("hi")), false, 1.0, 575);
  auto* text = static_cast<TextItem*>(item.get());
  QSignalSpy images(text, &ItemBase::sg_image);

  text->slot_anchorClicked(QStringLiteral("www.example.com/a"));
  text->slot_anchorClicked(QStringLiteral("HTTPS://example.org/"));
  text->slot_anchorClicked(QStringLiteral("javascript:alert(1)"));
  text->slot_anchorClicked(QStringLiteral("file:///etc/passwd"));
  text->slot_anchorClicked(QStringLiteral("/tmp/x.JPG"));
  ASSERT_EQ(catcher.opened.size(), 2);
  EXPECT_EQ(catcher.opened[0].scheme(), QStringLiteral("http"));
  EXPECT_EQ(catcher.opened[0].host(), QStringLiteral("www.example.com"));
  EXPECT_EQ(catcher.opened[1].scheme(), QStringLiteral("https"));
  ASSERT_EQ(images.size(), 1);
  EXPECT_EQ(images[0][0].toString(), QStringLiteral("/tmp/x.JPG"));
}

TEST_F(BubbleTest, SendStatesFollowOwnSeqOnly) {
  auto refusedCtx = Text(true, kShort);
  refusedCtx->SetSeq(MsgCtx::kSendFailed);
  auto refused = Make(std::move(refusedCtx), true, 1.0, 575);
  EXPECT_EQ(static_cast<MsgItem*>(refused.get())->SendState(), MsgItem::kSendFailed);

  auto ctx = Text(true, kShort);
  ctx->SetSeq(7);
  auto item = Make(std::move(ctx), true, 1.0, 575);
  auto* msg = static_cast<MsgItem*>(item.get());
  EXPECT_EQ(msg->SendState(), MsgItem::kSendNormal);
  msg->OnSendMessageFailed(8);
  EXPECT_EQ(msg->SendState(), MsgItem::kSendNormal);
  msg->OnSendMessageFailed(7);
  EXPECT_EQ(msg->SendState(), MsgItem::kSendFailed);

  // A received bubble never takes a send state from a seq that happens to match.
  auto recvCtx = Text(false, kShort);
  recvCtx->SetSeq(9);
  auto recv = Make(std::move(recvCtx), false, 1.0, 575);
  static_cast<MsgItem*>(recv.get())->OnSendMessageFailed(9);
  EXPECT_EQ(static_cast<MsgItem*>(recv.get())->SendState(), MsgItem::kSendNormal);
}

TEST_F(BubbleTest, FileBubbleStatesAndOpening) {
  UrlCatcher catcher;
  const QString sentPath = dir_.filePath(QStringLiteral("报告.pdf"));
  {
    QFile f(sentPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(1536, 'a'));
  }
  auto sent = Make(std::make_unique<MsgSendCtx>(sentPath, 1), true, 1.0, 575);
  auto* sentFile = static_cast<FileItem*>(sent.get());
  EXPECT_EQ(sentFile->File()->state, FileData::State::kSent);
  EXPECT_EQ(sentFile->File()->StatusText(), QStringLiteral("1.50KB"));
  EXPECT_EQ(sentFile->File()->iconPath, QStringLiteral(":/image/file_type/pdf.png"));
  EXPECT_EQ(sentFile->File()->FileName(), QStringLiteral("报告.pdf"));
  sentFile->resize(575, sentFile->HeightForWidth(575));
  QTest::mouseClick(sentFile, Qt::LeftButton, Qt::NoModifier,
                    sentFile->Data()->bubbleRect.center());
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_EQ(catcher.opened[0].toLocalFile(), QFileInfo(sentPath).absoluteFilePath());

  // History: a received file that is there opens; one that is gone says so.
  auto present = std::make_unique<MsgRecvCtx>(QStringLiteral("http://127.0.0.1:1/x"), 1);
  present->SetLocalFileName(QStringLiteral("报告.pdf"));
  present->SetHistory(true);
  auto done = Make(std::move(present), false, 1.0, 575);
  EXPECT_EQ(static_cast<FileItem*>(done.get())->File()->state, FileData::State::kDone);
  EXPECT_TRUE(static_cast<FileItem*>(done.get())->File()->CanOpen());

  auto gone = std::make_unique<MsgRecvCtx>(QStringLiteral("http://127.0.0.1:1/y"), 1);
  gone->SetLocalFileName(QStringLiteral("没有了.txt"));
  gone->SetHistory(true);
  auto missing = Make(std::move(gone), false, 1.0, 575);
  auto* missingFile = static_cast<FileItem*>(missing.get());
  EXPECT_EQ(missingFile->File()->StatusText(), QStringLiteral("文件不存在"));
  EXPECT_FALSE(missingFile->File()->CanOpen());
  missingFile->resize(575, missingFile->HeightForWidth(575));
  QTest::mouseClick(missingFile, Qt::LeftButton, Qt::NoModifier,
                    missingFile->Data()->bubbleRect.center());
  EXPECT_EQ(catcher.opened.size(), 1);

  // A stored name that climbs out of the save directory stays inside it.
  auto climbing = std::make_unique<MsgRecvCtx>(QStringLiteral("http://127.0.0.1:1/z"), 1);
  climbing->SetLocalFileName(QStringLiteral("../../etc/passwd"));
  climbing->SetHistory(true);
  auto inside = Make(std::move(climbing), false, 1.0, 575);
  EXPECT_EQ(QFileInfo(static_cast<FileItem*>(inside.get())->File()->localPath).absolutePath(),
            QFileInfo(files_.SavePath()).absoluteFilePath());
}

TEST_F(BubbleTest, FileBubbleKeepsItsLayoutInsideTheBubble) {
  for (double scale : {1.0, 1.5}) {
    auto ctx = std::make_unique<MsgSendCtx>(
        dir_.filePath(QStringLiteral("一个非常非常非常长的文件名字_with_a_long_latin_tail_2026.docx")), 1);
    auto item = Make(std::move(ctx), true, scale, 575);
    auto* file = static_cast<FileItem*>(item.get());
    file->HeightForWidth(575);
    const FileData& d = *file->File();
    EXPECT_TRUE(d.bubbleRect.contains(d.iconRect));
    EXPECT_TRUE(d.bubbleRect.contains(d.fileNameRect));
    EXPECT_TRUE(d.bubbleRect.contains(d.statusRect));
    EXPECT_LE(d.FileNameLines().size(), 2);
  }
}

TEST(MsgCtxTest, DisplayTextReplacedContentAndImageChecks) {
  MsgSendCtx file(QStringLiteral("/home/u/文档/a b.txt"), 1);
  EXPECT_EQ(file.DisplayText(), QStringLiteral("a b.txt"));
  MsgRecvCtx offer(QStringLiteral("http://198.18.0.2:6011/ABC"), 1);
  offer.SetLocalFileName(QStringLiteral("a(1).txt"));
  EXPECT_EQ(offer.DisplayText(), QStringLiteral("a(1).txt"));
  EXPECT_TRUE(offer.IsRecv());
  EXPECT_EQ(MsgSendCtx(QStringLiteral("x"), 5).DisplayText(), QString());
  EXPECT_EQ(offer.Seq(), MsgCtx::kNeverSent);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"))
                  .match(offer.Id()).hasMatch());

  QTemporaryDir dir;
  const QString png = dir.filePath(QStringLiteral("p.png"));
  QImage(3, 2, QImage::Format_RGB32).save(png);
  const QString a = QStringLiteral("{0a1b2c3d-0000-1111-2222-333344445555}");
  const QString b = QStringLiteral("{99999999-8888-7777-6666-555544443333}");
  MsgSendCtx text(QStringLiteral("<img src=\"%1\"/> and \"%1\"").arg(b), 0);
  EXPECT_FALSE(text.AddImage(QStringLiteral("plain"), b, png));
  EXPECT_FALSE(text.AddImage(a, b, dir.filePath(QStringLiteral("none.png"))));
  ASSERT_TRUE(text.AddImage(a, b, png));
  EXPECT_EQ(text.Images().first().width, 3);
  EXPECT_EQ(text.Images().first().height, 2);
  EXPECT_EQ(text.ReplacedContent(), QStringLiteral("<img src=\"%1\"/> and \"%1\"").arg(a));
}

}  // namespace
}  // namespace qn

#include "bubble_test.moc"
