// Look check, not a test: the rename dialog, the IP selector and the business
// card page (a contact's and the local one) on a private Xvfb with openbox.
//   main_dialog_small_dialogs_look <out-dir> [dpi]
#include <QApplication>
#include <QDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "main/dialog/business_card_widget/business_card_widget.h"
#include "main/dialog/ip_selector_dialog/ip_selector_dialog.h"
#include "main/dialog/rename_host_dialog/rename_host_dialog.h"
#include "main_dialog/card_services_fake.h"
#include "resources/resources.h"
#include "support/qt/look.h"
#include "ui/common/dpi_scale.h"
#include "ui_frameless/x11_session.h"

namespace {

bool Save(QWidget* widget, const QString& path) {
  return qnchat_test::OnReviewBackground(widget).save(path);
}

}  // namespace

int main(int argc, char** argv) {
  QString out_dir;
  if (!qnchat_test::ReadLookArguments(argc, argv, &out_dir)) return 2;
  frameless_test::X11Session session(1600, 1000);
  if (!session.ok()) {
    fprintf(stderr, "no Xvfb with openbox\n");
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  QDir().mkpath(out_dir);
  session.ClaimCompositing(true);

  dialog_test::FakeCardServices services;
  services.local.uuid = "AAAAAAAA-0000-0000-0000-000000000001";
  services.local.nickName = "Workstation-07";
  services.local.section = "研发部";
  services.local.telephone = "13800000000";

  RenameHostDialog rename(&services);
  rename.OpenForRemark("B", "张三");
  IpSelectorDialog selector({"192.168.1.20", "10.0.0.5", "198.18.0.1"});
  selector.move(500, 40);
  selector.show();

  BusinessCardWidget card(&services);
  card.resize(int(640 * DpiScale()), int(560 * DpiScale()));
  card.move(40, 300);
  BusinessCardInfo contact;
  contact.uuid = "B";
  contact.nickName = "张三<b>丰</b>";
  contact.remark = "老张";
  contact.section = "市场部";
  contact.position = "产品经理";
  contact.telephone = "010-12345678";
  contact.email = "zhangsan@example.com";
  card.ShowCard(contact);
  card.show();
  if (!QTest::qWaitForWindowExposed(&rename) || !QTest::qWaitForWindowExposed(&selector) ||
      !QTest::qWaitForWindowExposed(&card)) {
    return 1;
  }
  QTest::qWait(300);
  bool ok = Save(&rename, out_dir + "/rename.png");
  ok = Save(&selector, out_dir + "/ip_selector.png") && ok;
  ok = Save(&card, out_dir + "/card_contact.png") && ok;
  card.ShowLocalCard();
  QTest::qWait(100);
  ok = Save(&card, out_dir + "/card_local.png") && ok;
  printf("DpiScale %g, pictures in %s\n", DpiScale(), argv[1]);
  return ok ? 0 : 1;
}
