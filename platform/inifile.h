// Folivo — multi-page TIFF editor.
// TIniFile: initialisation files with the semantics settings files rely on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folivo {

// Sections in square brackets, "key=value" lines. Section and key names
// compare without case; a missing file, section or key reads as the
// default. Integers are decimal or "$" and hexadecimal digits; anything
// else reads as the default. Booleans are written "1"/"0" and read as
// true for any integer but 0.
//
// The file is read once when the object is made. Writes change the copy in
// memory and are written back by Flush (and by the destructor, which swallows
// failures): to a temporary file beside the target, renamed into place. Files
// are UTF-8; one that is not valid UTF-8 is read as GB18030.
class TIniFile {
 public:
  explicit TIniFile(std::string path);
  ~TIniFile();
  TIniFile(const TIniFile&) = delete;
  TIniFile& operator=(const TIniFile&) = delete;

  const std::string& Path() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // Keys of a section in file order.
  std::vector<std::string> ReadSection(const std::string& section) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

  // Writes pending changes; throws TFileError when the file cannot be written.
  void Flush();

 private:
  struct TLine {
    std::string text;     // the line as read or written, without line end
    std::string section;  // lower-case section it belongs to
    std::string key;      // lower-case key, empty for other lines
    std::string value;
  };
  const TLine* Find(const std::string& section, const std::string& key) const;

  std::string path_;
  std::vector<TLine> lines_;
  bool dirty_ = false;
};

// Text to integer the way settings files mean it: optional sign, decimal
// digits or "$"/"0x" and hex digits, nothing else. False for anything else.
bool ParseIniInteger(const std::string& text, int64_t& value);

// UTF-8 validity, and GB18030 to UTF-8 (invalid sequences become U+FFFD).
bool IsValidUtf8(const std::string& bytes);
std::string Gb18030ToUtf8(const std::string& bytes);

}  // namespace folivo
