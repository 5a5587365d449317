#pragma once
// User-visible texts go through Qt's translation with the English text as the
// source text, in the single context "Vortely".
#include <QCoreApplication>
#include <QString>

inline QString KVRLocalized(const char* english) {
  return QCoreApplication::translate("Vortely", english);
}
