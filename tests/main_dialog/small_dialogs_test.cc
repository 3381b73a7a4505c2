// The rename dialog, the IP selector and the business card page: what they
// accept, what they store and emit, and that peer-sent names stay plain text.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

#include "main/dialog/business_card_widget/business_card_widget.h"
#include "main/dialog/ip_selector_dialog/ip_selector_dialog.h"
#include "main/dialog/rename_host_dialog/rename_host_dialog.h"
#include "main_dialog/card_services_fake.h"
#include "resources/resources.h"

namespace {

using dialog_test::FakeCardServices;

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

BusinessCardInfo LocalCard() {
  BusinessCardInfo card;
  card.uuid = "AAAAAAAA-0000-0000-0000-000000000001";
  card.nickName = "Workstation-07";
  card.section = "研发部";
  card.telephone = "12345";
  card.device = "ws07";
  return card;
}

BusinessCardInfo Contact() {
  BusinessCardInfo card;
  card.uuid = "BBBBBBBB-0000-0000-0000-000000000002";
  card.nickName = "张三";
  card.position = "工程师";
  card.email = "zs@example.com";
  return card;
}

class SmallDialogsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qnres::InitResources(); }
  void SetUp() override { services_.local = LocalCard(); }
  FakeCardServices services_;
};

TEST_F(SmallDialogsTest, RenameLocalNameStoresItWithoutBlanks) {
  RenameHostDialog dialog(&services_);
  QSignalSpy renamed(&dialog, &RenameHostDialog::Sig_MyHostNameChanged);
  QSignalSpy remark(&dialog, &RenameHostDialog::Sig_ContactNickNameChanged);
  dialog.OpenForLocalName(services_.local.nickName);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), "本机名称");
  auto* edit = Child<QLineEdit>(&dialog, "rename_le");
  EXPECT_EQ(edit->text(), "Workstation-07");
  edit->setText(" 新 名\t字 ");
  QTest::mouseClick(Child<QPushButton>(&dialog, "confirm_btn"), Qt::LeftButton);
  EXPECT_EQ(services_.set_local_calls, 1);
  EXPECT_EQ(services_.local.nickName, "新名字");
  // The rest of the card is kept.
  EXPECT_EQ(services_.local.section, "研发部");
  EXPECT_EQ(services_.local.uuid, LocalCard().uuid);
  EXPECT_EQ(renamed.count(), 1);
  EXPECT_EQ(remark.count(), 0);
  EXPECT_TRUE(edit->text().isEmpty());
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(SmallDialogsTest, RenameRefusesABlankLocalName) {
  RenameHostDialog dialog(&services_);
  QSignalSpy renamed(&dialog, &RenameHostDialog::Sig_MyHostNameChanged);
  dialog.OpenForLocalName("x");
  auto* edit = Child<QLineEdit>(&dialog, "rename_le");
  edit->setText("   \t ");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(services_.set_local_calls, 0);
  EXPECT_EQ(services_.local.nickName, "Workstation-07");
  EXPECT_EQ(renamed.count(), 0);
  EXPECT_TRUE(edit->text().isEmpty());
  // Warned, and the dialog stays for another try.
  auto* box = dialog.findChild<QMessageBox*>();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), "提示");
  EXPECT_EQ(box->text(), "内容不能为空");
  EXPECT_TRUE(dialog.isVisible());
  box->close();
  // A name longer than the limit is cut at typing, not stored whole.
  EXPECT_EQ(edit->maxLength(), RenameHostDialog::kMaxNameLength);
}

