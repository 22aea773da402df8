#pragma once

#include <QObject>

namespace murel {

// One Murel per session: the first process owns a name on the session bus; a
// later launch asks it to come forward and ends, so two processes never fight
// over the key grabs. Main thread; on the session bus.
class SingleInstance : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.murel.app.Instance")

 public:
  static constexpr const char* kServiceName = "com.murel.app";
  static constexpr const char* kObjectPath = "/com/murel/app";

  enum class Claim { first, alreadyRunning, unguarded };

  explicit SingleInstance(QObject* parent = nullptr);

  // Takes the name. `alreadyRunning` when another process holds it, `unguarded`
  // when there is no session bus (then nothing can be shared either).
  Claim claim();
  // From a later launch: asks the running instance to come forward.
  bool reopenRunningInstance();

 public Q_SLOTS:
  Q_SCRIPTABLE void Reopen();

 Q_SIGNALS:
  void reopenRequested();
};

}  // namespace murel
