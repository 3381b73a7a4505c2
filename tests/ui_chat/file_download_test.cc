// Downloads of offered files against our own file server on 127.0.0.1 and a
// raw server that breaks its promise: only a complete body ever appears
// under a finished name, and nothing existing is overwritten.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <random>

#include "chat/chat_file_uri_manager.h"
#include "chat_http/http_server_impl.h"
#include "download_servers.h"
#include "resources/resources.h"
#include "room_fakes.h"
#include "store/chat_database.h"
#include "ui/chat/bubble/file_download.h"
#include "ui/chat/bubble/msg_item.h"
#include "ui/files/file_mgr.h"

namespace qn {
namespace {

using download_test::BrokenServer;

QByteArray RandomBytes(int n) {
  std::mt19937 gen(42);
  QByteArray data(n, '\0');
  for (char& c : data) c = static_cast<char>(gen());
  return data;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(data);
}

class FileDownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qnres::InitResources();
    qnres::InstallFontFallbacks();
  }
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    server_->AddHandler(chat::ChatFileUriManager::kUriPattern,
                        [this](const chat_http::HttpRequest& request,
                               chat_http::HttpResponse& response) {
                          manager_.OnRequest(request, response);
                        });
    ASSERT_TRUE(server_->Listen("127.0.0.1", 0));
    save_ = dir_.filePath("save");
    QDir().mkpath(save_);
  }
  QString Publish(const QString& name, const QByteArray& data) {
    const QString path = dir_.filePath(name);
    Write(path, data);
    const std::string uri = manager_.Publish(path.toStdString());
    return QStringLiteral("http://127.0.0.1:%1/%2")
        .arg(server_->GetPort())
        .arg(QString::fromStdString(uri));
  }
  // Every file in the save directory, hidden ones included.
  QStringList SaveDirEntries() const {
    return QDir(save_).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }

  QTemporaryDir dir_;
  QString save_;
  chat::ChatFileUriManager manager_;
  chat_base::RefPtr<chat_http::HttpServerImpl> server_ =
      chat_base::MakeRefCounted<chat_http::HttpServerImpl>();
};

TEST_F(FileDownloadTest, CompleteFileLandsUnderItsNameWithProgressToTheEnd) {
  const QByteArray data = RandomBytes(3 * 1024 * 1024 + 17);
  const QString url = Publish("big.bin", data);
  DownloadJob job;
  const DownloadResult result = DownloadToFile(url, save_ + "/big.bin", &job);
  EXPECT_EQ(result.status, 200) << result.reason.toStdString();
  EXPECT_EQ(result.path, save_ + "/big.bin");
  EXPECT_EQ(ReadAll(result.path), data);
  EXPECT_DOUBLE_EQ(job.fraction.load(), 1.0);
  EXPECT_EQ(SaveDirEntries(), QStringList{"big.bin"});
}

TEST_F(FileDownloadTest, MissingFileLeavesNothingBehind) {
  const QString url = QStringLiteral("http://127.0.0.1:%1/%2")
                          .arg(server_->GetPort())
                          .arg("0123456789ABCDEF0123456789ABCDEF");
  const DownloadResult result = DownloadToFile(url, save_ + "/gone.txt", nullptr);
  EXPECT_EQ(result.status, -1);
  EXPECT_TRUE(result.reason.contains("404")) << result.reason.toStdString();
  EXPECT_TRUE(SaveDirEntries().isEmpty()) << SaveDirEntries().join(",").toStdString();
}

TEST_F(FileDownloadTest, BodyCutShortNeverLooksFinished) {
  BrokenServer broken(100000, RandomBytes(1000));
  const DownloadResult result = DownloadToFile(broken.Url(), save_ + "/cut.bin", nullptr);
  EXPECT_EQ(result.status, -1);
  EXPECT_FALSE(result.reason.isEmpty());
  EXPECT_TRUE(SaveDirEntries().isEmpty()) << SaveDirEntries().join(",").toStdString();
}

TEST_F(FileDownloadTest, ExistingFileIsKeptAndTheDownloadTakesTheNextName) {
  const QByteArray data = RandomBytes(5000);
  const QString url = Publish("a.tar.gz", data);
  Write(save_ + "/a.tar.gz", "mine");
  Write(save_ + "/a(1).gz", "mine too");
  const DownloadResult result = DownloadToFile(url, save_ + "/a.tar.gz", nullptr);
  ASSERT_EQ(result.status, 200) << result.reason.toStdString();
  EXPECT_EQ(result.path, save_ + "/a(2).gz");
  EXPECT_EQ(ReadAll(save_ + "/a.tar.gz"), QByteArray("mine"));
  EXPECT_EQ(ReadAll(save_ + "/a(1).gz"), QByteArray("mine too"));
  EXPECT_EQ(ReadAll(result.path), data);
  EXPECT_EQ(SaveDirEntries().size(), 3);
}

