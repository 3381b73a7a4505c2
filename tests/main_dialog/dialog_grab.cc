// Writes pictures of the settings dialog's pages and of the search popup to
// the directory given as the first argument, for looking at by eye. Run on a
// display (Xvfb) with QT_FONT_DPI chosen for the scale.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPushButton>

#include "main/dialog/float_chat_search_dialog/float_chat_search_dialog.h"
#include "main/dialog/setting_dialog/setting_dialog.h"
#include "resources/resources.h"
#include "ui/common/dpi_scale.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qnres::InitResources();
  qnres::InstallFontFallbacks();
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
  const QString tag = QString::number(static_cast<int>(DpiScale() * 96));
  SettingDialog dialog;
  dialog.ShowDialog();
  for (const char* page : {"functionSet_btn", "aboutUs_btn", "feedBack_btn"}) {
    dialog.findChild<QPushButton*>(page)->click();
    app.processEvents();
    dialog.grab().save(dir + "/settings_" + page + "_" + tag + ".png");
  }
  QWidget owner;
  FloatChatSearchDialog popup(nullptr, &owner);
  BusinessCardInfo a, b;
  a.uuid = "1";
  a.nickName = "<b>x</b>";
  b.uuid = "2";
  b.nickName = "王小明";
  b.remark = "设计部 小王";
  popup.SetResults({a, b});
  popup.show();
  app.processEvents();
  popup.grab().save(dir + "/search_" + tag + ".png");
  popup.SetResults({});
  app.processEvents();
  popup.grab().save(dir + "/search_empty_" + tag + ".png");
  return 0;
}
