// Handing over from root to the invoking user, with a throwaway account made
// for each test and removed afterwards.
#include "main/privilege.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "main/run_shell.h"
#include "support/log_capture.h"

namespace {

using main_test::ReadFile;
using main_test::RunShell;
using main_test::ShellQuote;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Sets or clears environment variables for one test and restores them.
class EnvGuard {
 public:
  ~EnvGuard() {
    for (const auto& [name, value] : saved_) {
      if (value.first)
        setenv(name.c_str(), value.second.c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = getenv(name.c_str());
      saved_[name] = {old != nullptr, old ? old : ""};
    }
    if (value)
      setenv(name.c_str(), value, 1);
    else
      unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::pair<bool, std::string>> saved_;
};

class ThrowawayUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to add a user and to hand over";
    char pattern[] = "/tmp/privilege_test.XXXXXX";
    dir_ = mkdtemp(pattern);
    chmod(dir_.c_str(), 0755);
    name_ = "qnrl" + std::to_string(getpid());
    home_ = dir_ + "/home";
    int status = -1;
    const std::string out =
        RunShell("/usr/sbin/useradd -U -M -s /bin/sh -d " + home_ + " " + name_, &status);
    ASSERT_EQ(0, status) << out;
    user_added_ = true;
    const passwd* user = getpwnam(name_.c_str());
    ASSERT_NE(nullptr, user);
    uid_ = user->pw_uid;
    gid_ = user->pw_gid;
    RunShell("mkdir -p " + home_ + " && chown " + name_ + ": " + home_);
    out_ = dir_ + "/out";
    RunShell("mkdir -m 1777 " + out_);
    probe_ = dir_ + "/probe.sh";
    std::ofstream(probe_) << "#!/bin/sh\n"
                          << "{ id -u; id -g; id -G; echo \"$HOME\"; echo \"$USER\"; "
                             "echo \"$LOGNAME\"; echo \"$#:$1\"; } > "
                          << out_ << "/result.tmp && mv " << out_ << "/result.tmp " << out_
                          << "/result\n";
    chmod(probe_.c_str(), 0755);
    env_.Set("PKEXEC_UID", nullptr);
    env_.Set("SUDO_UID", nullptr);
    env_.Set("SUDO_GID", nullptr);
  }
  void TearDown() override {
    if (user_added_) RunShell("/usr/sbin/userdel " + name_);
    if (!dir_.empty()) RunShell("rm -rf " + ShellQuote(dir_));
  }

