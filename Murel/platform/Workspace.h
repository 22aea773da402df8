#pragma once

#include <QString>

namespace murel {

// What the desktop does with files: shows one selected in the file manager.
// Main thread.
class Workspace {
 public:
  virtual ~Workspace() = default;
  // Never blocks; quietly does nothing when no file manager answers.
  virtual void revealFile(const QString& path) = 0;

  // org.freedesktop.FileManager1 on the session bus, unless a test has put another in.
  static Workspace& shared();
  static void setSharedForTesting(Workspace* workspace);
};

}  // namespace murel
