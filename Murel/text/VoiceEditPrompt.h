#pragma once

#include <QString>

#include <optional>

namespace murel {

// The system instruction of a voice edit: the editing prompt followed by the
// selection, or, with no selection (absent or empty), the writing prompt.
QString voiceEditSystemPrompt(const std::optional<QString>& selection);

}  // namespace murel