TEST(NextFreeNameTest, FollowsTheSaveDirectoryNaming) {
  EXPECT_EQ(NextFreeName("/d/a.txt", 0), "/d/a.txt");
  EXPECT_EQ(NextFreeName("/d/a.txt", 1), "/d/a(1).txt");
  EXPECT_EQ(NextFreeName("/d/a.tar.gz", 2), "/d/a(2).gz");
  EXPECT_EQ(NextFreeName("/d/README", 1), "/d/README(1)");
}

// The bubble's side: a received offer downloads, records and shows its size;
// a failed one says so; a bubble that goes away mid-download stops it.
class FileBubbleDownloadTest : public FileDownloadTest {
 protected:
  void SetUp() override {
    FileDownloadTest::SetUp();
    database_ = std::make_unique<ChatDatabase>(dir_.filePath("QNChat.db"), "download_test");
    files_ = std::make_unique<FileMgr>(save_);
    BusinessCardInfo peer;
    peer.uuid = "PEER-UUID";
    peer.nickName = "韩梅梅";
    peer.device = "han-pc";
    database_->SaveContact(peer);
    database_->SaveContact(app_.card);
    env_.services = &app_;
    env_.database = database_.get();
    env_.files = files_.get();
    env_.peerCard = peer;
    env_.scale = 1.0;
  }
  std::unique_ptr<FileItem> Offer(const QString& url, const QString& name) {
    auto ctx = std::make_unique<MsgRecvCtx>(url, 1);
    ctx->SetLocalFileName(files_->UniqueFileName(name));
    MsgDisplayCtx display;
    display.direction = MsgDisplayCtx::kReceived;
    display.senderName = "韩梅梅";
    display.msgTime = "2026-01-02 03:04:05";
    ItemBase* item = CreateMsgItem(std::move(ctx), display, env_, 575);
    return std::unique_ptr<FileItem>(static_cast<FileItem*>(item));
  }

  room_test::FakeAppServices app_;
  std::unique_ptr<ChatDatabase> database_;
  std::unique_ptr<FileMgr> files_;
  BubbleEnv env_;
};

TEST_F(FileBubbleDownloadTest, ReceivedOfferDownloadsAndRecordsTheFile) {
  const QByteArray data = RandomBytes(1536);
  auto item = Offer(Publish("说明.txt", data), "说明.txt");
  EXPECT_EQ(item->File()->state, FileData::State::kDownloading);
  EXPECT_TRUE(item->File()->StatusText().startsWith(QStringLiteral("下载中")));
  QSignalSpy result(item.get(), &FileItem::Sig_DownLoadFileResult);
  ASSERT_TRUE(result.wait(30000));
  EXPECT_EQ(result[0][0].toInt(), 200);
  EXPECT_EQ(item->File()->state, FileData::State::kDone);
  EXPECT_EQ(item->File()->StatusText(), QStringLiteral("1.50KB"));
  EXPECT_EQ(item->File()->iconPath, QStringLiteral(":/image/file_type/docx.png"));
  EXPECT_EQ(ReadAll(save_ + "/说明.txt"), data);
  const QList<FileRecord> records = database_->LoadFileRecords();
  ASSERT_EQ(records.size(), 1);
  EXPECT_EQ(records[0].fileAbsUrl, save_ + "/说明.txt");
  EXPECT_EQ(records[0].senderRefUuid, QStringLiteral("PEER-UUID"));
}

TEST_F(FileBubbleDownloadTest, FailedDownloadSaysSoAndKeepsNoFile) {
  BrokenServer broken(50000, RandomBytes(100));
  auto item = Offer(broken.Url(), "cut.zip");
  QSignalSpy result(item.get(), &FileItem::Sig_DownLoadFileResult);
  ASSERT_TRUE(result.wait(30000));
  EXPECT_EQ(result[0][0].toInt(), -1);
  EXPECT_EQ(item->File()->StatusText(), QStringLiteral("下载失败"));
  EXPECT_EQ(item->File()->iconPath, QStringLiteral(":/image/file_type/other.png"));
  EXPECT_FALSE(item->File()->CanOpen());
  EXPECT_TRUE(SaveDirEntries().isEmpty());
  EXPECT_TRUE(database_->LoadFileRecords().isEmpty());
}

TEST_F(FileBubbleDownloadTest, BubbleRemovedMidDownloadStopsItAndCleansUp) {
  BrokenServer slow(1 << 20, RandomBytes(1000), BrokenServer::kTrickle);
  auto item = Offer(slow.Url(), "slow.bin");
  item.reset();
  // The worker ends once the server's next byte meets the cancelled job.
  ASSERT_TRUE(QThreadPool::globalInstance()->waitForDone(30000));
  QCoreApplication::processEvents();  // a result posted to the dead bubble would crash here
  EXPECT_TRUE(SaveDirEntries().isEmpty()) << SaveDirEntries().join(",").toStdString();
}

}  // namespace
}  // namespace qn
