// A left-column button that carries an unread badge: the sum of its two
// counts, drawn as a red disc with the number at the top-right corner. It also
// remembers the page it last showed. GUI thread only.
#pragma once

#include <QPointer>
#include <QPushButton>

class BaseButton : public QPushButton {
  Q_OBJECT

 public:
  explicit BaseButton(QWidget* parent = nullptr);

  int NewMessageCount() const { return newMessageCount_; }
  int SelectedItemNewMessageCount() const { return selectedItemNewMessageCount_; }
  void SetNewMessageCount(int count);
  void SetSelectedItemNewMessageCount(int count);
  // The badge text: the sum of both counts, "99+" beyond 99, empty at 0 or below.
  QString BadgeText() const;

  QWidget* RememberedWidget() const { return remembered_; }
  void SetRememberedWidget(QWidget* widget) { remembered_ = widget; }

 public slots:
  void AddNewMessageCount(int count);
  void AddSelectedItemNewMessageCount(int count);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int newMessageCount_ = 0;
  int selectedItemNewMessageCount_ = 0;
  QPointer<QWidget> remembered_;
};
