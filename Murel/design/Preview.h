#pragma once

#include <QProcessEnvironment>

namespace murel {

// True when the process renders views for design previews (tests, gallery
// screenshots): views with an entrance animation then start in their final
// state. Computed once, on first read, from the environment.
bool isRunningForPreviews();

// The rule behind it: the variable is exactly "1".
bool previewFlagFromEnvironment(const QProcessEnvironment& environment);

}  // namespace murel
