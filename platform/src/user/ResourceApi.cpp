// Resources, icons, menus and accelerator tables.
#include <algorithm>
#include <cstring>
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

BOOL DeclareResourceImage(const void* image, DWORD size) {
  return ReportStatus(ResourceTable::Declare(static_cast<const BYTE*>(image), size));
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name) return Fail(ERROR_MOD_NOT_FOUND, HMODULE{});
  return ResourceTable::ProgramInstance();
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  const ResourceTable::Resource* found = ResourceTable::Find(module, type, name);
  if (!found)
    return Fail(ResourceTable::HasType(module, type) ? ERROR_RESOURCE_NAME_NOT_FOUND
                                                     : ERROR_RESOURCE_TYPE_NOT_FOUND,
                HRSRC{});
  return reinterpret_cast<HRSRC>(const_cast<ResourceTable::Resource*>(found));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return Fail(ERROR_INVALID_HANDLE, HGLOBAL{});
  return const_cast<BYTE*>(reinterpret_cast<const ResourceTable::Resource*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  if (!resource) return Fail(ERROR_INVALID_HANDLE, DWORD{0});
  return reinterpret_cast<const ResourceTable::Resource*>(resource)->size;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int maxChars) {
  if (!buffer || maxChars <= 0) return Fail(ERROR_INVALID_PARAMETER, 0);
  buffer[0] = 0;
  // Strings come in blocks of 16, block n + 1 holding ids 16n to 16n + 15,
  // each a length and that many characters (no terminator).
  const ResourceTable::Resource* block =
      ResourceTable::Find(instance, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1));
  if (!block) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
  size_t at = 0;
  for (UINT index = 0;; ++index) {
    WORD length = 0;
    if (block->size - at < sizeof length) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, 0);
    std::memcpy(&length, block->data + at, sizeof length);
    at += sizeof length;
    if ((block->size - at) / sizeof(WCHAR) < length) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, 0);
    if (index == (id & 15)) {
      if (length == 0) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
      const int n = std::min(static_cast<int>(length), maxChars - 1);
      std::memcpy(buffer, block->data + at, static_cast<size_t>(n) * sizeof(WCHAR));
      buffer[n] = 0;
      return n;
    }
    at += static_cast<size_t>(length) * sizeof(WCHAR);
  }
}

namespace {

// An icon image's header (a BITMAPINFOHEADER).
struct IconImageHeader {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD rest[6];
};
static_assert(sizeof(IconImageHeader) == 40, "the header is 40 bytes");

// The first image of icon group `name` as 0x00RRGGBB pixels, top row first:
// a 32- or 24-bit bitmap (its header, then its rows from the bottom up,
// each padded to four bytes; the mask after it is not needed).
Status ReadIcon(HINSTANCE instance, LPCWSTR name, Icon* icon) {
  const ResourceTable::Resource* group = ResourceTable::Find(instance, RT_GROUP_ICON, name);
  if (!group) return ERROR_RESOURCE_NAME_NOT_FOUND;
  // The group: reserved, type 1, count; then 14 bytes an image, its id last.
  const size_t kHeader = 6, kEntry = 14;
  WORD type = 0, count = 0, id = 0;
  if (group->size < kHeader + kEntry) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::memcpy(&type, group->data + 2, sizeof type);
  std::memcpy(&count, group->data + 4, sizeof count);
  std::memcpy(&id, group->data + kHeader + kEntry - sizeof id, sizeof id);
  if (type != 1 || count == 0) return ERROR_RESOURCE_DATA_NOT_FOUND;
  const ResourceTable::Resource* image = ResourceTable::Find(instance, RT_ICON, MAKEINTRESOURCEW(id));
  if (!image) return ERROR_RESOURCE_DATA_NOT_FOUND;
  IconImageHeader header{};
  if (image->size < sizeof header) return ERROR_RESOURCE_DATA_NOT_FOUND;
  std::memcpy(&header, image->data, sizeof header);
  const LONG side = header.biWidth;
  const WORD bits = header.biBitCount;
  if (header.biSize < sizeof header || header.biSize > image->size || side <= 0 || side > 256 ||
      header.biHeight != 2 * side || (bits != 32 && bits != 24))
    return ERROR_RESOURCE_DATA_NOT_FOUND;
  const size_t rowBytes = (static_cast<size_t>(side) * (bits / 8) + 3) & ~static_cast<size_t>(3);
  if ((image->size - header.biSize) / rowBytes < static_cast<size_t>(side))
    return ERROR_RESOURCE_DATA_NOT_FOUND;
  icon->pixels.resize(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (LONG y = 0; y < side; ++y) {
    const BYTE* row = image->data + header.biSize + static_cast<size_t>(side - 1 - y) * rowBytes;
    for (LONG x = 0; x < side; ++x) {
      const BYTE* p = row + static_cast<size_t>(x) * (bits / 8);
      icon->pixels[static_cast<size_t>(y * side + x)] =
          static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[1]) << 8 | p[0];
    }
  }
  return Status::Ok();
}

}  // namespace

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  auto icon = std::make_shared<Icon>();
  if (instance) {
    if (Status status = ReadIcon(instance, name, icon.get()); !status.ok())
      return Fail(status, HICON{});
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
  HMENU menu = Menu::FromTemplate(found->data, found->size);
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
  // Eight bytes an entry: flags, key, command and padding; the flag 0x80
  // marks the last.
  std::vector<ACCEL> entries;
  for (size_t at = 0; found->size - at >= 8; at += 8) {
    WORD flags = 0, key = 0, command = 0;
    std::memcpy(&flags, found->data + at, sizeof flags);
    std::memcpy(&key, found->data + at + 2, sizeof key);
    std::memcpy(&command, found->data + at + 4, sizeof command);
    entries.push_back(ACCEL{static_cast<BYTE>(flags & 0x7F), key, command});
    if (flags & 0x80) break;
  }
  if (entries.empty()) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, HACCEL{});
  return AddAccelerators(entries.data(), entries.size());
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
