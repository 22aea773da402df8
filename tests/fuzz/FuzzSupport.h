#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include "runtime/SystemLog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: each one is a libFuzzer entry point that also
// builds, without libFuzzer, into a program that replays its seed files.
namespace murel::fuzz {

// A broken round trip is a finding like a crash: report it and abort so the
// fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, const QString& detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.toUtf8().constData());
  std::abort();
}

inline void check(bool condition, const char* what, const QString& detail = {}) {
  if (!condition) fail(what, detail);
}

inline QByteArray bytes(const uint8_t* data, size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A Qt application object for the whole run and a private folder for files.
inline const QString& workDir() {
  static int argc = 1;
  static char name[] = "murel_fuzz";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
  (void)app;
  // Damaged input is logged on every run: keep it out of the system log.
  static const bool quiet = (SystemLog::setSink([](SystemLog::Level, const QString&, const QString&) {}), true);
  (void)quiet;
  static QTemporaryDir* dir = new QTemporaryDir;
  static const QString path = dir->path();
  return path;
}

}  // namespace murel::fuzz
