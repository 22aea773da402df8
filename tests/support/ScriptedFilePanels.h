#pragma once
// Open and save panels that answer what the test set, and a workspace that
// records what it was asked to show or open.

#include "app/FilePanels.h"

#include <QList>
#include <QUrl>

#include <optional>

namespace murel::test {

class ScriptedPanels final : public FilePanels {
 public:
  std::optional<QString> answer;
  QString askedName, askedTitle;
  int asks = 0;
  std::optional<QString> chooseFile(const QStringList&, const QString&) override {
    ++asks;
    return answer;
  }
  std::optional<QString> chooseSaveLocation(const QString& defaultName, const QString& title) override {
    ++asks;
    askedName = defaultName;
    askedTitle = title;
    return answer;
  }
};

class RecordingWorkspace final : public Workspace {
 public:
  QStringList revealed;
  QList<QUrl> opened;
  void revealFile(const QString& path) override { revealed.append(path); }
  bool openURL(const QUrl& url) override {
    opened.append(url);
    return true;
  }
};

}  // namespace murel::test
