#pragma once

#include "platform/Workspace.h"

namespace murel {

// The file manager's org.freedesktop.FileManager1 interface on the session bus;
// addresses go to the desktop's opener. Main thread.
class FileManagerWorkspace final : public Workspace {
 public:
  void revealFile(const QString& path) override;
};

}  // namespace murel
