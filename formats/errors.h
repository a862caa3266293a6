// Folivo — multi-page TIFF editor.
// Exceptions for failures that are not bad input: allocation, files, platform.
#pragma once

#include <stdexcept>
#include <string>

namespace folivo {

// Base of every error the program reports to the user in a message box.
class FolivoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file could not be opened, created, written or renamed.
class TFileError : public FolivoError {
 public:
  TFileError(const std::string& message, std::string path)
      : FolivoError(message), path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A request the bitmap cannot satisfy (a pixel format its storage does not allow).
class TBitmapError : public FolivoError {
 public:
  using FolivoError::FolivoError;
};

}  // namespace folivo
