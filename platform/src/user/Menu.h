// A menu (HMENU): items with their command ids, texts and popups. Menus
// come from resources (LoadMenu) and are drawn by the command bar.
#pragma once

#include <string>
#include <vector>

#include "HandleTable.h"
#include "win/user.h"

namespace handheld::detail {

class Menu : public HandleObject {
 public:
  struct Item {
    UINT flags = 0;
    UINT id = 0;
    std::u16string text;
    HMENU popup = nullptr;  // MF_POPUP
  };
  HMENU handle = nullptr;
  std::vector<Item> items;  // fixed once made

  // Makes the menu a resource script describes (with its popups); null
  // when the description is cut short.
  static HMENU FromResource(const MENU_RESOURCE_ITEM* items, size_t count);
  static std::shared_ptr<Menu> Find(HMENU menu);
};

}  // namespace handheld::detail
