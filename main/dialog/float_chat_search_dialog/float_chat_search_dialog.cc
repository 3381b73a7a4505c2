#include "main/dialog/float_chat_search_dialog/float_chat_search_dialog.h"

#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"
#include "ui/lists/contact_list_widget.h"

namespace {

int Scaled(double px) { return static_cast<int>(px * DpiScale() + 0.5); }

}  // namespace

FloatChatSearchDialog::FloatChatSearchDialog(AppServices* services, QWidget* parent)
    : frameless::FramelessDialog(parent, Qt::Tool | Qt::FramelessWindowHint |
                                             Qt::WindowDoesNotAcceptFocus),
      services_(services) {
  setObjectName(QStringLiteral("FloatChatSearchDialog"));
  // The user keeps typing in the main window's search box while this shows.
  setAttribute(Qt::WA_ShowWithoutActivating, true);
  setFocusPolicy(Qt::NoFocus);
  SetResizable(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  stackedWidget_ = new QStackedWidget(this);
  stackedWidget_->setObjectName(QStringLiteral("stackedWidget"));
  stackedWidget_->setFocusPolicy(Qt::NoFocus);

  result_page_ = new QWidget(stackedWidget_);
  result_page_->setObjectName(QStringLiteral("result_page"));
  auto* resultLayout = new QVBoxLayout(result_page_);
  resultLayout->setContentsMargins(0, Scaled(6), 0, 0);
  resultLayout->setSpacing(Scaled(4));
  auto* title = new QLabel(QStringLiteral("搜索结果"), result_page_);
  title->setObjectName(QStringLiteral("title_lb"));
  title->setTextFormat(Qt::PlainText);
  title->setContentsMargins(Scaled(10), 0, Scaled(10), 0);
  listWidget_result_ = new QListWidget(result_page_);
  listWidget_result_->setObjectName(QStringLiteral("listWidget_result"));
  listWidget_result_->setFocusPolicy(Qt::NoFocus);
  listWidget_result_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  listWidget_result_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  resultLayout->addWidget(title);
  resultLayout->addWidget(listWidget_result_, 1);

  empty_page_ = new QWidget(stackedWidget_);
  empty_page_->setObjectName(QStringLiteral("empty_page"));
  auto* emptyLayout = new QVBoxLayout(empty_page_);
  auto* none = new QLabel(QStringLiteral("无搜索结果"), empty_page_);
  none->setObjectName(QStringLiteral("noResult_lb"));
  none->setTextFormat(Qt::PlainText);
  none->setAlignment(Qt::AlignCenter);
  emptyLayout->addWidget(none);

  stackedWidget_->addWidget(result_page_);
  stackedWidget_->addWidget(empty_page_);
  stackedWidget_->setCurrentWidget(empty_page_);
  layout->addWidget(stackedWidget_);

  connect(listWidget_result_, &QListWidget::itemClicked, this,
          &FloatChatSearchDialog::on_listWidget_result_itemClicked);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/float_chat_search_dialog.css"));
  // The width of the search column; the main window may resize it.
  resize(Scaled(250), Scaled(300));
}

FloatChatSearchDialog::~FloatChatSearchDialog() = default;

bool FloatChatSearchDialog::ShowsEmptyPage() const {
  return stackedWidget_->currentWidget() == empty_page_;
}

void FloatChatSearchDialog::SetResults(const QList<BusinessCardInfo>& cards) {
  listWidget_result_->clear();
  if (cards.isEmpty()) {
    stackedWidget_->setCurrentWidget(empty_page_);
    return;
  }
  const int rowHeight = Scaled(40);
  for (const BusinessCardInfo& card : cards) {
    auto* item = new QListWidgetItem(listWidget_result_);
    item->setData(kCardRole, QVariant::fromValue(card));
    item->setSizeHint(QSize(0, rowHeight));
    const bool online = services_ && services_->IsPeerOnline(card.uuid);
    listWidget_result_->setItemWidget(item, new ContactListWidget(card, online));
  }
  stackedWidget_->setCurrentWidget(result_page_);
}

void FloatChatSearchDialog::on_listWidget_result_itemClicked(QListWidgetItem* item) {
  if (!item) return;
  const QVariant data = item->data(kCardRole);
  if (!data.canConvert<BusinessCardInfo>()) return;
  emit sig_sendMassageTo(data.value<BusinessCardInfo>());
}
