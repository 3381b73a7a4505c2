#include "chat/chat_file_uri_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "chat_base/new_uuid_text.h"
#include "chat_http/http_server_impl.h"
#include "chat_http/http_test_util.h"

namespace chat {
namespace {

using chat_base::NewUuidText;
using http_test::Exchange;
using http_test::Get;

std::string MakeTempDir() {
  char pattern[] = "/tmp/qnchat_http_XXXXXX";
  const char* dir = mkdtemp(pattern);
  return dir ? dir : "";
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// A file server bound to a manager, as the chat core sets it up, on 127.0.0.1.
class FileServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    server_->AddHandler(
        ChatFileUriManager::kUriPattern,
        [this](const chat_http::HttpRequest& request, chat_http::HttpResponse& response) {
          manager_.OnRequest(request, response);
        });
    ASSERT_TRUE(server_->Listen("127.0.0.1", 0));
    port_ = server_->GetPort();
  }
  void TearDown() override {
    server_ = nullptr;
    http_test::RunCommand("rm -rf " + dir_);
  }
  std::string Url(const std::string& uri) {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + uri;
  }

  std::string dir_;
  ChatFileUriManager manager_;
  chat_base::RefPtr<chat_http::HttpServerImpl> server_ =
      chat_base::MakeRefCounted<chat_http::HttpServerImpl>();
  int port_ = 0;
};

TEST(NewUuidTextTest, IsFreshUpperCaseAndAcceptedByTheUriPattern) {
  const std::regex shape("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  const std::regex uri(ChatFileUriManager::kUriPattern);
  const std::string a = NewUuidText(), b = NewUuidText();
  EXPECT_TRUE(std::regex_match(a, shape)) << a;
  EXPECT_TRUE(std::regex_match("/" + a, uri));
  EXPECT_NE(a, b);
}

TEST(ChatFileUriManagerTest, PublishGivesUpWhenNoFreshUriCanBeDrawn) {
  int calls = 0;
  ChatFileUriManager failing([&calls] {
    ++calls;
    return std::string();
  });
  EXPECT_EQ(failing.Publish("/tmp/a"), "");
  EXPECT_EQ(calls, ChatFileUriManager::kPublishAttempts);

  ChatFileUriManager repeating([] { return std::string("SAME"); });
  EXPECT_EQ(repeating.Publish("/tmp/a"), "SAME");
  EXPECT_EQ(repeating.Publish("/tmp/a"), "");  // taken; must not loop forever
}

TEST_F(FileServerTest, PublishedUnpublishedEmptyAndMissingFiles) {
  const std::string data = RandomBytes(100000, 1);
  WriteFile(dir_ + "/f.bin", data);
  WriteFile(dir_ + "/empty", "");
  const std::string uri = manager_.Publish(dir_ + "/f.bin");
  const std::string again = manager_.Publish(dir_ + "/f.bin");
  ASSERT_EQ(uri.size(), 36u);
  EXPECT_NE(uri, again);

  auto ok = Exchange(port_, Get("/" + uri));
  EXPECT_EQ(ok.data,
            "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n"
            "Content-Type: application/octet-stream\r\nServer: QNChat\r\n\r\n" +
                data);
  EXPECT_EQ(Exchange(port_, Get("/" + again)).data, ok.data);

  const std::string not_found = "HTTP/1.1 404 Not Found\r\nServer: QNChat\r\n\r\n";
  EXPECT_EQ(Exchange(port_, Get("/" + NewUuidText())).data, not_found);
  EXPECT_EQ(Exchange(port_, Get("/" + manager_.Publish(dir_ + "/empty"))).data, not_found);
  EXPECT_EQ(Exchange(port_, Get("/" + manager_.Publish(dir_ + "/missing"))).data, not_found);
  EXPECT_EQ(Exchange(port_, Get("/" + manager_.Publish(dir_))).data, not_found);
  // A query is outside the pattern: the server's own 404.
  EXPECT_EQ(Exchange(port_, Get("/" + uri + "?x=1")).data,
            "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nServer: QNChat\r\n\r\n");

  // A file changed after publishing is served as it is now.
  WriteFile(dir_ + "/f.bin", "changed");
  EXPECT_EQ(http_test::RunCommand("curl -s " + Url(uri)), "changed");
}

TEST_F(FileServerTest, SixtyFourParallelCurlDownloadsMatch) {
  std::string command = "cd " + dir_ + " && (";
  std::vector<std::string> expected;
  for (int i = 0; i < 64; ++i) {
    expected.push_back(RandomBytes(64 * 1024 + i * 24 * 1024 + i, 100 + i));
    const std::string name = dir_ + "/src" + std::to_string(i);
    WriteFile(name, expected.back());
    command += "curl -s -o out" + std::to_string(i) + " " + Url(manager_.Publish(name)) + " & ";
  }
  command += "wait)";
  http_test::RunCommand(command);
  for (int i = 0; i < 64; ++i)
    EXPECT_TRUE(ReadFile(dir_ + "/out" + std::to_string(i)) == expected[i]) << "file " << i;
}

TEST_F(FileServerTest, ClientThatStopsReadingDoesNotStallOthers) {
  WriteFile(dir_ + "/big", RandomBytes(64 << 20, 7));
  const std::string small = RandomBytes(1 << 20, 8);
  WriteFile(dir_ + "/small", small);
  const std::string big_uri = manager_.Publish(dir_ + "/big");
  const std::string small_uri = manager_.Publish(dir_ + "/small");

  const int stalled = http_test::ConnectLoopback(port_);
  ASSERT_GE(stalled, 0);
  ASSERT_TRUE(http_test::SendAll(stalled, Get("/" + big_uri)));
  ASSERT_TRUE(http_test::WaitReadable(stalled));
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(http_test::RunCommand("curl -s --max-time 30 " + Url(small_uri)) == small) << i;
  }
  // The stalled client then reads its whole file.
  auto rest = http_test::ReadToEnd(stalled);
  close(stalled);
  EXPECT_EQ(rest.data.size(), (64u << 20) + 101u);
}

TEST_F(FileServerTest, SparseFileOverFourGiBStreamsToItsEnd) {
  const std::string path = dir_ + "/sparse";
  const int64_t size = (int64_t{4} << 30) + 123457;
  const std::string tail = "end-of-the-sparse-file";
  {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), size - static_cast<int64_t>(tail.size())),
              static_cast<ssize_t>(tail.size()));
    close(fd);
  }
  const int fd = http_test::ConnectLoopback(port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(http_test::SendAll(fd, Get("/" + manager_.Publish(path))));
  std::string head;
  bool in_body = false;
  int64_t body = 0;
  std::string last;
  char buf[1 << 16];
  while (http_test::WaitReadable(fd)) {
    const ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) break;
    size_t skip = 0;
    if (!in_body) {
      const size_t before = head.size();
      head.append(buf, static_cast<size_t>(n));
      const size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      skip = end + 4 - before;
      head.resize(end);
      in_body = true;
    }
    body += n - static_cast<ssize_t>(skip);
    last.append(buf + skip, static_cast<size_t>(n) - skip);
    if (last.size() > 64) last.erase(0, last.size() - 64);
  }
  close(fd);
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(size) + "\r\n"), std::string::npos)
      << head;
  EXPECT_EQ(body, size);
  ASSERT_GE(last.size(), tail.size());
  EXPECT_EQ(last.substr(last.size() - tail.size()), tail);
}

}  // namespace
}  // namespace chat
