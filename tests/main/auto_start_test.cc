#include "main/auto_start.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "main/run_shell.h"

namespace {

using main_test::ReadFile;
using main_test::RunShell;
using main_test::ShellQuote;

// The Exec line's first argument as a desktop environment reads it: string
// escapes first, then the field-code %%, then the argument quoting.
std::string DecodeExecProgram(const std::string& value) {
  std::string unescaped;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      unescaped += next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
    } else {
      unescaped += value[i];
    }
  }
  std::string codes;
  for (size_t i = 0; i < unescaped.size(); ++i) {
    if (unescaped[i] == '%') {
      if (i + 1 < unescaped.size() && unescaped[i + 1] == '%') codes += '%';
      ++i;  // any other field code expands to nothing here
    } else {
      codes += unescaped[i];
    }
  }
  std::string program;
  bool quoted = false;
  for (size_t i = 0; i < codes.size(); ++i) {
    const char c = codes[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == '\\' && i + 1 < codes.size()) {
      program += codes[++i];
    } else if (!quoted && c == ' ') {
      break;
    } else {
      program += c;
    }
  }
  return program;
}

std::string ExecLine(const std::string& entry) {
  const size_t start = entry.find("\nExec=");
  if (start == std::string::npos) return std::string();
  const size_t end = entry.find('\n', start + 1);
  return entry.substr(start + 6, end - start - 6);
}

class AutoStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/auto_start_test.XXXXXX";
    dir_ = mkdtemp(pattern);
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"}) {
      const char* value = getenv(name);
      saved_.push_back(value ? std::string(value) : std::string("\x01unset"));
    }
    setenv("HOME", (dir_ + "/home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override {
    const char* names[] = {"HOME", "XDG_CONFIG_HOME"};
    for (size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i] == "\x01unset")
        unsetenv(names[i]);
      else
        setenv(names[i], saved_[i].c_str(), 1);
    }
    RunShell("rm -rf " + ShellQuote(dir_));
  }
  std::string dir_;
  std::vector<std::string> saved_;
};

TEST_F(AutoStartTest, EntryIsWrittenUnderTheConfigHomeAndRemoved) {
  const std::string file = dir_ + "/home/.config/autostart/QNChat.desktop";
  EXPECT_EQ(file, AutoStartFilePath());
  EXPECT_FALSE(IsAutoStartSet());
  ASSERT_TRUE(SetAutoStart(true, "/opt/qnchat/bin/QNChat"));
  EXPECT_TRUE(IsAutoStartSet());
  const std::string entry = ReadFile(file);
  EXPECT_EQ(0u, entry.find("[Desktop Entry]\n")) << entry;
  EXPECT_NE(std::string::npos, entry.find("\nType=Application\n")) << entry;
  EXPECT_EQ("\"/opt/qnchat/bin/QNChat\"", ExecLine(entry)) << entry;
  EXPECT_EQ(std::string::npos, ReadFile(file + ".tmp").find("Desktop"));

  // Switching on again replaces the entry with the new path.
  ASSERT_TRUE(SetAutoStart(true, "/usr/bin/QNChat"));
  EXPECT_EQ("/usr/bin/QNChat", DecodeExecProgram(ExecLine(ReadFile(file))));

  ASSERT_TRUE(SetAutoStart(false, ""));
  EXPECT_FALSE(IsAutoStartSet());
  EXPECT_NE(0, access(file.c_str(), F_OK));
  // Removing what is not there is no failure.
  EXPECT_TRUE(SetAutoStart(false, ""));
}

TEST_F(AutoStartTest, XdgConfigHomeIsHonouredWhenAbsolute) {
  setenv("XDG_CONFIG_HOME", (dir_ + "/xdg").c_str(), 1);
  ASSERT_TRUE(SetAutoStart(true, "/usr/bin/QNChat"));
  EXPECT_EQ(0, access((dir_ + "/xdg/autostart/QNChat.desktop").c_str(), F_OK));
  EXPECT_NE(0, access((dir_ + "/home/.config/autostart/QNChat.desktop").c_str(), F_OK));
  // A relative value is invalid and falls back to HOME.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(dir_ + "/home/.config/autostart/QNChat.desktop", AutoStartFilePath());
}

TEST_F(AutoStartTest, AwkwardPathsSurviveTheQuoting) {
  for (const std::string path :
       {"/home/u/My Programs/QNChat", "/opt/a\"b/QNChat", "/opt/$HOME/`id`/QNChat",
        "/opt/back\\slash/QNChat", "/opt/100%/%f/QNChat", "/opt/快信/QNChat"}) {
    ASSERT_TRUE(SetAutoStart(true, path)) << path;
    const std::string exec = ExecLine(ReadFile(AutoStartFilePath()));
    EXPECT_EQ(path, DecodeExecProgram(exec)) << exec;
  }
}

TEST_F(AutoStartTest, PathsAnEntryCannotCarryAreRefused) {
  EXPECT_FALSE(SetAutoStart(true, "/opt/line\nbreak/QNChat"));
  EXPECT_FALSE(SetAutoStart(true, "relative/QNChat"));
  EXPECT_FALSE(SetAutoStart(true, ""));
  EXPECT_FALSE(IsAutoStartSet());
}

TEST_F(AutoStartTest, ConfigDirectoryThatCannotBeMadeIsReported) {
  // A file where the directory should be stops root as well as anyone.
  mkdir((dir_ + "/home").c_str(), 0700);
  std::ofstream(dir_ + "/home/.config") << "not a directory";
  EXPECT_FALSE(SetAutoStart(true, "/usr/bin/QNChat"));
  EXPECT_FALSE(IsAutoStartSet());
}

TEST(ProgramFilePathTest, IsThisExecutable) {
  const std::string path = ProgramFilePath();
  EXPECT_EQ('/', path[0]);
  EXPECT_NE(std::string::npos, path.find("main_auto_start_test")) << path;
}

}  // namespace
