// Files offered over the peer's HTTP server and a screen shared over its
// RTSP server, between two qnchat-peer processes in namespaces. The viewer
// side is judged by independent clients: the support layer's HTTP client in
// the peer, and ffmpeg run inside the viewer's namespace.
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <regex>

#include "integration/peer_fixture.h"
#include "support/xvfb.h"

namespace qnchat_test {
namespace {

std::string Sha256Of(const std::string& path) {
  std::string output;
  if (RunCommand({"sha256sum", path}, &output) != 0) return std::string();
  return output.substr(0, output.find(' '));
}

// A child process inside ns that listens on a TCP port until it is killed.
class PortHolder {
 public:
  PortHolder(const NetNamespace& ns, int port) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int ns_fd = open(("/run/netns/" + ns.name()).c_str(), O_RDONLY);
      if (ns_fd < 0 || setns(ns_fd, CLONE_NEWNET) != 0) _exit(1);
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
          listen(fd, 1) != 0) {
        _exit(2);
      }
      if (write(ready[1], "x", 1) != 1) _exit(3);
      for (;;) pause();
    }
    close(ready[1]);
    char byte;
    ok_ = pid_ > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
  }
  ~PortHolder() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return ok_; }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

class FileShareTest : public PeerTest {
 protected:
  void StartTwo(const std::vector<std::string>& env = {}) {
    std::vector<PeerOptions> options = {NamedPeer(1), NamedPeer(2)};
    for (auto& o : options) o.env = env;
    ASSERT_TRUE(StartPeers(2, options));
    ASSERT_TRUE(AllDiscovered());
    a_ = peers_[0].get();
    b_ = peers_[1].get();
  }

  PeerProcess* a_ = nullptr;
  PeerProcess* b_ = nullptr;
};

TEST_F(FileShareTest, OfferedFileIsDownloadedWhole) {
  StartTwo();
  // With free ports the file server sits just below the media server.
  EXPECT_EQ(a_->started()["filePort"].asInt(), 6011);
  EXPECT_EQ(a_->started()["mediaPort"].asInt(), 6012);

  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string source = dir.path() + "/report 2024.bin";
  {
    std::mt19937 random(7);
    std::ofstream out(source, std::ios::binary);
    for (int i = 0; i < 3 * 1024 * 1024 + 123; ++i) out.put(static_cast<char>(random()));
  }
  const int64_t seq = a_->CommandResult("sendfile " + To(*b_) + " " + source);
  ASSERT_GE(seq, 0);
  auto offer = b_->WaitEvent("OnRecvFileUrl", kEventTimeoutMs, SeqIs(seq));
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->json["fileName"].asString(), "report 2024.bin");
  EXPECT_EQ(offer->json["hostName"].asString(), a_->host());
  const std::string url = offer->json["url"].asString();
  EXPECT_TRUE(std::regex_match(url, std::regex("http://198\\.18\\.0\\.1:6011/[0-9A-F-]{36}")))
      << url;
  EXPECT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq)));

  const std::string target = dir.path() + "/received";
  Json::Value started = b_->Command("download " + url + " " + target);
  ASSERT_EQ(started["result"].asInt(), 0) << started;
  auto result = b_->WaitEvent("DownloadResult", 60000, Fields([&] {
                                Json::Value v(Json::objectValue);
                                v["url"] = url;
                                return v;
                              }()));
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->json["ok"].asBool()) << result->json;
  EXPECT_EQ(result->json["status"].asInt(), 200);
  EXPECT_EQ(result->json["bytes"].asInt64(), 3 * 1024 * 1024 + 123);
  EXPECT_GE(b_->CountEvents("DownloadProgress"), 1u);
  EXPECT_EQ(Sha256Of(result->json["path"].asString()), Sha256Of(source));

  // A URI that was never published is answered 404 and reported as failed.
  const std::string missing = "http://198.18.0.1:6011/00000000-0000-0000-0000-000000000000";
  ASSERT_EQ(b_->Command("download " + missing + " " + target)["result"].asInt(), 0);
  result = b_->WaitEvent("DownloadResult", 30000, Fields([&] {
                           Json::Value v(Json::objectValue);
                           v["url"] = missing;
                           return v;
                         }()));
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->json["ok"].asBool());
  EXPECT_EQ(result->json["status"].asInt(), 404);

  // No such peer: -1, nothing is sent.
  EXPECT_EQ(a_->CommandResult("sendfile nobody nothing " + source), -1);
}

