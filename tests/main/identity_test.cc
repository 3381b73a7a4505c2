// The identity across program starts: each start is a fresh process of
// identity_probe in a fresh HOME, as a new user's first start would be.
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "main/run_shell.h"

namespace {

using main_test::Field;
using main_test::ReadFile;
using main_test::RunShell;
using main_test::ShellQuote;

std::string HostName() {
  char name[1024] = {};
  gethostname(name, sizeof(name) - 1);
  return name;
}

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { home_ = NewHome(); }
  void TearDown() override { RunShell("rm -rf " + ShellQuote(home_)); }

  static std::string NewHome() {
    char pattern[] = "/tmp/identity_test.XXXXXX";
    return mkdtemp(pattern);
  }

  // One start of the probe with nothing but HOME and PATH.
  std::string Start(const std::string& args, int* status = nullptr, std::string home = "") {
    if (home.empty()) home = home_;
    return RunShell("env -i HOME=" + ShellQuote(home) + " PATH=/usr/bin:/bin " +
                        ShellQuote(std::string(QNCHAT_BINARY_DIR) + "/tests/main/identity_probe") +
                        " " + args,
                    status);
  }

  std::string home_;
};

TEST_F(IdentityTest, FirstStartCreatesTheIdentifierAndLaterStartsReadIt) {
  int status = -1;
  const std::string first = Start("identity", &status);
  ASSERT_EQ(0, status) << first;
  const std::string uuid = Field(first, "uuid");
  EXPECT_TRUE(std::regex_match(
      uuid,
      std::regex(R"(\{[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\})")))
      << uuid;
  EXPECT_NE(std::string::npos,
            first.find("Failed to read UUID from the registry, new UUID is " + uuid + "\n"))
      << first;
  // Synced to Qt's native settings before the start went on.
  EXPECT_NE(std::string::npos,
            ReadFile(home_ + "/.config/QN/QNChat.conf").find("LocalPeerUuid=" + uuid));

  const std::string second = Start("identity");
  EXPECT_EQ(uuid, Field(second, "uuid"));
  EXPECT_NE(std::string::npos,
            second.find("Successfully read UUID from the registry , UUID is " + uuid + "\n"))
      << second;
  EXPECT_EQ(std::string::npos, second.find("Failed to read UUID")) << second;
  EXPECT_EQ(uuid, Field(Start("identity"), "uuid"));

  // Another user is another peer.
  const std::string other_home = NewHome();
  EXPECT_NE(uuid, Field(Start("identity", nullptr, other_home), "uuid"));
  RunShell("rm -rf " + ShellQuote(other_home));
}

TEST_F(IdentityTest, EmptyNickNameShowsTheComputerNameButStaysEmptyInTheStore) {
  const std::string out = Start("identity");
  EXPECT_EQ(HostName(), Field(out, "computer"));
  EXPECT_EQ(HostName(), Field(out, "nick"));
  EXPECT_EQ(HostName(), Field(out, "device"));
  EXPECT_EQ("", Field(out, "email"));
  EXPECT_EQ("", Field(out, "remark"));
  EXPECT_EQ("0", Field(out, "online"));
  Start("identity");
  // Every card key was read with its default and so is listed in the store.
  const std::string store = ReadFile(home_ + "/.config/QNChat/config.json");
  for (const char* key : {"LocalPeerNickName", "LocalPeerEmail", "LocalPeerPosition",
                          "LocalPeerTelephone", "LocalPeerSection"})
    EXPECT_TRUE(std::regex_search(store, std::regex(std::string("\"") + key + "\"\\s*:\\s*\"\"")))
        << key << " in " << store;
  EXPECT_EQ(std::string::npos, store.find("LocalPeerUuid")) << store;
}

TEST_F(IdentityTest, SavedCardIsReadOnTheNextStart) {
  const std::string uuid = Field(Start("identity"), "uuid");
  int status = -1;
  Start("save 小王 wang@example.org 'Chief \"tester\"' +86-10-1234 研发部", &status);
  ASSERT_EQ(0, status);
  const std::string out = Start("identity");
  EXPECT_EQ("小王", Field(out, "nick"));
  EXPECT_EQ("wang@example.org", Field(out, "email"));
  EXPECT_EQ("Chief \"tester\"", Field(out, "position"));
  EXPECT_EQ("+86-10-1234", Field(out, "telephone"));
  EXPECT_EQ("研发部", Field(out, "section"));
  EXPECT_EQ(uuid, Field(out, "uuid"));
  EXPECT_EQ(HostName(), Field(out, "device"));
}

TEST_F(IdentityTest, CardSavedJustBeforeACrashSurvives) {
  Start("identity");
  Start("save crash-nick a@b c d e crash");
  const std::string out = Start("identity");
  EXPECT_EQ("crash-nick", Field(out, "nick"));
  EXPECT_EQ("e", Field(out, "section"));
}

}  // namespace
