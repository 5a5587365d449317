#pragma once
// How the shell shows a failure: an alert sheet (title and explanation) on the
// main window. The presenter is a plain function so that tests can catch the
// alerts instead of showing them.
#include <QString>
#include <functional>

class QWidget;

using KVRAlertPresenter = std::function<void(QWidget* window, const QString& title, const QString& text)>;

// A window-modal warning box on the window (or application-modal without one),
// shown without blocking the caller.
void KVRShowAlertSheet(QWidget* window, const QString& title, const QString& text);

// The same box with an information icon: what a finished command tells.
void KVRShowNoticeSheet(QWidget* window, const QString& title, const QString& text);
