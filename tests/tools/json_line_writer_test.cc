#include "tools/json_line_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace qnchat_peer {
namespace {

const std::string kBad = "\xEF\xBF\xBD";

TEST(JsonLineWriterTest, WellFormedUtf8IsKeptAsItIs) {
  const std::string text =
      "plain, \xC3\xA9, \xE4\xBD\xA0\xE5\xA5\xBD, \xF0\x9F\x98\x80, \xF4\x8F\xBF\xBF";
  EXPECT_EQ(ToValidUtf8(text), text);
  EXPECT_EQ(ToValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(ToValidUtf8(""), "");
}

TEST(JsonLineWriterTest, EveryIllFormedByteBecomesOneReplacement) {
  EXPECT_EQ(ToValidUtf8("a\xFF"
                        "b"),
            "a" + kBad + "b");
  EXPECT_EQ(ToValidUtf8("\x80"), kBad);             // stray continuation
  EXPECT_EQ(ToValidUtf8("\xE4\xBD"), kBad + kBad);  // cut short at the end
  EXPECT_EQ(ToValidUtf8("\xE4\xBD"
                        "x"),
            kBad + kBad + "x");                                           // cut short before ASCII
  EXPECT_EQ(ToValidUtf8("\xC0\xAF"), kBad + kBad);                        // overlong '/'
  EXPECT_EQ(ToValidUtf8("\xE0\x80\xAF"), kBad + kBad + kBad);             // overlong, 3 bytes
  EXPECT_EQ(ToValidUtf8("\xED\xA0\x80"), kBad + kBad + kBad);             // surrogate
  EXPECT_EQ(ToValidUtf8("\xF4\x90\x80\x80"), kBad + kBad + kBad + kBad);  // above U+10FFFF
  EXPECT_EQ(ToValidUtf8("\xF5\x80"), kBad + kBad);
}

TEST(JsonLineWriterTest, WritesOneCompactLinePerValueWithCleanStringsAtAnyDepth) {
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  {
    JsonLineWriter writer(file);
    Json::Value value(Json::objectValue);
    value["event"] = "OnRecvText";
    value["text"] = "bad \xFF";
    value["list"].append("x\xC0");
    value["seq"] = Json::Int64(9007199254740993LL);
    writer.Write(value);
    writer.Write(Json::Value("second"));
  }
  rewind(file);
  char buffer[512] = {};
  const size_t n = fread(buffer, 1, sizeof(buffer) - 1, file);
  fclose(file);
  const std::string text(buffer, n);
  EXPECT_EQ(text, "{\"event\":\"OnRecvText\",\"list\":[\"x" + kBad +
                      "\"],\"seq\":9007199254740993,"
                      "\"text\":\"bad " +
                      kBad + "\"}\n\"second\"\n");
}

}  // namespace
}  // namespace qnchat_peer
