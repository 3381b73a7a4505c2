// The application sink: Qt debug stream with prefixes, and the support
// logger's file under the tag "core".
#include "main/log_sink.h"

#include <unistd.h>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/log.h"
#include "tessel/tessel.h"

namespace {

std::mutex g_mutex;
std::vector<std::string> g_qt_lines;  // guarded by g_mutex

void CollectQt(QtMsgType, const QMessageLogContext&, const QString& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_qt_lines.push_back(text.toStdString());
}

std::string g_log_file;
std::string g_dir;

std::vector<std::string> FileLines() {
  std::ifstream in(g_log_file);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

class LogSinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/log_sink_test.XXXXXX";
    const std::string dir = mkdtemp(pattern);
    setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    char name[] = "QNChat";
    char* argv[] = {name, nullptr};
    tsl::InitTessel(1, argv);
    g_log_file = dir + "/data/QNChat/log/QNChat.log";
    g_dir = dir;
  }
  // The logger keeps its file open; removing the directory under it is fine.
  static void TearDownTestSuite() { system(("rm -rf " + g_dir).c_str()); }
  void SetUp() override {
    ASSERT_NE(nullptr, CD);
    ASSERT_TRUE(CD->logger()->IsOpen()) << g_log_file;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_qt_lines.clear();
    }
    lines_before_ = FileLines().size();
    qInstallMessageHandler(CollectQt);
    SetLogSink(AppLogSink, nullptr);
  }
  void TearDown() override {
    SetLogSink(nullptr, nullptr);
    qInstallMessageHandler(nullptr);
  }
  std::vector<std::string> QtLines() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_qt_lines;
  }
  std::vector<std::string> NewFileLines() {
    std::vector<std::string> lines = FileLines();
    return std::vector<std::string>(lines.begin() + std::min(lines_before_, lines.size()),
                                    lines.end());
  }
  size_t lines_before_ = 0;
};

TEST_F(LogSinkTest, EachLevelGetsItsPrefixAndLoggerLevel) {
  LogMessage(10, "bad %d", 1);
  LogMessage(20, "careful %s", "now");
  LogMessage(30, "state");
  LogMessage(40, "trace %c", 'x');
  EXPECT_EQ((std::vector<std::string>{"error: bad 1", "warning: careful now", "info: state",
                                      "debug: trace x"}),
            QtLines());
  const std::vector<std::string> lines = NewFileLines();
  ASSERT_EQ(4u, lines.size());
  const char* expected[][2] = {
      {"E", "bad 1"}, {"W", "careful now"}, {"I", "state"}, {"D", "trace x"}};
  for (size_t i = 0; i < 4; ++i) {
    // "<date time> <level letter> [core] <%m%d-%H:%M:%S>\t<text>"
    const std::regex pattern(std::string(".* ") + expected[i][0] +
                             R"( \[core\] \d{4}-\d{2}:\d{2}:\d{2}\t)" + expected[i][1]);
    EXPECT_TRUE(std::regex_match(lines[i], pattern)) << lines[i];
  }
}

TEST_F(LogSinkTest, UnknownLevelsWriteNothing) {
  LogMessage(15, "never");
  LogMessage(50, "never");
  LogMessage(0, "never");
  LogMessage(-10, "never");
  EXPECT_TRUE(QtLines().empty());
  EXPECT_TRUE(NewFileLines().empty());
}

TEST_F(LogSinkTest, LongMessageIsCutTo4095Bytes) {
  const std::string text = std::string(5000, 'a') + "TAIL";
  LogMessage(40, "%s", text.c_str());
  const std::vector<std::string> qt = QtLines();
  ASSERT_EQ(1u, qt.size());
  EXPECT_EQ("debug: " + std::string(4095, 'a'), qt[0]);
  const std::vector<std::string> lines = NewFileLines();
  ASSERT_EQ(1u, lines.size());
  const size_t tab = lines[0].find('\t');
  ASSERT_NE(std::string::npos, tab);
  EXPECT_EQ(std::string(4095, 'a'), lines[0].substr(tab + 1));
}

TEST_F(LogSinkTest, ReportLastErrorWritesPrefixCodeAndText) {
  errno = ENOENT;
  ReportLastError("[XCreate]OpenProcess Failed:");
  const std::vector<std::string> qt = QtLines();
  ASSERT_EQ(1u, qt.size());
  EXPECT_EQ("[XCreate]OpenProcess Failed: 2 No such file or directory", qt[0]);
}

}  // namespace
