// The process's one table of handles. Every kind of handle the platform
// hands out -- kernel objects (HANDLE), registry keys (HKEY), windows (HWND),
// device contexts (HDC), GDI objects (HBITMAP, HBRUSH, HFONT, HPEN), menus
// (HMENU), accelerator tables (HACCEL), module instances (HINSTANCE,
// HMODULE), icons and cursors (HICON, HCURSOR) and the device manager's
// device handles -- takes its value from the one counter here, so no two
// live handles share a value whatever their kinds, and values are never
// reused: a stale handle finds nothing instead of another object.
//
// Kinds are kept apart: a look-up names the kind it expects and finds
// nothing for a handle of another kind, so the API function fails with
// ERROR_INVALID_HANDLE (CloseHandle on an HKEY, RegCloseKey on an event).
// Kinds with several classes of object (the GDI objects) tell them apart
// with LookupAs<T>.
//
// Lifetime: the table holds a std::shared_ptr per handle. A call in
// progress keeps its object alive with the reference Lookup returned, so a
// handle closed by another thread meanwhile does not free the object under
// it. When the last handle of an object is removed, its OnClose runs once
// (outside the table's lock); the object is destroyed when the last
// reference goes.
//
// Using it for a new kind (for example a brush):
//   class Brush : public HandleObject { ... };
//   HBRUSH h = HandleTable::Add<HBRUSH>(HandleKind::kGdiObject, std::make_shared<Brush>(...));
//   std::shared_ptr<Brush> brush = HandleTable::LookupAs<Brush>(HandleKind::kGdiObject, h);
//   if (!brush) return ReportStatus(ERROR_INVALID_HANDLE);
//   Status closed = HandleTable::Remove(HandleKind::kGdiObject, h);  // DeleteObject
#pragma once

#include <cstdint>
#include <memory>

#include "Status.h"
#include "win/types.h"

namespace handheld::detail {

enum class HandleKind : uint8_t {
  kKernelObject,   // HANDLE: threads, events, files, serial ports, devices
  kRegistryKey,    // HKEY (the predefined roots are not in the table)
  kWindow,         // HWND
  kDeviceContext,  // HDC
  kGdiObject,      // HBITMAP, HBRUSH, HFONT, HPEN
  kMenu,           // HMENU
  kAccelerators,   // HACCEL
  kInstance,       // HINSTANCE, HMODULE
  kIcon,           // HICON, HCURSOR
  kDevice,         // device handles of the device manager (ActivateDevice)
};

// Base of every object a handle refers to.
class HandleObject {
 public:
  virtual ~HandleObject() = default;
  // Called once when the last handle to the object is removed, while other
  // threads may still hold references taken with Lookup: a port wakes its
  // pending waits here. The object is destroyed when the last reference
  // goes.
  virtual void OnClose() {}
};

class FileObject;

// Base of the objects behind a HANDLE (threads, events, files, ports).
class KernelObject : public HandleObject {
 public:
  // The object as a file, or null: what LookupAs<FileObject> would give,
  // without a dynamic_cast on each ReadFile of a byte.
  virtual FileObject* AsFile() { return nullptr; }
};

class HandleTable {
 public:
  // A new handle of `kind` to `object`; null only for a null object.
  static void* Add(HandleKind kind, std::shared_ptr<HandleObject> object);
  template <class H>
  static H Add(HandleKind kind, std::shared_ptr<HandleObject> object) {
    return static_cast<H>(Add(kind, std::move(object)));
  }
  // A new handle to an object that has one of `kind` already (named
  // events). Null when the object's last handle is gone: it is closing.
  static void* Duplicate(HandleKind kind, const std::shared_ptr<HandleObject>& object);
  // The object behind `value` when it is an open handle of `kind`, else null.
  static std::shared_ptr<HandleObject> Lookup(HandleKind kind, const void* value);
  template <class T>
  static std::shared_ptr<T> LookupAs(HandleKind kind, const void* value) {
    return std::dynamic_pointer_cast<T>(Lookup(kind, value));
  }
  // Removes the handle; runs OnClose when it was the object's last handle.
  // ERROR_INVALID_HANDLE when `value` is no open handle of `kind`.
  static Status Remove(HandleKind kind, const void* value);

  // Shorthands for kernel objects.
  static HANDLE Add(std::shared_ptr<KernelObject> object) {
    return Add(HandleKind::kKernelObject, std::move(object));
  }
  static HANDLE Duplicate(const std::shared_ptr<KernelObject>& object) {
    return Duplicate(HandleKind::kKernelObject, object);
  }
  static std::shared_ptr<HandleObject> Lookup(HANDLE h) {
    return Lookup(HandleKind::kKernelObject, h);
  }
  // Kernel handles are added only through the two shorthands above, so
  // each one is a KernelObject.
  static std::shared_ptr<KernelObject> LookupKernel(HANDLE h) {
    return std::static_pointer_cast<KernelObject>(Lookup(h));
  }
  template <class T>
  static std::shared_ptr<T> LookupAs(HANDLE h) {
    return LookupAs<T>(HandleKind::kKernelObject, h);
  }
  static Status Remove(HANDLE h) { return Remove(HandleKind::kKernelObject, h); }
};

}  // namespace handheld::detail
