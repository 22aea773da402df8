// Without libFuzzer: runs the fuzz target once on every file given, or every
// file in the folders given (the seeds), so the seeds are regression tests.
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  QStringList files;
  for (int i = 1; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (QFileInfo(arg).isDir()) {
      QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories);
      while (it.hasNext()) files << it.next();
    } else {
      files << arg;
    }
  }
  files.sort();
  for (const QString& path : files) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
      return 1;
    }
    const QByteArray data = file.readAll();
    std::fprintf(stderr, "%s\n", qPrintable(path));
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()));
  }
  std::printf("replayed %lld inputs\n", static_cast<long long>(files.size()));
  return files.isEmpty() ? 1 : 0;
}
