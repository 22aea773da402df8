#pragma once

#include <memory>

namespace litertlm {

// A runtime handle deleted with its family's _delete when the owner goes away,
// on success and on every failure path alike.
template <class T>
using Owned = std::unique_ptr<T, void (*)(T*)>;

template <class T>
Owned<T> own(T* handle, void (*deleter)(T*)) {
  return Owned<T>(handle, deleter);
}

}  // namespace litertlm