  // Waits for the handed-over child (this process's only one) to end and
  // returns what the probe wrote.
  std::vector<std::string> ChildResult() {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    EXPECT_GT(pid, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return Lines(ReadFile(out_ + "/result"));
  }
  static bool NoChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

  EnvGuard env_;
  std::string dir_, name_, home_, out_, probe_;
  bool user_added_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

TEST_F(ThrowawayUserTest, SudoUserRunsTheProgramWithItsOwnRightsAndEnvironment) {
  env_.Set("SUDO_UID", std::to_string(uid_).c_str());
  env_.Set("SUDO_GID", std::to_string(gid_).c_str());
  env_.Set("HOME", "/root");
  env_.Set("USER", "root");
  env_.Set("LOGNAME", "root");
  ASSERT_TRUE(XCreate(probe_, "deprivilegeopen"));
  const std::vector<std::string> result = ChildResult();
  ASSERT_EQ(7u, result.size());
  EXPECT_EQ(std::to_string(uid_), result[0]);
  EXPECT_EQ(std::to_string(gid_), result[1]);
  // Only the user's own groups: root's group 0 is gone.
  EXPECT_EQ(std::to_string(gid_), result[2]);
  EXPECT_EQ(home_, result[3]);
  EXPECT_EQ(name_, result[4]);
  EXPECT_EQ(name_, result[5]);
  EXPECT_EQ("1:deprivilegeopen", result[6]);
}

TEST_F(ThrowawayUserTest, PkexecUidAndAProgramFoundOnThePath) {
  env_.Set("PKEXEC_UID", std::to_string(uid_).c_str());
  env_.Set("PATH", (dir_ + ":/usr/bin:/bin").c_str());
  ASSERT_TRUE(XCreate("probe.sh", "deprivilegeopen"));
  const std::vector<std::string> result = ChildResult();
  ASSERT_EQ(7u, result.size());
  EXPECT_EQ(std::to_string(uid_), result[0]);
  EXPECT_EQ(std::to_string(gid_), result[1]);
  EXPECT_EQ(name_, result[4]);
}

TEST_F(ThrowawayUserTest, WithoutAnInvokingUserNothingIsStarted) {
  EXPECT_FALSE(XCreate(probe_, "deprivilegeopen"));
  for (const char* value : {"0", "", "12abc", "-5"}) {
    env_.Set("SUDO_UID", value);
    EXPECT_FALSE(XCreate(probe_, "deprivilegeopen")) << value;
  }
  EXPECT_TRUE(NoChildLeft());
  EXPECT_NE(0, access((out_ + "/result").c_str(), F_OK));
}

TEST_F(ThrowawayUserTest, ProgramThatCannotRunIsAFailureNotAHandOver) {
  qnchat_test::LogCapture log;
  env_.Set("SUDO_UID", std::to_string(uid_).c_str());
  EXPECT_FALSE(XCreate(dir_ + "/missing", "deprivilegeopen"));
  EXPECT_TRUE(log.Has("CreateProcessWithTokenW Failed: 2")) << log.Lines().size();
  // Root may run it, the user may not.
  const std::string private_probe = dir_ + "/private.sh";
  RunShell("cp " + probe_ + " " + private_probe + " && chmod 0700 " + private_probe);
  EXPECT_FALSE(XCreate(private_probe, "deprivilegeopen"));
  EXPECT_TRUE(log.Has("CreateProcessWithTokenW Failed: 13"));
  EXPECT_TRUE(NoChildLeft());
}

TEST_F(ThrowawayUserTest, UnknownUidIsRefused) {
  qnchat_test::LogCapture log;
  uid_t unused = 61000;
  while (getpwuid(unused)) ++unused;
  env_.Set("SUDO_UID", std::to_string(unused).c_str());
  EXPECT_FALSE(XCreate(probe_, "deprivilegeopen"));
  EXPECT_TRUE(log.HasPrefix("OpenProcessToken Failed:") || log.Has("OpenProcessToken Failed: 0"));
  EXPECT_TRUE(NoChildLeft());
}

// The real program started by root on behalf of the throwaway user; only in
// a network namespace made here, with Qt drawing off screen.
class ElevatedStartTest : public ThrowawayUserTest {
 protected:
  void SetUp() override {
    ThrowawayUserTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ns_ = "qnpriv" + std::to_string(getpid());
    ASSERT_EQ(0, system(("ip netns add " + ns_).c_str()));
  }
  void TearDown() override {
    for (pid_t pid : NamespacePids()) kill(pid, SIGKILL);
    if (!ns_.empty()) RunShell("ip netns del " + ns_);
    ThrowawayUserTest::TearDown();
  }
  std::vector<pid_t> NamespacePids() {
    std::vector<pid_t> pids;
    if (ns_.empty()) return pids;
    for (const std::string& line : Lines(RunShell("ip netns pids " + ns_)))
      if (!line.empty()) pids.push_back(static_cast<pid_t>(std::stol(line)));
    return pids;
  }
  // The first copy in the namespace whose command line has the marker.
  pid_t WaitForRelaunched() {
    for (int i = 0; i < 100; ++i) {
      for (pid_t pid : NamespacePids()) {
        std::string cmdline = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
        if (cmdline.find("QNChat") != std::string::npos &&
            cmdline.find("deprivilegeopen") != std::string::npos)
          return pid;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
  }
  // The relaunched copy keeps running, so the output goes to a file rather
  // than a pipe whose end would never come.
  std::string Start(const std::string& args, int* status) {
    const std::string app = std::string(QNCHAT_BINARY_DIR) + "/main/QNChat";
    const std::string out = dir_ + "/start.out";
    RunShell("ip netns exec " + ns_ + " unshare --ipc env -u PKEXEC_UID SUDO_UID=" +
                 std::to_string(uid_) + " SUDO_GID=" + std::to_string(gid_) + " HOME=" + dir_ +
                 "/roothome QT_QPA_PLATFORM=offscreen " + app + " " + args + " >" + out +
                 " 2>&1 </dev/null",
             status);
    return ReadFile(out);
  }
  std::string ns_;
};

TEST_F(ElevatedStartTest, RootHandsOverAndExitsZero) {
  int status = -1;
  const std::string out = Start("", &status);
  EXPECT_EQ(0, status) << out;
  EXPECT_NE(std::string::npos, out.find("[App is Admin! Use user rights to Open App!]")) << out;
  EXPECT_NE(std::string::npos, out.find("deprivilegeopen")) << out;
  EXPECT_EQ(std::string::npos, out.find("Another instance")) << out;

  const pid_t child = WaitForRelaunched();
  ASSERT_GT(child, 0) << out;
  struct stat st;
  ASSERT_EQ(0, stat(("/proc/" + std::to_string(child)).c_str(), &st));
  EXPECT_EQ(uid_, st.st_uid);
  std::string environ = ReadFile("/proc/" + std::to_string(child) + "/environ");
  for (char& c : environ)
    if (c == '\0') c = '\n';
  EXPECT_NE(std::string::npos, ("\n" + environ).find("\nHOME=" + home_ + "\n")) << environ;
  EXPECT_NE(std::string::npos, ("\n" + environ).find("\nUSER=" + name_ + "\n"));
  EXPECT_NE(std::string::npos, ("\n" + environ).find("\nLOGNAME=" + name_ + "\n"));
  // The user's copy keeps its files in the user's home, as the user.
  const std::string log = home_ + "/.local/share/QNChat/log/QNChat.log";
  for (int i = 0; i < 100 && access(log.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(0, stat(log.c_str(), &st)) << log;
  EXPECT_EQ(uid_, st.st_uid);
}

TEST_F(ElevatedStartTest, MarkedStartStaysAndDoesNotHandOverAgain) {
  int status = -1;
  // The copy runs until killed; the shell reports whether it was still up.
  const std::string app = std::string(QNCHAT_BINARY_DIR) + "/main/QNChat";
  const std::string out = RunShell(
      "ip netns exec " + ns_ + " unshare --ipc env -u PKEXEC_UID SUDO_UID=" + std::to_string(uid_) +
          " HOME=" + dir_ + "/roothome QT_QPA_PLATFORM=offscreen sh -c '" + app +
          " deprivilegeopen & p=$!; i=0; " + "while [ ! -e " + dir_ +
          "/roothome/.local/share/QNChat/log/QNChat.log ] && [ $i -lt 100 ]; do sleep 0.1; "
          "i=$((i+1)); done; sleep 1; if kill -0 $p; then echo stayed; kill $p; fi; wait $p'",
      &status);
  EXPECT_NE(std::string::npos, out.find("stayed")) << out;
  EXPECT_EQ(std::string::npos, out.find("[App is Admin!")) << out;
  EXPECT_EQ(std::string::npos, out.find("[Cmd]:")) << out;
}

}  // namespace
