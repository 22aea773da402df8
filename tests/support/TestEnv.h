#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QString>

#include <chrono>
#include <functional>

namespace murel::test {

// The per-process temporary folder that HOME and every XDG_* variable point into.
QString tempRoot();
// A fresh, empty folder below tempRoot().
QString freshDir(const QString& name);
// The build tree's folders (set by CTest).
QString buildDir();
QString sourceDir();

// Processes events until `done` is true or `timeout` elapses; returns `done()`.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace murel::test
