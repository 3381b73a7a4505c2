#include "tools/peer_command.h"

#include <gtest/gtest.h>

namespace qnchat_peer {
namespace {

PeerCommand Parse(const std::string& line) {
  PeerCommand command;
  std::string error;
  EXPECT_TRUE(ParsePeerCommand(line, &command, &error)) << line << ": " << error;
  return command;
}

std::string Error(const std::string& line) {
  PeerCommand command;
  std::string error;
  EXPECT_FALSE(ParsePeerCommand(line, &command, &error)) << line;
  return error;
}

TEST(PeerCommandTest, LastArgumentTakesTheRestOfTheLineVerbatim) {
  PeerCommand text = Parse("text host-b 1234-abcd  two  spaces\tand a tab ");
  EXPECT_EQ(text.name, "text");
  EXPECT_EQ(text.hostName, "host-b");
  EXPECT_EQ(text.uuid, "1234-abcd");
  EXPECT_EQ(text.text, " two  spaces\tand a tab ");

  PeerCommand file = Parse("sendfile h u /tmp/dir with blanks/file name.txt\r");
  EXPECT_EQ(file.path, "/tmp/dir with blanks/file name.txt");

  PeerCommand download = Parse("download http://198.18.0.1:6011/ABC /tmp/out dir");
  EXPECT_EQ(download.url, "http://198.18.0.1:6011/ABC");
  EXPECT_EQ(download.dir, "/tmp/out dir");

  PeerCommand watch = Parse("watch rtsp://198.18.0.1:8554/play/00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(watch.name, "watch");
  EXPECT_EQ(watch.url, "rtsp://198.18.0.1:8554/play/00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(Parse("{\"command\": \"watch\", \"url\": \"rtsp://h/p\"}").url, "rtsp://h/p");
  EXPECT_EQ(Parse("unwatch").name, "unwatch");

  PeerCommand card = Parse("setcard Alice Sales Manager 555 alice@example.com");
  EXPECT_EQ(card.nickName, "Alice");
  EXPECT_EQ(card.section, "Sales");
  EXPECT_EQ(card.position, "Manager");
  EXPECT_EQ(card.telephone, "555");
  EXPECT_EQ(card.email, "alice@example.com");
}

TEST(PeerCommandTest, RecallSeqMustBeADecimalInteger) {
  EXPECT_EQ(Parse("recall 9223372036854775807 h u").seq, INT64_MAX);
  EXPECT_EQ(Parse("recall -1 h u").seq, -1);
  EXPECT_NE(Error("recall 12x h u").find("usage"), std::string::npos);
  Error("recall 99999999999999999999 h u");
  Error("recall  h u");
}

TEST(PeerCommandTest, MissingArgumentsAndUnknownWordsAreRefused) {
  EXPECT_EQ(Error("text host-only"), "usage: text <host> <uuid> <text...>");
  Error("text h u");  // no text at all
  Error("card h");
  EXPECT_EQ(Error("watch"), "usage: watch <url>");
  Error("recallpolicy maybe");
  EXPECT_EQ(Error("dance now"), "unknown command");
  EXPECT_TRUE(Parse("recallpolicy accept").accept);
  EXPECT_FALSE(Parse("recallpolicy refuse").accept);
  EXPECT_EQ(Parse("quit").name, "quit");
  EXPECT_EQ(Parse("   ").name, "");
  EXPECT_EQ(Parse("").name, "");
}

TEST(PeerCommandTest, JsonObjectsCarryAnyTextAndEmptyFields) {
  PeerCommand text =
      Parse(R"({"command":"text","hostName":"h","uuid":"u","text":"line 1\nline 2 \u4f60"})");
  EXPECT_EQ(text.text, "line 1\nline 2 \xe4\xbd\xa0");
  PeerCommand card = Parse(
      R"( {"command":"setcard","nickName":"N","section":"","position":"","telephone":"","email":""})");
  EXPECT_EQ(card.nickName, "N");
  EXPECT_EQ(card.section, "");
  EXPECT_EQ(Parse(R"({"command":"recall","seq":42,"hostName":"h","uuid":"u"})").seq, 42);
  EXPECT_EQ(Parse(R"({"command":"recall","seq":"43","hostName":"h","uuid":"u"})").seq, 43);
  EXPECT_TRUE(Parse(R"({"command":"recallpolicy","accept":true})").accept);

  EXPECT_NE(Error(R"({"command":"text","hostName":"h","uuid":"u"})").find("\"text\""),
            std::string::npos);
  EXPECT_NE(Error(R"({"command":"text","hostName":1,"uuid":"u","text":"t"})").find("hostName"),
            std::string::npos);
  EXPECT_EQ(Error(R"({"command":"nope"})"), "unknown command");
  EXPECT_EQ(Error(R"({"text":"x"})"), "missing \"command\"");
  EXPECT_EQ(Error(R"({"command":"text",)"), "not a JSON object");
  EXPECT_EQ(Error(R"({"command":"recall","seq":"x","hostName":"h","uuid":"u"})").substr(0, 10),
            "bad \"seq\";");
}

}  // namespace
}  // namespace qnchat_peer
