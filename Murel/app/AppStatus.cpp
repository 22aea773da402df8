#include "app/AppStatus.h"

#include "runtime/Cancellation.h"
#include "speech/AudioExtractor.h"
#include "audio/AudioRecorder.h"
#include "speech/EngineError.h"
#include "runtime/SystemError.h"

#include <exception>

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

ErrorDescription ErrorDescription::of(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EngineError& e) {
    return {QStringLiteral("EngineError"), e.description()};
  } catch (const RecorderError& e) {
    return {QStringLiteral("RecorderError"), e.description()};
  } catch (const RecordingFolderError& e) {
    return {QStringLiteral("RecordingFolderError"), e.description()};
  } catch (const AudioExtractorError& e) {
    return {QStringLiteral("AudioExtractorError"), e.description()};
  } catch (const SystemError& e) {
    return {QStringLiteral("SystemError"), e.description()};
  } catch (const OperationCancelled& e) {
    return {QStringLiteral("CancellationError"), QString::fromUtf8(e.what())};
  } catch (const std::exception& e) {
    return {QStringLiteral("Error"), QString::fromUtf8(e.what())};
  } catch (...) {
    return {QStringLiteral("Error"), QStringLiteral("Unknown error")};
  }
}

}  // namespace murel
