#pragma once

#include "runtime/DiagLog.h"

#include <QStringList>

namespace murel::test {

// The lines the process's diagnostics log ("murel.log") gains from now on,
// for tests that check what a failure leaves for the diagnostics report.
class DiagLogLines {
 public:
  DiagLogLines() : before_(all().size()) {}

  // The new lines holding `text` (every new line when empty), in order.
  QStringList added(const QString& text = QString()) const {
    QStringList out;
    for (const QString& line : all().mid(before_))
      if (line.contains(text)) out << line;
    return out;
  }

 private:
  static QStringList all() { return DiagLog::shared().readAll().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
  qsizetype before_;
};

}  // namespace murel::test
