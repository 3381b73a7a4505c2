#include "chat/chat_command.h"

#include <gtest/gtest.h>

#include <string>

#include "chat/chat_message.h"

namespace chat {
namespace {

TEST(ChatCommandTest, PrintsCodeThenOptionsInIncreasingOrder) {
  EXPECT_EQ(CommandToString(CHAT_CMD_TEXT | CHAT_CMD_OPT_SENDCHECK),
            "CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK");
  EXPECT_EQ(CommandToString(0x2012), "CHAT_CMD_RESP_RECALL|CHAT_CMD_OPT_TRUE");
  EXPECT_EQ(CommandToString(CHAT_CMD_EXIT), "CHAT_CMD_EXIT");
  EXPECT_EQ(CommandToString(CHAT_CMD_PING | CHAT_CMD_OPT_TRUE | CHAT_CMD_OPT_SENDCHECK),
            "CHAT_CMD_PING|CHAT_CMD_OPT_SENDCHECK|CHAT_CMD_OPT_TRUE");
}

TEST(ChatCommandTest, UnknownCodePrintsEmptyWhateverTheOptions) {
  EXPECT_EQ(CommandToString(0), "");
  EXPECT_EQ(CommandToString(19), "");
  EXPECT_EQ(CommandToString(0 | CHAT_CMD_OPT_SENDCHECK | CHAT_CMD_OPT_TRUE), "");
  EXPECT_EQ(CommandToString(19 | CHAT_CMD_OPT_SENDCHECK), "");
  EXPECT_EQ(CommandToString(0xFF), "");
}

TEST(ChatCommandTest, EveryWordTheCoreSendsSurvivesPrintAndParse) {
  ASSERT_EQ(CommandNames().size(), 18u);
  for (int code = 1; code <= 18; ++code) {
    for (int option :
         {0, static_cast<int>(CHAT_CMD_OPT_SENDCHECK), static_cast<int>(CHAT_CMD_OPT_TRUE)}) {
      const int32_t word = code | option;
      EXPECT_EQ(CommandFromString(CommandToString(word)), word) << CommandToString(word);
    }
  }
}

TEST(ChatCommandTest, ParsesTokensInAnyOrder) {
  EXPECT_EQ(CommandFromString("CHAT_CMD_RESP_RECALL|CHAT_CMD_OPT_TRUE"), 0x2012);
  EXPECT_EQ(CommandFromString("CHAT_CMD_OPT_SENDCHECK|CHAT_CMD_TEXT"), 0x1006);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT"), 6);
}

TEST(ChatCommandTest, OnlyTheFirstAndTheLastTokenCount) {
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK|CHAT_CMD_OPT_TRUE"), 0x2006);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT|CHAT_CMD_FILE|CHAT_CMD_PING"), CHAT_CMD_PING);
  // A later code replaces the code bits but keeps the options.
  EXPECT_EQ(CommandFromString("CHAT_CMD_OPT_TRUE|CHAT_CMD_RESP_RECALL"), 0x2012);
}

TEST(ChatCommandTest, OnlyTheFirstRunOfTheTextIsSearched) {
  // The search starts at the first capital and stops where the run ends.
  EXPECT_EQ(CommandFromString("  CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK trailing"), 0x1006);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT CHAT_CMD_OPT_SENDCHECK"), CHAT_CMD_TEXT);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT||CHAT_CMD_OPT_SENDCHECK"), CHAT_CMD_TEXT);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT|CHAT_CMD_OPT_SENDCHECK|"), 0x1006);
  EXPECT_EQ(CommandFromString("x1CHAT_CMD_EXIT"), CHAT_CMD_EXIT);
}

TEST(ChatCommandTest, TextsThatAreNoCommandParseToZero) {
  EXPECT_EQ(CommandFromString(""), 0);
  EXPECT_EQ(CommandFromString("chat_cmd_text"), 0);
  EXPECT_EQ(CommandFromString("XCHAT_CMD_TEXT"), 0);
  EXPECT_EQ(CommandFromString("_CHAT_CMD_TEXT"), 0);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXTS"), 0);
  EXPECT_EQ(CommandFromString("CHAT_CMD_OPT_SENDCHECKS"), 0);
  EXPECT_EQ(CommandFromString("CHAT_CMD_OPT"), 0);
  EXPECT_EQ(CommandFromString("12345|"), 0);
}

// A run of tens of thousands of capitals used to overflow the stack inside
// the expression matcher; any datagram can carry one.
TEST(ChatCommandTest, LongRunsParseWithoutExhaustingTheStack) {
  const std::string long_token(300000, 'A');
  EXPECT_EQ(CommandFromString(long_token), 0);

  std::string many_tokens = "CHAT_CMD_TEXT";
  for (int i = 0; i < 100000; ++i) many_tokens += "|AB";
  many_tokens += "|CHAT_CMD_OPT_SENDCHECK";
  EXPECT_EQ(CommandFromString(many_tokens), 0x1006);

  // An over-long first or last token counts as no name, not as a cut one.
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT" + long_token + "|CHAT_CMD_OPT_TRUE"),
            CHAT_CMD_OPT_TRUE);
  EXPECT_EQ(CommandFromString("CHAT_CMD_TEXT|CHAT_CMD_OPT_TRUE" + long_token), CHAT_CMD_TEXT);
}

TEST(ChatMessageTest, FreshRecordHasOnlyTheHeaderSet) {
  const ChatMessage message;
  const uint8_t expected[8] = {1, 0, 'Q', 'N', 'C', 'H', 'A', 'T'};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(message.header[i], expected[i]) << i;
  EXPECT_TRUE(HasValidHeader(message));
  EXPECT_EQ(message.seq, 0);
  EXPECT_EQ(message.refSeq, 0);
  EXPECT_EQ(message.command, 0);
  EXPECT_EQ(message.port, 0);
  EXPECT_EQ(message.tries, 0);
  EXPECT_EQ(message.sentAt, 0);
  for (const std::string* text :
       {&message.nickName, &message.hostName, &message.uuid, &message.text, &message.uri,
        &message.section, &message.position, &message.telephone, &message.email,
        &message.destination, &message.source}) {
    EXPECT_TRUE(text->empty());
  }
}

}  // namespace
}  // namespace chat
