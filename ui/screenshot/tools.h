// The two bars of the screenshot overlay: `Tools` (shapes, undo, save,
// cancel, 完成) under the selection and `DrawTools` (line thickness and
// colour) under it once drawing starts. Children of the overlay; GUI thread.
#pragma once

#include <QColor>
#include <QWidget>

class QButtonGroup;
class QPushButton;
class QToolButton;

// A bar painted by the style sheet (":/qss/tools.css" selects on the class
// names), which takes no keyboard focus so keys stay with the overlay.
class ToolWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ToolWidget(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class Tools : public ToolWidget {
  Q_OBJECT

 public:
  explicit Tools(QWidget* parent = nullptr);

  // Unchecks the shape buttons (back to selecting).
  void ClearShape();

  QToolButton* rectBtn = nullptr;
  QToolButton* circleBtn = nullptr;
  QToolButton* arrowBtn = nullptr;
  QToolButton* undoBtn = nullptr;
  QToolButton* saveBtn = nullptr;
  QToolButton* cancelBtn = nullptr;
  QToolButton* finishBtn = nullptr;

 signals:
  void Sig_Draw(int type);  // 1 rectangle, 2 ellipse, 3 arrow
  void Sig_Undo();
  void Sig_Download();
  void Sig_ClipBoard();
  void Sig_Finished();

 private:
  QButtonGroup* shape_group_ = nullptr;
};

class DrawTools : public ToolWidget {
  Q_OBJECT

 public:
  static constexpr int kThicknesses[3] = {2, 3, 5};
  static QColor InitialColor() { return QColor(251, 56, 56); }

  explicit DrawTools(QWidget* parent = nullptr);

  int Thickness() const { return thickness_; }
  QColor Color() const { return color_; }
  // The colour buttons of the grid in their order, for the callers that
  // need to find one.
  const QList<QPushButton*>& ColorButtons() const { return color_buttons_; }
  QPushButton* CurrentColorButton() const { return current_color_btn_; }

 signals:
  void Sig_ThicknessChanged(int thickness);
  void Sig_ColorChanged(QColor color);

 private:
  void SetColor(const QColor& color);

  int thickness_ = kThicknesses[0];
  QColor color_ = InitialColor();
  QPushButton* current_color_btn_ = nullptr;
  QList<QPushButton*> color_buttons_;
};
