// The emoji picker: a popup grid of the 21 faces. A click inserts the face
// into the editor it was last shown for and closes the popup. One instance is
// shared by all conversations (the main window owns it); GUI thread only.
#pragma once

#include <QPointer>
#include <QWidget>

class InputTextEdit;
class QTableWidget;

class EmojiDialog : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kFaceCount = 21;
  static constexpr int kRows = 3;
  static constexpr int kColumns = 10;

  explicit EmojiDialog(QWidget* parent = nullptr);

  // ":/image/face/emoji_NN.png" for index 0..20.
  static QString FacePath(int index);

  // Remembers `target` and shows the popup with its top-left corner at
  // `globalPos`, moved as needed to stay on that screen.
  void ShowAt(const QPoint& globalPos, InputTextEdit* target);

  QTableWidget* table() const { return emoji_tb_; }

 private slots:
  void on_emoji_tb_cellClicked(int row, int column);

 private:
  QTableWidget* emoji_tb_;
  QPointer<InputTextEdit> target_;
};
