#pragma once
// The catalogue's Whisper small English and Parakeet TDT 0.6B models for the
// benchmarks: the real files from MUREL_REAL_MODELS_DIR when they are there,
// otherwise generated once per build tree at their real dimensions and exact
// catalogue sizes with random weights (the files are never committed). The
// including target defines MUREL_BENCH_PYTHON, MUREL_BENCH_MODEL_DIR and the
// generator paths (speech_engines.cmake).
#include "speech/ParakeetModel.h"
#include "speech/WhisperModel.h"

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace murel::bench {

inline void runChecked(const QString& program, const QStringList& args, int timeoutMs) {
  QProcess process;
  process.start(program, args);
  if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    throw std::runtime_error(
        QStringLiteral("%1 failed: %2").arg(program, QString::fromUtf8(process.readAllStandardError())).toStdString());
}

// `row` from MUREL_REAL_MODELS_DIR when it is there, else from this build
// tree's folder, generated there once by `generator` (the arguments after the
// output file are `args`).
inline SpeechModelDescriptor realOrGenerated(SpeechModelDescriptor row, const QStringList& generator,
                                             const QStringList& args) {
  const QString real = QString::fromLocal8Bit(qgetenv("MUREL_REAL_MODELS_DIR"));
  if (!real.isEmpty()) {
    row.storageDirectory = real;
    if (row.isModelInstalled()) return row;
  }
  row.storageDirectory = QStringLiteral(MUREL_BENCH_MODEL_DIR);
  if (row.isModelInstalled()) return row;
  QDir().mkpath(row.storageDirectory);
  const ModelArtifact& artifact = row.artifacts.at(0);
  runChecked(QStringLiteral(MUREL_BENCH_PYTHON),
             generator + QStringList{QDir(row.storageDirectory).filePath(artifact.filename)} + args +
                 QStringList{QStringLiteral("--size"), QString::number(artifact.sizeBytes)},
             1800000);
  if (!row.isModelInstalled()) throw std::runtime_error("the generated model does not match its catalogue entry");
  return row;
}

// Whisper small English (generating it takes about a minute; the file is never committed).
inline SpeechModelDescriptor smallEnglishModel() {
  return realOrGenerated(
      WhisperModel::descriptor(WhisperModel::smallEnglishQ8), {QStringLiteral(MUREL_BENCH_WHISPER_GENERATOR)},
      {QStringLiteral("--n-vocab"), QStringLiteral("51864"), QStringLiteral("--dims"), QStringLiteral("small"),
       QStringLiteral("--ftype"), QStringLiteral("q8_0"), QStringLiteral("--script-tokens"), QStringLiteral("24")});
}

// Parakeet TDT 0.6B at its real dimensions and catalogue size (random weights,
// so the text is meaningless and the decoder's work is whatever the weights
// make it, the same on both sides for the same clip).
inline SpeechModelDescriptor parakeetModel() {
  return realOrGenerated(
      ParakeetModel::descriptor(ParakeetModel::tdt06bV3Q8),
      {QStringLiteral(MUREL_BENCH_PARAKEET_GENERATOR), QStringLiteral(MUREL_BENCH_UPSTREAM_PARAKEET_GENERATOR)},
      {QStringLiteral("--dims"), QStringLiteral("tdt-0.6b"), QStringLiteral("--ftype"), QStringLiteral("q8_0")});
}

}  // namespace murel::bench
