#pragma once

#include <QFileDevice>
#include <QString>

#include <optional>

namespace murel {

// Files and folders written by Murel. What it keeps (settings, logs,
// recordings) is the user's alone, whatever the umask: folders 0700, files 0600.
namespace PrivateFiles {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Creates `path` and any missing parent, each new folder 0700 (as the XDG base
// directory rules ask of the folders they name). False when it is no folder
// afterwards.
bool makeFolder(const QString& path);

// Writes `bytes` as the whole new content of `path` through a temporary file
// beside it. Every write, the flush and the sync are checked, and the file at
// `path` is replaced only once all of `bytes` is on disk: a full disk leaves
// the earlier file as it was (Qt's buffered QSaveFile would commit a short
// file). The new file gets `permissions` (owner only by default); none keeps
// those of the file it replaces, or the umask's for a new one.
// Returns why it failed, in the system's words ("No space left on device").
std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes,
                                       std::optional<QFileDevice::Permissions> permissions = kOwnerOnly);

// A system error's reason as the middle of a sentence: "no space left on
// device" ("Settings couldn't be saved: no space left on device").
QString inSentence(const QString& reason);

}  // namespace PrivateFiles
}  // namespace murel
