// The process's table of kernel object handles. Handle values are never
// reused, so a stale handle finds nothing instead of another object.
#pragma once

#include <memory>

#include "windows.h"

namespace handheld::detail {

// Base of every object a HANDLE refers to (threads, events, files, ports).
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Called once when the last handle to the object is closed, while other
  // threads may still hold references taken with Lookup: a port wakes its
  // pending waits here. The object is destroyed when the last reference
  // goes.
  virtual void OnClose() {}
};

class HandleTable {
 public:
  static HANDLE Add(std::shared_ptr<KernelObject> object);
  // A new handle to an object that already has one (named events).
  static HANDLE Duplicate(const std::shared_ptr<KernelObject>& object);
  // Null for an invalid, closed or pseudo handle.
  static std::shared_ptr<KernelObject> Lookup(HANDLE h);
  template <class T>
  static std::shared_ptr<T> LookupAs(HANDLE h) {
    return std::dynamic_pointer_cast<T>(Lookup(h));
  }
  // Removes the handle; calls OnClose when it was the object's last handle.
  // False (ERROR_INVALID_HANDLE) when the handle is not in the table.
  static bool Remove(HANDLE h);
};

}  // namespace handheld::detail