TEST_F(SmallDialogsTest, RemarkIsEmittedForItsContactAndMayBeEmpty) {
  RenameHostDialog dialog(&services_);
  QSignalSpy remark(&dialog, &RenameHostDialog::Sig_ContactNickNameChanged);
  dialog.OpenForRemark("uuid-1", "张三");
  EXPECT_EQ(dialog.windowTitle(), "备注昵称");
  EXPECT_EQ(dialog.mode(), RenameHostDialog::kRemark);
  auto* edit = Child<QLineEdit>(&dialog, "rename_le");
  edit->setText("老 张");
  QTest::mouseClick(Child<QPushButton>(&dialog, "confirm_btn"), Qt::LeftButton);
  ASSERT_EQ(remark.count(), 1);
  EXPECT_EQ(remark[0][0].toString(), "uuid-1");
  EXPECT_EQ(remark[0][1].toString(), "老张");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(services_.set_local_calls, 0);

  // An empty remark removes it.
  dialog.OpenForRemark("uuid-2", "李四");
  edit->setText("  ");
  QTest::mouseClick(Child<QPushButton>(&dialog, "confirm_btn"), Qt::LeftButton);
  ASSERT_EQ(remark.count(), 2);
  EXPECT_EQ(remark[1][0].toString(), "uuid-2");
  EXPECT_TRUE(remark[1][1].toString().isEmpty());

  // Cancel and the title bar's close change nothing; the next local rename
  // is a local rename again.
  dialog.OpenForRemark("uuid-3", "王五");
  QTest::mouseClick(Child<QPushButton>(&dialog, "cancel_btn"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  dialog.OpenForLocalName("Workstation-07");
  EXPECT_EQ(dialog.mode(), RenameHostDialog::kLocalName);
  QTest::mouseClick(Child<QPushButton>(&dialog, "close_btn"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(remark.count(), 2);
}

TEST_F(SmallDialogsTest, IpSelectorOffersOnlyPlainIpv4AddressesOnce) {
  EXPECT_EQ(IpSelectorDialog::UsableAddresses({"192.168.1.20", " 10.0.0.5 ", "192.168.1.20",
                                               "fe80::1", "010.0.0.1", "1.2.3", "1.2.3.4.5",
                                               "256.1.1.1", "host.lan", "", QString("1.2.3.4") + QChar(0) + "x",
                                               "１.２.３.４"}),
            QStringList({"192.168.1.20", "10.0.0.5"}));

  IpSelectorDialog dialog({"198.18.0.1", "198.18.1.1"});
  QSignalSpy selected(&dialog, &IpSelectorDialog::Sig_IpSelected);
  dialog.show();
  auto* combo = Child<QComboBox>(&dialog, "ipSelect_cbb");
  ASSERT_EQ(combo->count(), 2);
  EXPECT_EQ(dialog.SelectedIp(), "198.18.0.1");
  combo->setCurrentIndex(1);
  EXPECT_EQ(dialog.SelectedIp(), "198.18.1.1");
  QTest::mouseClick(Child<QPushButton>(&dialog, "confirm_btn"), Qt::LeftButton);
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected[0][0].toString(), "198.18.1.1");
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  // Nothing usable: nothing to confirm.
  IpSelectorDialog empty({"fe80::1"});
  QSignalSpy none(&empty, &IpSelectorDialog::Sig_IpSelected);
  empty.show();
  EXPECT_FALSE(Child<QPushButton>(&empty, "confirm_btn")->isEnabled());
  QTest::mouseClick(Child<QPushButton>(&empty, "confirm_btn"), Qt::LeftButton);
  EXPECT_EQ(none.count(), 0);
}

TEST_F(SmallDialogsTest, ContactCardIsReadOnlyAndSendsToTheContact) {
  BusinessCardWidget page(&services_);
  page.resize(800, 600);
  page.show();
  BusinessCardInfo contact = Contact();
  contact.remark = "老张";
  page.ShowCard(contact);
  EXPECT_EQ(BusinessCardWidget::NameText(contact), "张三 (老张)");
  EXPECT_EQ(Child<QLabel>(&page, "name_lb")->text(), "张三 (老张)");
  EXPECT_EQ(Child<QLabel>(&page, "headPortrait_lb")->text(), "老张");
  EXPECT_EQ(Child<QLineEdit>(&page, "position_le")->text(), "工程师");
  EXPECT_EQ(Child<QLineEdit>(&page, "email_le")->text(), "zs@example.com");
  for (const char* name : {"section_le", "position_le", "telephone_le", "email_le"}) {
    EXPECT_TRUE(Child<QLineEdit>(&page, name)->isReadOnly()) << name;
  }
  EXPECT_TRUE(Child<QPushButton>(&page, "sendTo_btn")->isVisible());
  EXPECT_FALSE(Child<QPushButton>(&page, "saveCard_btn")->isVisible());
  EXPECT_FALSE(Child<QPushButton>(&page, "renameHost_btn")->isVisible());

  QSignalSpy send(&page, &BusinessCardWidget::Sig_SendMessageTo);
  QTest::mouseClick(Child<QPushButton>(&page, "sendTo_btn"), Qt::LeftButton);
  ASSERT_EQ(send.count(), 1);
  EXPECT_EQ(send[0][0].value<BusinessCardInfo>().uuid, contact.uuid);
}

TEST_F(SmallDialogsTest, ContactCardFollowsRemarkAndCardChangesOfThatContactOnly) {
  BusinessCardWidget page(&services_);
  page.resize(800, 600);
  page.show();
  page.ShowCard(Contact());
  auto* name = Child<QLabel>(&page, "name_lb");
  EXPECT_EQ(name->text(), "张三");

  page.OnContactNickNameChanged("someone-else", "X");
  EXPECT_EQ(name->text(), "张三");
  page.OnContactNickNameChanged(Contact().uuid, "老张");
  EXPECT_EQ(name->text(), "张三 (老张)");
  // The peer's new card carries no remark; the local one stays.
  BusinessCardInfo renewed = Contact();
  renewed.nickName = "张三丰";
  renewed.section = "武当";
  page.UpdateCard(renewed);
  EXPECT_EQ(name->text(), "张三丰 (老张)");
  EXPECT_EQ(Child<QLineEdit>(&page, "section_le")->text(), "武当");
  // An emptied remark shows the nick name again.
  page.OnContactNickNameChanged(Contact().uuid, "");
  EXPECT_EQ(name->text(), "张三丰");
  EXPECT_EQ(Child<QLabel>(&page, "headPortrait_lb")->text(), "三丰");

  BusinessCardInfo other = Contact();
  other.uuid = "CCCCCCCC-0000-0000-0000-000000000003";
  other.nickName = "王五";
  page.UpdateCard(other);
  EXPECT_EQ(name->text(), "张三丰");
}

TEST_F(SmallDialogsTest, PeerSentNamesShowAsPlainText) {
  BusinessCardWidget page(&services_);
  page.resize(800, 600);
  page.show();
  BusinessCardInfo hostile = Contact();
  hostile.nickName = "<b>x</b><img src=\"/etc/passwd\">";
  hostile.remark = "<a href=\"file:///\">y</a>";
  page.ShowCard(hostile);
  auto* name = Child<QLabel>(&page, "name_lb");
  auto* avatar = Child<QLabel>(&page, "headPortrait_lb");
  EXPECT_EQ(name->textFormat(), Qt::PlainText);
  EXPECT_EQ(avatar->textFormat(), Qt::PlainText);
  EXPECT_TRUE(name->text().startsWith("<b>x</b>"));
  EXPECT_EQ(avatar->text(), "a>");

  // A very long name is cut to the label, not widening the page.
  BusinessCardInfo longName = Contact();
  longName.nickName = QString(300, QChar(0x540D));
  page.ShowCard(longName);
  EXPECT_LT(name->text().size(), 300);
  EXPECT_TRUE(name->text().endsWith(QChar(0x2026)));
  EXPECT_LE(page.findChild<QWidget*>("card_widget")->width(), page.width());
}

TEST_F(SmallDialogsTest, LocalCardSavesFieldsWithoutBlanks) {
  BusinessCardWidget page(&services_);
  page.resize(800, 600);
  page.show();
  page.ShowLocalCard();
  EXPECT_TRUE(page.ShowsLocalCard());
  EXPECT_EQ(Child<QLabel>(&page, "name_lb")->text(), "Workstation-07");
  EXPECT_FALSE(Child<QPushButton>(&page, "sendTo_btn")->isVisible());
  EXPECT_TRUE(Child<QPushButton>(&page, "renameHost_btn")->isVisible());
  auto* save = Child<QPushButton>(&page, "saveCard_btn");
  EXPECT_TRUE(save->isVisible());
  EXPECT_FALSE(save->isEnabled());  // nothing changed yet

  auto* telephone = Child<QLineEdit>(&page, "telephone_le");
  auto* email = Child<QLineEdit>(&page, "email_le");
  EXPECT_FALSE(telephone->isReadOnly());
  telephone->selectAll();
  QTest::keyClicks(telephone, "138 0000 0000");
  QTest::keyClicks(email, " me@lan ");
  EXPECT_TRUE(save->isEnabled());

  // Renamed meanwhile: saving the fields keeps the new name.
  services_.local.nickName = "改过的名字";
  QTest::mouseClick(save, Qt::LeftButton);
  EXPECT_EQ(services_.set_local_calls, 1);
  EXPECT_EQ(services_.local.telephone, "13800000000");
  EXPECT_EQ(services_.local.email, "me@lan");
  EXPECT_EQ(services_.local.section, "研发部");
  EXPECT_EQ(services_.local.nickName, "改过的名字");
  EXPECT_EQ(telephone->text(), "13800000000");
  EXPECT_FALSE(save->isEnabled());
}

}  // namespace
