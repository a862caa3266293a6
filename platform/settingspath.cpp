// Folivo — multi-page TIFF editor.
#include "platform/settingspath.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace folivo {

namespace fs = std::filesystem;

namespace {
std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

std::string SettingsFolder(const std::string& programPath) {
  if (const char* dir = std::getenv("FOLIVO_CONFIG_DIR"); dir && *dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    return WithSlash(dir);
  }
  fs::path program = fs::absolute(fs::path(programPath));
  std::string folder = program.parent_path().string();
  if (!folder.empty() && access(folder.c_str(), W_OK) == 0) return WithSlash(folder);
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/')
    config = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    config = std::string(home) + "/.config";
  else
    config = "/tmp";
  std::string own = config + "/folivo";
  std::error_code ec;
  fs::create_directories(own, ec);
  return WithSlash(own);
}

std::string SettingsFilePath(const std::string& programPath) {
  fs::path name = fs::path(programPath).filename();
  name.replace_extension(".ini");
  return SettingsFolder(programPath) + name.string();
}

}  // namespace folivo
