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

  // Makes the menu of a menu template (the compiled form of a resource
  // script's MENU: a header, then per item its flags, its id unless it
  // opens a popup, and its text; MF_END marks the last item of a level),
  // with its popups; null when the template is cut short or is of another
  // kind.
  static HMENU FromTemplate(const BYTE* data, size_t size);
  static std::shared_ptr<Menu> Find(HMENU menu);
};

}  // namespace handheld::detail
