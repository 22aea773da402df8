#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace murel {

// One notice at a time in the desktop's notification area, with buttons. The
// application uses it where no tray shows its icon, so that what the tray panel
// would show still reaches the user. Main thread; never blocks.
class DesktopNotifier : public QObject {
  Q_OBJECT

 public:
  struct Action {
    QString key;    // reported back by actionInvoked
    QString label;  // the button's text
  };
  struct Notice {
    QString summary;
    QString body;
    QList<Action> actions;
  };

  using QObject::QObject;

  // Shows `notice` in place of the one shown before, if any. It stays until
  // withdrawn, answered or closed by the user.
  virtual void show(const Notice& notice) = 0;
  // Takes the shown notice away; nothing happens when none is shown.
  virtual void withdraw() = 0;

 Q_SIGNALS:
  // The user pressed a button of the shown notice.
  void actionInvoked(const QString& key);
};

}  // namespace murel
