// The conversation list and the contact tree over a real chat database file,
// with the room's small fakes standing in for the application (the real chat
// core may only run inside a network namespace).
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "store/chat_database.h"
#include "tests/ui_chat/room_fakes.h"
#include "ui/lists/base_button.h"
#include "ui/lists/chat_list.h"
#include "ui/lists/chat_list_widget.h"
#include "ui/lists/contact_list.h"
#include "ui/lists/contact_list_widget.h"
#include "ui/lists/list_text.h"

namespace {

using room_test::FakeAppServices;

BusinessCardInfo Card(const QString& uuid, const QString& nick, const QString& remark = {}) {
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nick;
  card.remark = remark;
  card.device = nick + QStringLiteral("-pc");
  return card;
}

class OnlineServices : public FakeAppServices {
 public:
  bool IsPeerOnline(const QString& uuid) override { return online.contains(uuid); }
  QSet<QString> online;
};

class ListsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Open();
  }
  void Open() {
    database_.reset();
    database_ = std::make_unique<ChatDatabase>(dir_.filePath(QStringLiteral("QNChat.db")),
                                               QStringLiteral("lists-test-%1").arg(++opened_));
    ASSERT_TRUE(database_->IsConnected());
  }
  ChatRoomServices Rooms() {
    ChatRoomServices rooms;
    rooms.app = &services_;
    rooms.database = database_.get();
    rooms.scale = 1;
    return rooms;
  }

  QTemporaryDir dir_;
  int opened_ = 0;
  std::unique_ptr<ChatDatabase> database_;
  OnlineServices services_;
};

TEST(ListTextTest, NamesInitialsSummariesAndGroupNames) {
  EXPECT_EQ(list_text::ShownName(Card("u", "nick", "remark")), "remark");
  EXPECT_EQ(list_text::ShownName(Card("u", "nick")), "nick");
  BusinessCardInfo bare;
  bare.device = "pc-7";
  EXPECT_EQ(list_text::ShownName(bare), "pc-7");
  EXPECT_EQ(list_text::Initials(QStringLiteral("王小明")), QStringLiteral("小明"));
  EXPECT_EQ(list_text::Initials(QStringLiteral("A")), QStringLiteral("A"));
  // A character outside the basic plane stays whole.
  EXPECT_EQ(list_text::Initials(QStringLiteral("ab😀")), QStringLiteral("b😀"));
  EXPECT_EQ(list_text::Summary(QStringLiteral(
                "a&nbsp;&lt;b&gt;<br/><img src=\":/image/face/emoji_03.png\"/>&amp;"
                "<a href = \"http://x\">x</a><img src=\"/etc/passwd\">")),
            QStringLiteral("a <b> [表情]&x"));
  EXPECT_EQ(list_text::GroupNameFromInput(QStringLiteral(" 研 发\t部 ")), QStringLiteral("研发部"));
  EXPECT_EQ(list_text::GroupCount(1, 3), QStringLiteral("(1/3)"));
}

TEST(BaseButtonTest, BadgeIsTheSumOfBothCounts) {
  BaseButton button;
  EXPECT_EQ(button.BadgeText(), QString());
  button.AddNewMessageCount(2);
  button.AddSelectedItemNewMessageCount(1);
  EXPECT_EQ(button.BadgeText(), QStringLiteral("3"));
  button.AddNewMessageCount(-2);
  button.SetSelectedItemNewMessageCount(0);
  EXPECT_EQ(button.BadgeText(), QString());
  button.SetNewMessageCount(150);
  EXPECT_EQ(button.BadgeText(), QStringLiteral("99+"));
  button.resize(60, 60);
  EXPECT_FALSE(button.grab().isNull());  // paints the badge without trouble
}

