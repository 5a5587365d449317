#pragma once
// The borderless window shown while the application loads: "Loading
// Vortely..." and a status line ("Loading database...", "Caching graphs
// values...").
#include <QWidget>

class QLabel;

class KVRStartupWindow : public QWidget {
  Q_OBJECT
 public:
  explicit KVRStartupWindow(QWidget* parent = nullptr);
  void setStatusText(const QString& text);
  QString statusText() const;
  QString titleText() const;

 private:
  QLabel* title_;
  QLabel* status_;
};
