#include "speech/EngineResidency.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>

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

void setEngineThreadCountForTesting(int count) { testingCount.store(count > 0 ? count : 0); }

}  // namespace murel
