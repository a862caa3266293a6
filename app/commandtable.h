// Folivo — multi-page TIFF editor.
// The main window's tool buttons and menus as tables: one place for every
// caption, hint, shortcut, tag and handler name.
#pragma once

#include <span>

namespace folivo {

struct TToolButtonDef {
  const char* Name;     // control name
  const char* Caption;  // may be empty: glyph only
  const char* Hint;
  const char* Handler;  // handler name; the window maps it to a slot
  int Tag;
  bool Toggle;
};

// Kinds of rows in the menu table.
enum class TMenuRow { Menu, Entry, Submenu, EndSubmenu, Separator };

struct TMenuDef {
  TMenuRow Row;
  const char* Name;
  const char* Caption;
  const char* Shortcut;  // Qt key sequence text, or empty
  const char* Handler;   // empty: no command of its own
  int Tag;
};

std::span<const TToolButtonDef> MainToolButtons();
std::span<const TToolButtonDef> PageListTopButtons();
std::span<const TToolButtonDef> PageListBottomButtons();
std::span<const TToolButtonDef> ViewToolButtons();
std::span<const TMenuDef> MainMenu();
std::span<const TMenuDef> RotatePopupMenu();
std::span<const TMenuDef> BlurPopupMenu();

}  // namespace folivo