// 6011 taken: the file server tries 6012 only after the media server took it
// in the first pass, and ends on 6013; offers carry that port.
TEST_F(FileShareTest, FileServerMovesPastTheMediaServerWhenItsPortIsTaken) {
  hosts_ = network_->MakeSegment(2);
  ASSERT_EQ(hosts_.size(), 2u);
  PortHolder holder(*hosts_[0], 6011);
  ASSERT_TRUE(holder.ok());
  peers_.push_back(PeerProcess::Start(*hosts_[0], NamedPeer(1)));
  peers_.push_back(PeerProcess::Start(*hosts_[1], NamedPeer(2)));
  ASSERT_TRUE(peers_[0] && peers_[1]);
  ASSERT_TRUE(AllDiscovered());
  a_ = peers_[0].get();
  b_ = peers_[1].get();
  EXPECT_EQ(a_->started()["filePort"].asInt(), 6013);
  EXPECT_EQ(a_->started()["mediaPort"].asInt(), 6012);
  EXPECT_EQ(b_->started()["filePort"].asInt(), 6011);

  TempDir dir;
  const std::string source = dir.path() + "/small.txt";
  std::ofstream(source) << "small file\n";
  const int64_t seq = a_->CommandResult("sendfile " + To(*b_) + " " + source);
  ASSERT_GE(seq, 0);
  auto offer = b_->WaitEvent("OnRecvFileUrl", kEventTimeoutMs, SeqIs(seq));
  ASSERT_TRUE(offer);
  const std::string url = offer->json["url"].asString();
  EXPECT_EQ(url.rfind("http://198.18.0.1:6013/", 0), 0u) << url;
  ASSERT_EQ(b_->Command("download " + url + " " + dir.path() + "/in")["result"].asInt(), 0);
  auto result = b_->WaitEvent("DownloadResult", 30000);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->json["ok"].asBool()) << result->json;
  EXPECT_EQ(Sha256Of(result->json["path"].asString()), Sha256Of(source));
}

TEST_F(FileShareTest, SharedScreenIsDecodedByAnIndependentClient) {
  Xvfb xvfb(1366, 768);
  ASSERT_TRUE(xvfb.ok());
  StartTwo({"DISPLAY=" + xvfb.display()});

  const int64_t seq = a_->CommandResult("share " + To(*b_));
  ASSERT_GE(seq, 0);
  auto offer = b_->WaitEvent("OnRecvShareScreenUrl", kEventTimeoutMs);
  ASSERT_TRUE(offer);
  const std::string url = offer->json["url"].asString();
  std::smatch parts;
  ASSERT_TRUE(
      std::regex_match(url, parts, std::regex("rtsp://198\\.18\\.0\\.1:6012(/play/[0-9A-F]{32})")))
      << url;
  const std::string path = parts[1];
  EXPECT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(seq)));
  EXPECT_EQ(a_->CommandResult("share " + To(*b_)), -2);

  std::string output;
  const int status =
      hosts_[1]->Exec({"timeout", "60", "ffmpeg", "-nostdin", "-hide_banner", "-rtsp_transport",
                       "tcp", "-i", url, "-frames:v", "10", "-f", "null", "-"},
                      &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Video: h264"), std::string::npos) << output;
  EXPECT_NE(output.find("1360x768"), std::string::npos) << output;
  EXPECT_TRUE(std::regex_search(output, std::regex("frame= *10 "))) << output;

  const int64_t close = a_->CommandResult("closeshare");
  ASSERT_GE(close, 0);
  auto closed = b_->WaitEvent("OnMediaSessionClosed", kEventTimeoutMs);
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->json["uri"].asString(), path);
  EXPECT_TRUE(a_->WaitEvent("OnSendMessageCompleted", kEventTimeoutMs, SeqIs(close)));
  EXPECT_EQ(a_->CommandResult("closeshare"), -1);
  // A closed stream is gone from the server.
  EXPECT_NE(
      hosts_[1]->Exec({"timeout", "20", "ffprobe", "-v", "error", "-rtsp_transport", "tcp", url},
                      &output),
      0);
  // And a new share can start; a peer quits cleanly while it runs (before
  // the X server goes away with this scope).
  EXPECT_GE(a_->CommandResult("share " + To(*b_)), 0);
  EXPECT_EQ(a_->Quit(), 0) << a_->StderrTail();
  EXPECT_TRUE(b_->WaitEvent("OnPeerExit", kEventTimeoutMs, PeerIs(*a_)));
}

TEST_F(FileShareTest, ShareWithoutADisplayFailsAndStaysHeldUntilClosed) {
  StartTwo({"DISPLAY=:4242"});
  EXPECT_EQ(a_->CommandResult("share " + To(*b_)), -3);
  EXPECT_EQ(a_->CommandResult("share " + To(*b_)), -2);
  // No invitation went out, but closing still tells the peer.
  EXPECT_EQ(b_->CountEvents("OnRecvShareScreenUrl"), 0u);
  EXPECT_GE(a_->CommandResult("closeshare"), 0);
  EXPECT_EQ(a_->CommandResult("share " + To(*b_)), -3);
}

}  // namespace
}  // namespace qnchat_test
