#include "Menu.h"

#include <memory>

namespace handheld::detail {
namespace {

// Reads one level from *next on; false when the items end before MF_END.
bool ReadLevel(const MENU_RESOURCE_ITEM* items, size_t count, size_t* next, Menu* menu) {
  while (*next < count) {
    const MENU_RESOURCE_ITEM& source = items[(*next)++];
    Menu::Item item;
    item.flags = source.flags & ~MF_END;
    item.id = source.id;
    item.text = source.text ? source.text : u"";
    if (source.flags & MF_POPUP) {
      auto popup = std::make_shared<Menu>();
      if (!ReadLevel(items, count, next, popup.get())) return false;
      popup->handle = HandleTable::Add<HMENU>(HandleKind::kMenu, popup);
      item.popup = popup->handle;
    }
    menu->items.push_back(std::move(item));
    if (source.flags & MF_END) return true;
  }
  return false;
}

}  // namespace

HMENU Menu::FromResource(const MENU_RESOURCE_ITEM* items, size_t count) {
  auto menu = std::make_shared<Menu>();
  size_t next = 0;
  if (!ReadLevel(items, count, &next, menu.get())) return nullptr;
  menu->handle = HandleTable::Add<HMENU>(HandleKind::kMenu, menu);
  return menu->handle;
}

std::shared_ptr<Menu> Menu::Find(HMENU menu) {
  return HandleTable::LookupAs<Menu>(HandleKind::kMenu, menu);
}

}  // namespace handheld::detail
