#pragma once

#include "text/SnippetStore.h"

#include <optional>

namespace murel::SnippetMatcher {

// Trimmed, trailing ". ? ! ," dropped, trimmed again, lower case (locale-independent).
QString normalizeTrigger(const QString& text);
// The expansion of the first snippet whose trigger is the whole utterance.
std::optional<QString> matchSnippet(const QString& utterance, const QList<SnippetEntry>& entries);
// Whether another snippet (other than `excluding`) already has this trigger's normal form.
bool isDuplicateTrigger(const QString& trigger, const QList<SnippetEntry>& entries,
                        std::optional<QUuid> excluding = std::nullopt);

}  // namespace murel::SnippetMatcher
