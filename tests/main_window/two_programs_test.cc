// Two copies of the program, each in a network namespace and on an X display
// of its own (Xvfb with openbox), used as two people would: xdotool clicks
// the colleague in the contact tree, types and presses Enter; the other side's
// SQLite file (read with the sqlite3 program) shows what arrived. A picture of
// each screen is taken with ffmpeg's x11grab, into QNCHAT_GRAB_DIR when set.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/program_desk.h"

namespace {

using qnchat_test::ProgramDesk;

constexpr int kWaitMs = 15000;

bool WaitFor(const std::function<bool()>& pred, int timeout_ms = kWaitMs) {
  return qnchat_test::WaitFor(pred, timeout_ms);
}

std::string GrabDir() {
  if (const char* dir = getenv("QNCHAT_GRAB_DIR")) return dir;
  return std::string();
}

class TwoProgramsTest : public qnchat_test::TwoDesksTest<ProgramDesk> {
 protected:
  TwoProgramsTest() {
    root_prefix_ = "qnchat-two";
    wait_ms_ = kWaitMs;
  }
};

// Places in the main window at DPI 96 (the form's fixed sizes): the contact
// page button in the left column, the first contact under the default group
// in the tree, the first conversation row.
constexpr int kContactButton[] = {30, 130};
constexpr int kFirstContact[] = {185, 176};
constexpr int kFirstConversation[] = {185, 120};

TEST_F(TwoProgramsTest, TextTypedInOneArrivesInTheOther) {
  ProgramDesk& ann = desks_[0];
  ProgramDesk& ben = desks_[1];
  const std::string annUuid = ann.OwnUuid(kWaitMs);
  const std::string benUuid = ben.OwnUuid(kWaitMs);
  ASSERT_FALSE(annUuid.empty());
  ASSERT_FALSE(benUuid.empty());
  ASSERT_NE(benUuid, annUuid);
  // Each lists the other.
  ASSERT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + benUuid + "'") == "1";
  }));
  ASSERT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT COUNT(*) FROM contact_info WHERE uuid='" + annUuid + "'") == "1";
  }));

  // Ann opens the contact page and double-clicks Ben, types, presses Enter.
  ASSERT_TRUE(ann.Click(kContactButton[0], kContactButton[1]));
  ASSERT_TRUE(ann.Click(kFirstContact[0], kFirstContact[1], 2));
  ASSERT_EQ(ann.Xdo({"type", "--delay", "20", "hello-from-ann"}), 0);
  ASSERT_EQ(ann.Xdo({"key", "Return"}), 0);
  EXPECT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT sender_uuid FROM chat_history_info WHERE content LIKE "
                   "'%hello-from-ann%'") == annUuid;
  })) << "Ben's history: " << ben.Sql("SELECT * FROM chat_history_info");

  // Ben answers in the conversation that appeared on top of his list.
  ASSERT_TRUE(ben.Click(kFirstConversation[0], kFirstConversation[1]));
  ASSERT_EQ(ben.Xdo({"type", "--delay", "20", "hi-ann-from-ben"}), 0);
  ASSERT_EQ(ben.Xdo({"key", "Return"}), 0);
  EXPECT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT sender_uuid FROM chat_history_info WHERE content LIKE "
                   "'%hi-ann-from-ben%'") == benUuid;
  })) << "Ann's history: " << ann.Sql("SELECT * FROM chat_history_info");
  // Both sides keep both messages in one room each.
  EXPECT_TRUE(WaitFor([&] {
    return ann.Sql("SELECT COUNT(DISTINCT chat_room_uuid) || '/' || COUNT(*) FROM "
                   "chat_history_info") == "1/2";
  }));
  EXPECT_TRUE(WaitFor([&] {
    return ben.Sql("SELECT COUNT(DISTINCT chat_room_uuid) || '/' || COUNT(*) FROM "
                   "chat_history_info") == "1/2";
  }));

  const std::string dir = GrabDir().empty() ? root_ : GrabDir();
  EXPECT_TRUE(ann.Grab(dir + "/two_programs_ann.png"));
  EXPECT_TRUE(ben.Grab(dir + "/two_programs_ben.png"));
}

}  // namespace
