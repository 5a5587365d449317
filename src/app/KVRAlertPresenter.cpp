#include "app/KVRAlertPresenter.h"

#include <QMessageBox>

void KVRShowAlertSheet(QWidget* window, const QString& title, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window);
  box->setInformativeText(text);
  box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}
