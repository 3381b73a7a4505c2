// Starts the real program; only inside a network namespace made here, and
// under a private Xvfb, so nothing reaches the machine's own network.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "main/run_shell.h"

namespace {

using main_test::RunShell;

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
    if (system("command -v xvfb-run >/dev/null") != 0) GTEST_SKIP() << "xvfb-run missing";
    ns_ = "qnentry" + std::to_string(getpid());
    ASSERT_EQ(0, system(("ip netns add " + ns_).c_str()));
    char pattern[] = "/tmp/entry_test.XXXXXX";
    home_ = mkdtemp(pattern);
  }
  void TearDown() override {
    if (!ns_.empty())
      system(("ip netns pids " + ns_ + " | xargs -r kill -9; ip netns del " + ns_).c_str());
  }
  // A shell run in the namespace with a private HOME, display and IPC
  // namespace (the instance lock is System V shared memory, which network
  // namespaces do not separate; parallel tests must not see each other's).
  std::string InNamespace(const std::string& script, int* status) {
    const std::string app = std::string(QNCHAT_BINARY_DIR) + "/main/QNChat";
    return RunShell(
        "ip netns exec " + ns_ + " unshare --ipc env -u SUDO_UID -u PKEXEC_UID HOME=" + home_ +
            " APP=" + app + " xvfb-run -a -s '-screen 0 1024x768x24' sh -c '" + script + "'",
        status);
  }
  std::string ns_;
  std::string home_;
};

TEST_F(EntryTest, SecondInstanceExitsZeroWithItsLogLine) {
  int status = -1;
  const std::string out = InNamespace(
      "$APP & first=$!; sleep 3; $APP; echo second=$?; kill $first; wait $first", &status);
  EXPECT_NE(std::string::npos, out.find("Another instance is already running.")) << out;
  EXPECT_NE(std::string::npos, out.find("second=0")) << out;
}

TEST_F(EntryTest, CopyKilledWithSigkillDoesNotBlockTheNextStart) {
  int status = -1;
  const std::string out = InNamespace(
      "$APP & first=$!; sleep 3; kill -9 $first; wait $first; "
      "$APP & again=$!; sleep 3; if kill -0 $again; then echo again=running; kill $again; fi",
      &status);
  EXPECT_EQ(std::string::npos, out.find("Another instance is already running.")) << out;
  EXPECT_NE(std::string::npos, out.find("again=running")) << out;
}

}  // namespace
