#include "app/KVRAlertPresenter.h"

#include <QMessageBox>

namespace {
void showSheet(QMessageBox::Icon icon, QWidget* window, const QString& title, const QString& text) {
  auto* box = new QMessageBox(icon, title, title, QMessageBox::Ok, window);
  box->setInformativeText(text);
  box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
}  // namespace

void KVRShowAlertSheet(QWidget* window, const QString& title, const QString& text) {
  showSheet(QMessageBox::Warning, window, title, text);
}

void KVRShowNoticeSheet(QWidget* window, const QString& title, const QString& text) {
  showSheet(QMessageBox::Information, window, title, text);
}