TEST_F(ListsTest, DefaultGroupOnlineFirstCountsAndPersistence) {
  services_.online = {QStringLiteral("on")};
  {
    ContactList tree(&services_, database_.get());
    ASSERT_NE(tree.DefaultGroup(), nullptr);
    EXPECT_EQ(tree.topLevelItemCount(), 1);
    tree.AddContact(Card("off", "Offline One"), nullptr, false);
    tree.AddContact(Card("on", "Online One"), nullptr, false);
    tree.AddContact(Card("on", "Online Again"), nullptr, false);  // known uuid: ignored
    QTreeWidgetItem* group = tree.DefaultGroup();
    ASSERT_EQ(group->childCount(), 2);
    EXPECT_EQ(tree.CardOfItem(group->child(0)).uuid, "on");
    EXPECT_EQ(tree.RowWidget(group)->CountText(), "(1/2)");
    EXPECT_EQ(tree.ContactCount(), 2);
    // Going offline moves the contact behind the online ones and lowers the count.
    tree.SetContactOnline("on", false, "Online One");
    EXPECT_EQ(tree.RowWidget(group)->CountText(), "(0/2)");
    EXPECT_EQ(tree.CardOfItem(group->child(1)).uuid, "on");
  }
  // Everything came from and went to the database: a new tree finds it again.
  Open();
  ContactList again(&services_, database_.get());
  again.LoadContacts(QStringLiteral("LOCAL-UUID"));
  EXPECT_EQ(again.topLevelItemCount(), 1);
  EXPECT_EQ(again.ContactCount(), 2);
  EXPECT_EQ(again.DefaultGroup()->childCount(), 2);
}

TEST_F(ListsTest, GroupsRemarksMovesAndDeletion) {
  ContactList tree(&services_, database_.get());
  QSignalSpy changed(&tree, &ContactList::Sig_ContactInfoChanged);
  QTreeWidgetItem* contact = tree.AddContact(Card("c1", "Nick"), nullptr, false);
  ASSERT_NE(contact, nullptr);
  QTreeWidgetItem* group = tree.CreateGroup();
  ContactListWidget* editor = tree.RowWidget(group);
  ASSERT_TRUE(editor->IsRenaming());
  // An empty name keeps the editor open; spaces are taken out of a real one.
  QMetaObject::invokeMethod(editor, "on_rename_le_editingFinished");
  EXPECT_TRUE(editor->IsRenaming());
  editor->findChild<QLineEdit*>(QStringLiteral("rename_le"))->setText(QStringLiteral(" 项目 组 "));
  QMetaObject::invokeMethod(editor, "on_rename_le_editingFinished");
  EXPECT_FALSE(editor->IsRenaming());
  EXPECT_EQ(group->data(0, ContactList::kGroupRole).value<GroupInfo>().groupName, "项目组");

  tree.MoveContactToGroup(tree.FindContactItem("c1"), group);
  EXPECT_EQ(group->childCount(), 1);
  EXPECT_EQ(tree.DefaultGroup()->childCount(), 0);
  const QString groupUuid = group->data(0, ContactList::kGroupRole).value<GroupInfo>().groupUuid;
  EXPECT_EQ(database_->GetContactGroup("c1"), groupUuid);

  tree.SetRemark("c1", QStringLiteral("老板"));
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.last().at(0).value<BusinessCardInfo>().remark, QStringLiteral("老板"));
  EXPECT_EQ(tree.RowWidget(tree.FindContactItem("c1"))->ShownName(), QStringLiteral("老板"));
  EXPECT_EQ(database_->LoadContacts().value(0).remark, QStringLiteral("老板"));
  tree.SetRemark("c1", QString());  // an empty remark shows the nick again
  EXPECT_EQ(tree.RowWidget(tree.FindContactItem("c1"))->ShownName(), "Nick");

  tree.DeleteGroup(group);
  EXPECT_EQ(tree.ContactCount(), 1);  // the contact stays, at the top level
  QTreeWidgetItem* kept = tree.FindContactItem("c1");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->parent(), nullptr);
  for (const GroupInfo& stored : database_->LoadGroups()) EXPECT_NE(stored.groupUuid, groupUuid);
}

