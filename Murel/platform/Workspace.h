#pragma once

#include <QString>

class QUrl;

namespace murel {

// What the desktop does with files and addresses: shows a file selected in the
// file manager, opens a web page in the default browser. Main thread.
class Workspace {
 public:
  virtual ~Workspace() = default;
  // Never blocks; quietly does nothing when no file manager answers.
  virtual void revealFile(const QString& path) = 0;
  // Hands the address to the desktop's opener; false when it could not start one.
  virtual bool openURL(const QUrl& url);
};

}  // namespace murel
