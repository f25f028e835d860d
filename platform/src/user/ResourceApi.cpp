// Resources, icons, menus and accelerator tables.
#include <algorithm>
#include <memory>
#include <vector>

#include "HandleTable.h"
#include "Menu.h"
#include "ResourceTable.h"
#include "Status.h"
#include "win/user.h"

namespace {

using handheld::detail::HandleKind;
using handheld::detail::HandleObject;
using handheld::detail::HandleTable;
using handheld::detail::Menu;
using handheld::detail::ReportStatus;
using handheld::detail::ResourceTable;
using handheld::detail::Status;

template <class T>
T Fail(Status status, T result) {
  ReportStatus(status);
  return result;
}

class Icon : public HandleObject {
 public:
  std::vector<DWORD> pixels;  // 0x00RRGGBB, square
};

class AcceleratorTable : public HandleObject {
 public:
  std::vector<ACCEL> entries;
};

HACCEL AddAccelerators(const ACCEL* entries, size_t count) {
  auto table = std::make_shared<AcceleratorTable>();
  table->entries.assign(entries, entries + count);
  return HandleTable::Add<HACCEL>(HandleKind::kAccelerators, table);
}

}  // namespace

BOOL DeclareResources(const RESOURCE_ENTRY* entries, UINT count) {
  return ReportStatus(ResourceTable::Declare(entries, count));
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name) return Fail(ERROR_MOD_NOT_FOUND, HMODULE{});
  return ResourceTable::ProgramInstance();
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  const ResourceTable::Resource* found = ResourceTable::Find(module, type, name);
  if (!found) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HRSRC{});
  return reinterpret_cast<HRSRC>(const_cast<ResourceTable::Resource*>(found));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return Fail(ERROR_INVALID_HANDLE, HGLOBAL{});
  return const_cast<void*>(reinterpret_cast<const ResourceTable::Resource*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) return Fail(ERROR_INVALID_HANDLE, DWORD{0});
  return reinterpret_cast<const ResourceTable::Resource*>(resource)->size;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int maxChars) {
  if (!buffer || maxChars <= 0) return Fail(ERROR_INVALID_PARAMETER, 0);
  buffer[0] = 0;
  const ResourceTable::Resource* found =
      ResourceTable::Find(instance, RT_STRING, MAKEINTRESOURCEW(id));
  if (!found || !found->data) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
  const auto* text = static_cast<LPCWSTR>(found->data);
  const int n = std::min(lstrlenW(text), maxChars - 1);
  std::copy_n(text, n, buffer);
  buffer[n] = 0;
  return n;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  auto icon = std::make_shared<Icon>();
  if (instance) {
    const ResourceTable::Resource* found = ResourceTable::Find(instance, RT_ICON, name);
    if (!found) found = ResourceTable::Find(instance, RT_GROUP_ICON, name);
    if (!found) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HICON{});
    const auto* pixels = static_cast<const DWORD*>(found->data);
    if (pixels) icon->pixels.assign(pixels, pixels + found->size / sizeof(DWORD));
  } else if (name != IDI_APPLICATION) {
    return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HICON{});
  }
  return HandleTable::Add<HICON>(HandleKind::kIcon, icon);
}

BOOL DestroyIcon(HICON icon) {
  if (!HandleTable::LookupAs<Icon>(HandleKind::kIcon, icon)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  return ReportStatus(HandleTable::Remove(HandleKind::kIcon, icon));
}

HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name) {
  const ResourceTable::Resource* found = ResourceTable::Find(instance, RT_MENU, name);
  if (!found || !found->data) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HMENU{});
  HMENU menu = Menu::FromResource(static_cast<const MENU_RESOURCE_ITEM*>(found->data),
                                  found->size / sizeof(MENU_RESOURCE_ITEM));
  if (!menu) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, HMENU{});
  return menu;
}

BOOL DestroyMenu(HMENU menu) {
  auto found = Menu::Find(menu);
  if (!found) return Fail(ERROR_INVALID_MENU_HANDLE, FALSE);
  for (const Menu::Item& item : found->items)
    if (item.popup) DestroyMenu(item.popup);
  return ReportStatus(HandleTable::Remove(HandleKind::kMenu, menu));
}

HMENU GetSubMenu(HMENU menu, int position) {
  auto found = Menu::Find(menu);
  if (!found || position < 0 || static_cast<size_t>(position) >= found->items.size())
    return nullptr;
  return found->items[static_cast<size_t>(position)].popup;
}

int GetMenuItemCount(HMENU menu) {
  auto found = Menu::Find(menu);
  if (!found) return Fail(ERROR_INVALID_MENU_HANDLE, -1);
  return static_cast<int>(found->items.size());
}

HACCEL LoadAcceleratorsW(HINSTANCE instance, LPCWSTR name) {
  const ResourceTable::Resource* found = ResourceTable::Find(instance, RT_ACCELERATOR, name);
  if (!found || !found->data) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, HACCEL{});
  return AddAccelerators(static_cast<const ACCEL*>(found->data), found->size / sizeof(ACCEL));
}

HACCEL CreateAcceleratorTableW(LPACCEL entries, int count) {
  if (!entries || count <= 0) return Fail(ERROR_INVALID_PARAMETER, HACCEL{});
  return AddAccelerators(entries, static_cast<size_t>(count));
}

BOOL DestroyAcceleratorTable(HACCEL table) {
  if (!HandleTable::LookupAs<AcceleratorTable>(HandleKind::kAccelerators, table))
    return Fail(ERROR_INVALID_ACCEL_HANDLE, FALSE);
  return ReportStatus(HandleTable::Remove(HandleKind::kAccelerators, table));
}

int TranslateAcceleratorW(HWND hwnd, HACCEL table, LPMSG msg) {
  auto found = HandleTable::LookupAs<AcceleratorTable>(HandleKind::kAccelerators, table);
  if (!found) return Fail(ERROR_INVALID_ACCEL_HANDLE, 0);
  if (!msg || !IsWindow(hwnd) ||
      (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
    return 0;
  const bool alt = msg->message == WM_SYSKEYDOWN || (msg->lParam & (1L << 29)) != 0;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool control = GetKeyState(VK_CONTROL) < 0;
  for (const ACCEL& entry : found->entries) {
    if (!(entry.fVirt & FVIRTKEY) || entry.key != msg->wParam) continue;
    if (((entry.fVirt & FALT) != 0) != alt || ((entry.fVirt & FSHIFT) != 0) != shift ||
        ((entry.fVirt & FCONTROL) != 0) != control)
      continue;
    SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(entry.cmd, 1), 0);
    return 1;
  }
  return 0;
}