TEST_F(ListsTest, PeerControlledNamesArePlainText) {
  ContactList tree(&services_, database_.get());
  QTreeWidgetItem* item = tree.AddContact(Card("h", "<b>x</b><img src=\"/etc/passwd\">"), nullptr, false);
  for (QLabel* label : tree.RowWidget(item)->findChildren<QLabel*>())
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
  ChatList list(Rooms());
  ChatListItem* row = list.AddChatItem(Card("h", "<b>x</b>"));
  for (QLabel* label : list.RowWidget(row)->findChildren<QLabel*>())
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

TEST_F(ListsTest, ConversationsComeBackInOrderWithTheirUnreadCounts) {
  // Conversations are stored against known contacts, as the window adds them.
  database_->SaveContact(Card("a", "Alice"));
  database_->SaveContact(Card("b", "Bob"));
  {
    ChatList list(Rooms());
    QSignalSpy badge(&list, &ChatList::Sig_AddNewMessageCount);
    ChatListItem* older = list.AddChatItem(Card("a", "Alice"));
    ChatListItem* newer = list.AddChatItem(Card("b", "Bob"));
    EXPECT_EQ(list.ItemAt(0), newer);  // new rows go on top
    list.OnChatMessage(older, QStringLiteral("one"), 0, QString());
    list.OnChatMessage(older, QStringLiteral("two"), 0, QString());
    list.OnChatMessage(newer, QStringLiteral("hi"), 0, QString());
    EXPECT_EQ(older->Unread(), 2);
    EXPECT_EQ(list.RowWidget(older)->UnreadText(), "2");
    EXPECT_TRUE(list.RowWidget(older)->UnreadShown());
    ASSERT_EQ(badge.count(), 3);
    // The row a message arrived for moves on top and keeps what it showed.
    list.MoveChatItemToTop(older);
    EXPECT_EQ(list.ItemAt(0), older);
    EXPECT_EQ(list.RowWidget(older)->ContentText(), "two");
    EXPECT_EQ(list.RowWidget(older)->UnreadText(), "2");
    ASSERT_NE(older->Room(), nullptr);
    EXPECT_EQ(older->Room()->MessageList()->count(), 2);
    // Reading Bob's conversation resets and stores his count.
    newer->AddUnread(-1);
    EXPECT_EQ(newer->Unread(), 0);
    EXPECT_FALSE(list.RowWidget(newer)->UnreadShown());
    EXPECT_EQ(badge.last().at(0).toInt(), -1);
    // Times a second apart at least, as real conversations have them.
    newer->SetContent(QStringLiteral("hi"), QStringLiteral("2030-01-01 09:00:00"), true);
    older->SetContent(QStringLiteral("two"), QStringLiteral("2030-01-01 10:00:00"), true);
  }
  Open();
  ChatList restored(Rooms());
  restored.LoadChatList();
  ASSERT_EQ(restored.count(), 2);
  EXPECT_EQ(restored.ItemAt(0)->Card().uuid, "a");  // the last active on top
  EXPECT_EQ(restored.ItemAt(0)->Unread(), 2);
  EXPECT_EQ(restored.ItemAt(1)->Unread(), 0);
  EXPECT_FALSE(restored.ItemAt(0)->StoredRoomUuid().isEmpty());
  // Opening the restored row brings back its messages.
  ChatRoomWidget* room = restored.EnsureRoom(restored.ItemAt(0));
  EXPECT_EQ(room->MessageList()->count(), 2);
}

TEST_F(ListsTest, ContactChangesReachTheRowAndItsRoom) {
  ChatList list(Rooms());
  ChatListItem* row = list.AddChatItem(Card("c", "Carol"));
  list.OnChatMessage(row, QStringLiteral("hello"), 0, QString());
  list.OnContactInfoChanged(Card("c", "Carol", QStringLiteral("设计 Carol")));
  EXPECT_EQ(list.RowWidget(row)->ShownName(), QStringLiteral("设计 Carol"));
  EXPECT_EQ(row->Room()->NameLabel()->text(), QStringLiteral("设计 Carol"));
  // A share offer is a notice: no unread count.
  const int before = row->Unread();
  list.OnChatMessage(row, QStringLiteral("[对方发起了屏幕共享]"), 2, QString());
  EXPECT_EQ(row->Unread(), before);
}

}  // namespace
