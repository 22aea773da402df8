#pragma once
// A full disk where users meet it: small tmpfs file systems mounted over the
// test's config and data folders, in a private mount namespace so that
// nothing outside the test sees them.

#include <QString>

namespace murel::test {

// Runs the current test again, alone, in a private mount namespace
// (`unshare --mount`) and returns false: the outer run then passes or fails
// with the inner one, or is skipped where mount namespaces or tmpfs mounts are
// not permitted. In the inner run it mounts a tmpfs of `kilobytes` over
// $XDG_CONFIG_HOME and another over $XDG_DATA_HOME and returns true: the
// test goes on there.
bool insidePrivateMounts(int kilobytes = 256);

// Fills the file system that holds `folder` until a write is refused for want
// of space; returns the filler file, whose removal frees the space again.
QString fillDisk(const QString& folder);

}  // namespace murel::test
