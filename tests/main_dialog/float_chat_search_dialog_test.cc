// The search popup: rows for the found contacts with their online marks,
// names shown as plain text, "无搜索结果" for nothing, a click hands the card
// on.
#include "main/dialog/float_chat_search_dialog/float_chat_search_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include "resources/resources.h"
#include "support/qt/qt_test_main.h"
#include "ui/common/app_services.h"
#include "ui/lists/contact_list_widget.h"

namespace {

// Only the online marks matter to the popup.
class FakeServices : public AppServices {
 public:
  QSet<QString> online;
  BusinessCardInfo GetLocalCard() const override { return BusinessCardInfo(); }
  void SetLocalCard(const BusinessCardInfo&) override {}
  chat_base::RefPtr<chat::ChatPeer> GetChatPeer() override { return nullptr; }
  bool IsPeerOnline(const QString& uuid) override { return online.contains(uuid); }
  void OpenShareScreen() override {}
  void TranspondFile(const QString&, const BusinessCardInfo&) override {}
  void ShowErrorMessage(const QString&) override {}
};

BusinessCardInfo Card(const QString& uuid, const QString& nick, const QString& remark = {}) {
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nick;
  card.remark = remark;
  card.device = "pc-" + uuid;
  return card;
}

ContactListWidget* RowWidget(FloatChatSearchDialog& popup, int row) {
  QListWidget* list = popup.ResultList();
  return qobject_cast<ContactListWidget*>(list->itemWidget(list->item(row)));
}

TEST(FloatChatSearchDialogTest, ResultsShowPlainNamesAndOnlineMarksAndAClickHandsOnTheCard) {
  FakeServices services;
  services.online = {"u2"};
  QWidget owner;
  FloatChatSearchDialog popup(&services, &owner);
  EXPECT_TRUE(popup.ShowsEmptyPage());

  popup.SetResults({Card("u1", "<b>x</b>"), Card("u2", "Bob", "<i>boss</i>"), Card("u3", "Cy")});
  ASSERT_FALSE(popup.ShowsEmptyPage());
  ASSERT_EQ(3, popup.ResultList()->count());
  EXPECT_FALSE(RowWidget(popup, 0)->IsOnline());
  EXPECT_TRUE(RowWidget(popup, 1)->IsOnline());
  // Names peers chose show as typed, never as markup.
  QLabel* name = RowWidget(popup, 0)->findChild<QLabel*>("name_lb");
  ASSERT_NE(nullptr, name);
  EXPECT_EQ("<b>x</b>", name->text());
  EXPECT_EQ(Qt::PlainText, name->textFormat());
  QLabel* remark = RowWidget(popup, 1)->findChild<QLabel*>("name_lb");
  EXPECT_EQ("<i>boss</i>", remark->text());
  EXPECT_EQ(Qt::PlainText, remark->textFormat());

  popup.show();
  QSignalSpy chosen(&popup, &FloatChatSearchDialog::sig_sendMassageTo);
  QListWidget* list = popup.ResultList();
  // Clicked where the user clicks: on the row's drawn content.
  const QPoint centre = list->visualItemRect(list->item(1)).center();
  QWidget* target = list->viewport()->childAt(centre);
  ASSERT_NE(nullptr, target);
  QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->mapFrom(list->viewport(), centre));
  ASSERT_EQ(1, chosen.count());
  const BusinessCardInfo card = chosen.at(0).at(0).value<BusinessCardInfo>();
  EXPECT_EQ("u2", card.uuid);
  EXPECT_EQ("<i>boss</i>", card.remark);
  EXPECT_EQ("pc-u2", card.device);

  // A new search replaces the rows; nothing found shows the empty page.
  popup.SetResults({Card("u3", "Cy")});
  EXPECT_EQ(1, popup.ResultList()->count());
  popup.SetResults({});
  EXPECT_TRUE(popup.ShowsEmptyPage());
  EXPECT_EQ(0, popup.ResultList()->count());
}

}  // namespace

QApplication* CreateTestApplication(int& argc, char** argv) {
  auto* app = new QApplication(argc, argv);
  qnres::InitResources();
  return app;
}
