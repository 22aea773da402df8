// Every path through the Qwen3-ASR context frees every native handle: this
// test is linked with LeakSanitizer and asks it for unreachable memory after
// refused files, a load, a run and an unload.

#include "speech/EngineError.h"
#include "speech/EngineResidency.h"
#include "speech/Qwen3ASRContext.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sanitizer/lsan_interface.h>

using namespace murel;

// Only what the test itself does is judged, not what the process set up before.
extern "C" const char* __lsan_default_options() { return "leak_check_at_exit=0"; }
namespace {
struct IgnoreStartUp {
  IgnoreStartUp() { __lsan_disable(); }
} ignoreStartUp;
}  // namespace

TEST(Qwen3ASRContext, NoPathLeaks) {
  setEngineThreadCountForTesting(1);
  const QDir tiny(test::buildDir() + QStringLiteral("/test-models/qwen3-asr"));
  const QString dir = test::freshDir(QStringLiteral("leak"));
  const QString model = tiny.filePath(QStringLiteral("qwen3-asr-tiny.gguf"));
  const QString projector = tiny.filePath(QStringLiteral("qwen3a-tiny-mmproj.gguf"));
  auto write = [&](const QString& name, const QByteArray& bytes) {
    const QString path = QDir(dir).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  };
  const QString garbage = write(QStringLiteral("garbage.gguf"), QByteArray(4096, 'x'));
  QFile whole(projector);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray projectorBytes = whole.readAll();
  const QString cut = write(QStringLiteral("cut.gguf"), projectorBytes.left(projectorBytes.size() / 2));
  const QString textAsProjector = model;
  const QString mismatch = tiny.filePath(QStringLiteral("qwen3a-tiny-mmproj-mismatch.gguf"));

  // One good round first, outside the check: the libraries keep process-wide
  // tables of their own from the first use on.
  prepareLlamaBackend();
  { Qwen3ASRContext warm(model, projector); }

  __lsan_enable();
  const struct {
    QString model;
    QString projector;
  } refused[] = {{garbage, projector}, {model, garbage},         {model, cut},
                 {model, mismatch},    {model, textAsProjector}, {model, dir + QStringLiteral("/absent")}};
  for (const auto& c : refused) {
    EXPECT_THROW(Qwen3ASRContext(c.model, c.projector), EngineError) << c.projector.toStdString();
  }
  {
    Qwen3ASRContext context(model, projector);
    const AudioSamples samples(16000, 0.1f);
    EXPECT_EQ(
        context.transcribe(samples, QByteArrayLiteral("<|im_start|>user\n") + Qwen3ASRContext::mediaMarker().toUtf8() +
                                        QByteArrayLiteral("<|im_end|>\n<|im_start|>assistant\n")),
        QByteArrayLiteral("language English<asr_text>Hello"));
    // A failing run (the bitmap of no samples cannot be tokenised) frees its parts too.
    EXPECT_THROW(context.transcribe({}, Qwen3ASRContext::mediaMarker().toUtf8()), EngineError);
  }
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
  setEngineThreadCountForTesting(0);
}
