#include "app/AppStatus.h"

namespace murel {

QString AppStatus::label() const {
  switch (kind_) {
    case Kind::loading: return QStringLiteral("LOADING");
    case Kind::ready: return QStringLiteral("READY");
    case Kind::recording: return QStringLiteral("RECORDING");
    case Kind::transcribing: return QStringLiteral("TRANSCRIBING");
    case Kind::error: return QStringLiteral("ERROR");
  }
  return {};
}

}  // namespace murel
