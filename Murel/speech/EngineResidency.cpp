#include "speech/EngineResidency.h"

#include <sched.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace murel {

EngineResidency::EngineResidency(QString engineName, const char* logCategory)
    : engineName_(std::move(engineName)), logger_(logCategory) {}

bool EngineResidency::isLoaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

void EngineResidency::setLoaded(bool loaded) {
  {
    std::lock_guard lock(mutex_);
    loaded_ = loaded;
  }
  logger_.info(engineName_ + QStringLiteral(" engine ") +
               (loaded ? QStringLiteral("loaded") : QStringLiteral("unloaded")));
}

int engineThreadCountFrom(int usableCores, long onlineProcessors) {
  if (usableCores > 0) return usableCores;
  return onlineProcessors < 1 ? 1 : static_cast<int>(onlineProcessors);
}

namespace {

std::atomic<int> testingCount{0};

int machineThreadCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int usable = sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 0;
  return engineThreadCountFrom(usable, sysconf(_SC_NPROCESSORS_ONLN));
}

}  // namespace

int engineThreadCount() {
  const int pinned = testingCount.load();
  if (pinned > 0) return pinned;
  static const int count = machineThreadCount();
  return count;
}

int inferenceThreadCountFrom(int threads, int busyElsewhere) {
  const int floor = std::min(2, std::max(threads, 1));
  return std::clamp(threads - std::max(busyElsewhere, 0), floor, std::max(threads, floor));
}

namespace {

// Runnable tasks on the whole machine, this thread included ("procs_running"
// in /proc/stat); -1 when unreadable.
int runnableTasks() {
  QFile stat(QStringLiteral("/proc/stat"));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  for (QByteArray line = stat.readLine(); !line.isEmpty(); line = stat.readLine()) {
    if (!line.startsWith("procs_running ")) continue;
    bool ok = false;
    const int count = line.mid(14).trimmed().toInt(&ok);
    return ok ? count : -1;
  }
  return -1;
}

}  // namespace

int inferenceThreadCountNow() {
  const int threads = engineThreadCount();
  if (testingCount.load() > 0) return threads;
  // The fewest runnable tasks over a few samples: a burst that ends within
  // milliseconds is not load worth giving cores up for.
  int fewest = -1;
  for (int sample = 0; sample < 5; ++sample) {
    if (sample > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const int running = runnableTasks();
    if (running < 0) return threads;
    fewest = fewest < 0 ? running : std::min(fewest, running);
  }
  return inferenceThreadCountFrom(threads, fewest - 1);
}

void setEngineThreadCountForTesting(int count) { testingCount.store(count > 0 ? count : 0); }

}  // namespace murel
