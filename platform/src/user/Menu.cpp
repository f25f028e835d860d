#include "Menu.h"

#include <cstring>
#include <memory>

namespace handheld::detail {
namespace {

// Reads one level from *at on; false when the template ends before MF_END.
bool ReadLevel(const BYTE* data, size_t size, size_t* at, Menu* menu) {
  auto word = [&](WORD* value) {
    if (size - *at < sizeof(WORD)) return false;
    std::memcpy(value, data + *at, sizeof(WORD));
    *at += sizeof(WORD);
    return true;
  };
  while (*at < size) {
    WORD flags = 0, id = 0;
    if (!word(&flags) || (!(flags & MF_POPUP) && !word(&id))) return false;
    Menu::Item item;
    item.flags = flags & ~MF_END;
    item.id = id;
    for (WORD c = 0;;) {
      if (!word(&c)) return false;
      if (c == 0) break;
      item.text.push_back(static_cast<char16_t>(c));
    }
    if (flags & MF_POPUP) {
      auto popup = std::make_shared<Menu>();
      if (!ReadLevel(data, size, at, popup.get())) return false;
      popup->handle = HandleTable::Add<HMENU>(HandleKind::kMenu, popup);
      item.popup = popup->handle;
    }
    menu->items.push_back(std::move(item));
    if (flags & MF_END) return true;
  }
  return false;
}

}  // namespace

HMENU Menu::FromTemplate(const BYTE* data, size_t size) {
  // The header: version 0 (an extended menu has 1) and the offset of the
  // items after it.
  WORD version = 0, offset = 0;
  if (!data || size < 4) return nullptr;
  std::memcpy(&version, data, sizeof version);
  std::memcpy(&offset, data + 2, sizeof offset);
  if (version != 0 || offset > size - 4) return nullptr;
  auto menu = std::make_shared<Menu>();
  size_t at = 4 + offset;
  if (!ReadLevel(data, size, &at, menu.get())) return nullptr;
  menu->handle = HandleTable::Add<HMENU>(HandleKind::kMenu, menu);
  return menu->handle;
}

std::shared_ptr<Menu> Menu::Find(HMENU menu) {
  return HandleTable::LookupAs<Menu>(HandleKind::kMenu, menu);
}

}  // namespace handheld::detail
