// Folivo — multi-page TIFF editor.
// Where the settings file and the favourites file live.
#pragma once

#include <string>

namespace folivo {

// The folder of the settings, ending in "/": $FOLIVO_CONFIG_DIR when set;
// else the program's folder when it is writable; else $XDG_CONFIG_HOME/folivo
// (~/.config/folivo), created when missing.
std::string SettingsFolder(const std::string& programPath);
// The settings file: the program's name with the extension ".ini" in that folder.
std::string SettingsFilePath(const std::string& programPath);

}  // namespace folivo
