// The HTTP client against a tiny server on 127.0.0.1 that answers each
// connection with a canned reply.
#include "tesselnet/md5.h"
#include "tesselnet/ru_doveri.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

namespace {

class CannedServer {
 public:
  explicit CannedServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(fd_, 4);
    thread_ = std::thread([this] {
      const int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      char buffer[4096];
      recv(client, buffer, sizeof(buffer), 0);  // the request; its content is not checked
      send(client, reply_.data(), reply_.size(), MSG_NOSIGNAL);
      close(client);
    });
  }
  ~CannedServer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/file"; }

 private:
  std::string reply_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// Downloads into a string, remembering the last progress report.
struct Collector {
  Collector() {
    cb.user = this;
    cb.write = [](const void* data, size_t size, size_t count,
                  RU_Doveri::VUDod::DownCb* cb) -> size_t {
      static_cast<Collector*>(cb->user)->body.append(static_cast<const char*>(data), size * count);
      return count;
    };
    cb.progress = [](RU_Doveri::VUDod::DownCb* cb, double total, double received) {
      auto* self = static_cast<Collector*>(cb->user);
      self->last_total = static_cast<int64_t>(total);
      self->last_received = static_cast<int64_t>(received);
    };
  }
  RU_Doveri::QNResponse Get(const std::string& url) {
    return RU_Doveri::VUDod::downLoad(url, cb, 0, 0);
  }
  RU_Doveri::VUDod::DownCb cb;
  std::string body;
  int64_t last_total = 0;
  int64_t last_received = 0;
};

TEST(VUDodTest, DownloadStreamsTheWholeBodyWithProgress) {
  const std::string body(100000, 'q');
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body);
  Collector collector;
  auto response = collector.Get(server.Url());
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(body, collector.body);
  EXPECT_EQ(100000, collector.last_total);
  EXPECT_EQ(100000, collector.last_received);
}

TEST(VUDodTest, NotFoundIsAFailureCarryingItsBody) {
  CannedServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno file!\n");
  Collector collector;
  auto response = collector.Get(server.Url());
  EXPECT_EQ(404, response.status);
  EXPECT_EQ("no file!\n", response.body);
  EXPECT_EQ("", collector.body);
}

TEST(VUDodTest, BodyCutShortIsNeverReportedAs200) {
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly a little");
  Collector collector;
  auto response = collector.Get(server.Url());
  EXPECT_LE(response.status, 0);
  EXPECT_FALSE(response.body.empty());
}

TEST(VUDodTest, RefusedConnectionIsNeverReportedAs200) {
  int port = 0;
  {
    CannedServer probe("");
    port = std::stoi(probe.Url().substr(17, 5));
  }
  Collector collector;
  auto response = collector.Get("http://127.0.0.1:" + std::to_string(port) + "/x");
  EXPECT_LE(response.status, 0);
  EXPECT_FALSE(response.body.empty());
}

TEST(VUDodTest, PostSendsHeadersAndReturnsTheAnswer) {
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n{\"code\":0}\n");
  RU_Doveri::VUDod client("");
  client.appendHeader("Content-Type", "application/json");
  client.setVerifyPeer(false);
  auto response = client.post(server.Url(), "{}");
  EXPECT_EQ(200, response.status);
  EXPECT_EQ("{\"code\":0}\n", response.body);
}

TEST(Md5Test, LowerCaseHex) {
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", qn_crypt::MD5::md5Data("abc"));
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", qn_crypt::MD5::md5Data(""));
}

}  // namespace
