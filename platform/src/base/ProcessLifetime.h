// State that lives as long as the process: made on first use and never
// destroyed, so threads still running at exit (detached threads, a late
// CloseHandle, a driver's watcher) find it intact instead of a destroyed
// static. Each use names a type of its own (a struct holding the state and
// its lock); the type is the key, so two uses never share by accident.
//
//   struct Names { std::mutex mutex; std::map<...> events; };
//   Names& names = ProcessLifetime<Names>::Get();
#pragma once

namespace handheld::detail {

template <class T>
class ProcessLifetime {
 public:
  static T& Get() {
    static T* const instance = new T;  // deliberately never deleted
    return *instance;
  }
};

}  // namespace handheld::detail
