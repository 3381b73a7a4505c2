// Loads a style sheet from the resources, scales its pixel sizes by the
// screen's DPI factor and sets it on the widget that owns the manager.
// Created with the styled widget as parent; GUI thread only.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

class QssManager : public QObject {
  Q_OBJECT

 public:
  explicit QssManager(QWidget* parent);

  // Loads `path` (":/qss/…"), scales it by DpiScale() and sets it on the
  // parent. False (and nothing applied) when the file cannot be read.
  // `extra` rules, scaled the same way, follow the file's (a widget that
  // shares a sheet and adds its own); one sheet is set, once.
  bool Apply(const QString& path, const QString& extra = QString());

  // Every "<digits>px;" multiplied by `scale` (printed with 'g', 6), when
  // scale is above 1; the text unchanged otherwise.
  static QString ScaleStyleSheet(const QString& text, double scale);

  // Re-polishes a widget after one of its dynamic properties changed, so that
  // selectors on that property take effect.
  static void Repolish(QWidget* widget);
};
