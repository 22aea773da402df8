#include "LiteRTLM/Runtime.h"

#include "LiteRTLM/Log.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>
#include <vector>

namespace litertlm::Runtime {
namespace {

struct State {
  std::mutex mutex;
  std::string path = kDefaultLibrary;
  // Loaded tables are never freed: engines made with them may still be alive, and
  // the libraries are never closed for the same reason. Tables retired by
  // setLibraryPath stay listed here so they remain owned.
  const Api* api = nullptr;
  std::vector<std::unique_ptr<const Api>> tables;
  std::string reason;
};

State& state() {
  static State* s = new State;
  return *s;
}

const Api* load(State& s) {
  // RTLD_LOCAL keeps the runtime's symbols out of the global namespace.
  void* handle = ::dlopen(s.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = ::dlerror();
    s.reason = "cannot open " + s.path + (error ? std::string(": ") + error : std::string());
    return nullptr;
  }
  auto api = std::make_unique<Api>();
  bool complete = true;
#define MUREL_LITERT_LM_RESOLVE(name)                                \
  if (complete) {                                                    \
    void* symbol = ::dlsym(handle, "litert_lm_" #name);              \
    if (!symbol) {                                                   \
      s.reason = s.path + " lacks the entry point litert_lm_" #name; \
      complete = false;                                              \
    } else {                                                         \
      api->name = reinterpret_cast<decltype(api->name)>(symbol);     \
    }                                                                \
  }
  MUREL_LITERT_LM_ENTRY_POINTS(MUREL_LITERT_LM_RESOLVE)
#undef MUREL_LITERT_LM_RESOLVE
  if (!complete) {
    ::dlclose(handle);
    return nullptr;
  }
  s.reason.clear();
  s.tables.push_back(std::move(api));
  return s.tables.back().get();
}

}  // namespace

const Api* api() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.api) {
    s.api = load(s);
    if (!s.api) Log::error(Log::kMainSubsystem, "Engine", "LiteRT-LM runtime unavailable: " + s.reason);
  }
  return s.api;
}

std::string unavailableReason() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.api) return {};
  return s.reason.empty() ? "the runtime library has not been opened yet" : s.reason;
}

void setLibraryPath(const std::string& path) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.path = path;
  s.api = nullptr;
  s.reason.clear();
}

std::string libraryPath() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.path;
}

}  // namespace litertlm::Runtime
