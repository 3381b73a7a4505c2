// The HTTP client against a tiny server on 127.0.0.1 that answers each
// connection with a canned reply.
#include "tesselnet/tesselnet.h"

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

size_t Collect(const void* data, size_t size, size_t count, void* context) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size * count);
  return count;
}

TEST(VUDodTest, DownloadStreamsTheWholeBodyWithProgress) {
  const std::string body(100000, 'q');
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body);
  std::string received;
  int64_t last_total = 0, last_received = 0;
  auto response = RU_Doveri::VUDod::downLoad(server.Url(), Collect, &received, 0,
                                             [&](int64_t total, int64_t got) {
                                               last_total = total;
                                               last_received = got;
                                             });
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(body, received);
  EXPECT_EQ(100000, last_total);
  EXPECT_EQ(100000, last_received);
}

TEST(VUDodTest, NotFoundIsAFailureCarryingItsBody) {
  CannedServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno file!\n");
  std::string received;
  auto response = RU_Doveri::VUDod::downLoad(server.Url(), Collect, &received, 0, 0);
  EXPECT_EQ(404, response.status);
  EXPECT_EQ("no file!\n", response.body);
  EXPECT_EQ("", received);
}

TEST(VUDodTest, BodyCutShortIsNeverReportedAs200) {
  CannedServer server("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly a little");
  std::string received;
  auto response = RU_Doveri::VUDod::downLoad(server.Url(), Collect, &received, 0, 0);
  EXPECT_LE(response.status, 0);
  EXPECT_FALSE(response.body.empty());
}

TEST(VUDodTest, RefusedConnectionIsNeverReportedAs200) {
  int port = 0;
  {
    CannedServer probe("");
    port = std::stoi(probe.Url().substr(17, 5));
  }
  std::string received;
  auto response = RU_Doveri::VUDod::downLoad(
      "http://127.0.0.1:" + std::to_string(port) + "/x", Collect, &received, 0, 0);
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
