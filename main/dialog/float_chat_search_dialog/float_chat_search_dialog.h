// The popup under the main window's search box: the contacts whose name or
// remark matches what is typed, or "无搜索结果". Choosing one asks the main
// window to open that conversation.
//
// A child of the main window, created once and hidden between searches. It
// never takes the keyboard focus, so typing continues in the search box while
// it is shown. GUI thread only.
#pragma once

#include <QList>

#include "store/business_card_info.h"
#include "ui/frameless/frameless_dialog.h"

class AppServices;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QStackedWidget;
class QWidget;

class FloatChatSearchDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  // The item data role under which each result row keeps its card.
  static constexpr int kCardRole = 1002;

  // services: asked for the online marks; may be null (all shown offline).
  FloatChatSearchDialog(AppServices* services, QWidget* parent);
  ~FloatChatSearchDialog() override;

  // Replaces the shown results; an empty list shows "无搜索结果".
  void SetResults(const QList<BusinessCardInfo>& cards);

  QListWidget* ResultList() const { return listWidget_result_; }
  bool ShowsEmptyPage() const;

 signals:
  void sig_sendMassageTo(BusinessCardInfo card);

 public slots:
  void on_listWidget_result_itemClicked(QListWidgetItem* item);

 private:
  AppServices* const services_;
  QStackedWidget* stackedWidget_ = nullptr;
  QWidget* result_page_ = nullptr;
  QWidget* empty_page_ = nullptr;
  QListWidget* listWidget_result_ = nullptr;
};
