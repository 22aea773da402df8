#pragma once
// The alerts (QMessageBox) the application has on screen.

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

namespace murel::test {

// Each as its title, a line break and its message.
inline QStringList shownAlerts() {
  QStringList texts;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
      texts.append(box->text() + QLatin1Char('\n') + box->informativeText());
  }
  return texts;
}

inline void closeAlerts() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget)) box->close();
}

}  // namespace murel::test
