// Folivo — multi-page TIFF editor.
#include "platform/inifile.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iconv.h>
#include <sstream>

#include "formats/atomicfile.h"

namespace folivo {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A value in matching quotes reads without them, as profile readers do.
std::string Unquote(const std::string& s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    return s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    int extra;
    uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + static_cast<size_t>(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string Gb18030ToUtf8(const std::string& bytes) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  std::vector<char> in(bytes.begin(), bytes.end());
  char* src = in.data();
  size_t left = in.size();
  char buffer[4096];
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte GB18030 does not take
      ++src;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

bool ParseIniInteger(const std::string& text, int64_t& value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > 0xFFFFFFFFLL) return false;
  }
  // Hex text names a 32-bit pattern ("$FFFFFFFF" is -1), decimal must fit.
  if (base == 16 && v > 0x7FFFFFFF) v -= 0x100000000LL;
  else if (base == 10 && v > (negative ? 0x80000000LL : 0x7FFFFFFFLL)) return false;
  value = negative ? -v : v;
  return true;
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::stringstream ss;
  ss << in.rdbuf();
  std::string bytes = ss.str();
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (!IsValidUtf8(bytes)) bytes = Gb18030ToUtf8(bytes);
  std::string section;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(pos, end - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    pos = end + 1;
    TLine line{text, {}, {}, {}};
    std::string t = Trim(text);
    if (!t.empty() && t.front() == '[') {
      size_t close = t.find(']');
      section = Lower(Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      line.section = section;
    } else {
      line.section = section;
      size_t eq = t.find('=');
      if (!t.empty() && t.front() != ';' && eq != std::string::npos && eq > 0) {
        line.key = Lower(Trim(t.substr(0, eq)));
        line.value = Unquote(Trim(t.substr(eq + 1)));
      }
    }
    lines_.push_back(std::move(line));
  }
}

TIniFile::~TIniFile() {
  try {
    Flush();
  } catch (...) {
    // Settings that cannot be written are not reported, as before.
  }
}

const TIniFile::TLine* TIniFile::Find(const std::string& section, const std::string& key) const {
  std::string s = Lower(section), k = Lower(key);
  for (const TLine& line : lines_)
    if (!line.key.empty() && line.section == s && line.key == k) return &line;
  return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const TLine* line = Find(section, key);
  return line ? line->value : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
  const TLine* line = Find(section, key);
  int64_t v;
  if (!line || !ParseIniInteger(line->value, v)) return defaultValue;
  return static_cast<int>(v);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key,
                        bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
  return Find(section, key) != nullptr;
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::string> keys;
  std::string s = Lower(section);
  for (const TLine& line : lines_)
    if (!line.key.empty() && line.section == s) {
      std::string t = Trim(line.text);
      keys.push_back(Trim(t.substr(0, t.find('='))));
    }
  return keys;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
  std::string s = Lower(section), k = Lower(key);
  std::string text = key + "=" + value;
  dirty_ = true;
  for (TLine& line : lines_)
    if (!line.key.empty() && line.section == s && line.key == k) {
      // The key keeps the spelling it has in the file.
      std::string t = Trim(line.text);
      line.text = Trim(t.substr(0, t.find('='))) + "=" + value;
      line.value = value;
      return;
    }
  // New key: after the last line of its section that is not blank.
  int last = -1;
  bool found = false;
  for (int i = 0; i < static_cast<int>(lines_.size()); ++i)
    if (lines_[i].section == s) {
      std::string t = Trim(lines_[i].text);
      if (!found && !t.empty() && t.front() == '[') found = true;
      if (found && !t.empty()) last = i;
    }
  TLine line{text, s, k, value};
  if (!found) {
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back({"", lines_.back().section, "", ""});
    lines_.push_back({"[" + section + "]", s, "", ""});
    lines_.push_back(std::move(line));
  } else {
    lines_.insert(lines_.begin() + last + 1, std::move(line));
  }
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
  std::string s = Lower(section);
  auto before = lines_.size();
  lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                              [&](const TLine& l) { return l.section == s; }),
               lines_.end());
  if (lines_.size() != before) dirty_ = true;
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  std::string s = Lower(section), k = Lower(key);
  auto before = lines_.size();
  lines_.erase(std::remove_if(lines_.begin(), lines_.end(),
                              [&](const TLine& l) { return l.section == s && l.key == k; }),
               lines_.end());
  if (lines_.size() != before) dirty_ = true;
}

void TIniFile::Flush() {
  if (!dirty_) return;
  std::string bytes;
  for (const TLine& line : lines_) bytes += line.text + "\n";
  WriteFileAtomically(path_, bytes);
  dirty_ = false;
}

}  // namespace folivo
