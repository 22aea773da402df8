#include "platform/x11/SyntheticKeys.h"

#include <chrono>
#include <deque>
#include <mutex>

namespace murel::x11 {
namespace {

struct Announced {
  int keycode;
  bool press;
  std::chrono::steady_clock::time_point at;
};

std::mutex gMutex;
std::deque<Announced> gAnnounced;

void dropExpired(std::chrono::steady_clock::time_point now) {
  while (!gAnnounced.empty() && now - gAnnounced.front().at > std::chrono::seconds(2)) gAnnounced.pop_front();
}

}  // namespace

void announceSyntheticKeyEvent(int xKeycode, bool press) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(gMutex);
  dropExpired(now);
  gAnnounced.push_back({xKeycode, press, now});
}

bool takeSyntheticKeyEvent(int xKeycode, bool press) {
  std::lock_guard lock(gMutex);
  dropExpired(std::chrono::steady_clock::now());
  for (auto it = gAnnounced.begin(); it != gAnnounced.end(); ++it) {
    if (it->keycode == xKeycode && it->press == press) {
      gAnnounced.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace murel::x11
