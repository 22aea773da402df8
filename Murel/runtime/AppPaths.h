#pragma once

#include <QString>

namespace murel {

// Where Murel keeps its files on a freedesktop system. Every path honours the
// XDG_* variables so that tests can point them at temporary folders.
namespace AppPaths {

// The user's "Application Support" folder: $XDG_DATA_HOME, default ~/.local/share.
// Empty when neither XDG_DATA_HOME nor HOME is set.
QString applicationSupport();
// Murel's own folder inside it; the data home is shared by all applications.
QString appData();
QString logs();
QString recordings();
QString models();
// $XDG_CACHE_HOME/Murel
QString caches();
// $XDG_CONFIG_HOME/Murel: the user defaults live here.
QString config();
// Read-only resources shipped with the application (cues, VAD model, fonts,
// translations): $MUREL_RESOURCE_DIR, else <executable dir>/../share/murel.
QString resources();
QString resource(const QString& relativePath);

}  // namespace AppPaths
}  // namespace murel
