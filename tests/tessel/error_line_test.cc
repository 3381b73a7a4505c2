#include "tessel/error_line.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(FileBaseNameTest, LastPathComponent) {
  EXPECT_STREQ("c.cc", tsl::FileBaseName("/a/b/c.cc"));
  EXPECT_STREQ("c.cc", tsl::FileBaseName("c.cc"));
  EXPECT_STREQ("", tsl::FileBaseName("/a/b/"));
  EXPECT_STREQ("", tsl::FileBaseName(nullptr));
}

TEST(ErrorLineTest, TimeFileLineAndMessageAtErrorLevelUnderTsl) {
  char pattern[] = "/tmp/error_line_test.XXXXXX";
  const std::string dir = mkdtemp(pattern);
  setenv("XDG_DATA_HOME", dir.c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  // Nothing before the support layer exists, and no crash either.
  TSL_ERROR_LINE("too early %d", 1);
  char name[] = "QNChat";
  char* argv[] = {name, nullptr};
  tsl::InitTessel(1, argv);
  ASSERT_NE(nullptr, CD);

  const int first_line = __LINE__ + 1;
  TSL_ERROR_LINE("[feedback failed!]errcode: %d, errmsg: %s", 7, "bad gateway");
  const int second_line = __LINE__ + 1;
  TSL_ERROR_LINE("plain");

  std::ifstream in(dir + "/QNChat/log/QNChat.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(2u, lines.size());
  // The line number is padded to four places: "%-4d".
  char first_number[16], second_number[16];
  snprintf(first_number, sizeof(first_number), "%-4d", first_line);
  snprintf(second_number, sizeof(second_number), "%-4d", second_line);
  const std::string prefix =
      R"(.* E \[tsl\] \d{4}-\d{2}:\d{2}:\d{2}\[E\]\[tsl\] error_line_test\.cc )";
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(prefix + first_number +
                           R"(: \[feedback failed!\]errcode: 7, errmsg: bad gateway)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(prefix + second_number + ": plain")))
      << lines[1];
  system(("rm -rf " + dir).c_str());
}

}  // namespace
