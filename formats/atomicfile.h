// Folivo — multi-page TIFF editor.
// Files written over through a temporary file beside them and a rename.
#pragma once

#include <memory>
#include <string>

#include "formats/stream.h"

namespace folivo {

// A file being written: the bytes go to a temporary file in the target's
// folder; Commit flushes it to disk and renames it over the target (keeping
// the old file's permissions). Destroyed without Commit, the temporary file
// is removed and any previous file at the target stays as it was.
class TAtomicFile {
 public:
  // Throws TFileError when the temporary file cannot be created.
  explicit TAtomicFile(std::string targetPath);
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  TFileStream& Stream() { return *stream_; }
  const std::string& TargetPath() const { return target_; }
  // Throws TFileError; after a failure the target is untouched.
  void Commit();

 private:
  std::string target_;
  std::string temp_;
  std::unique_ptr<TFileStream> stream_;
  bool committed_ = false;
};

// The whole of bytes written to path the same way. Throws TFileError.
void WriteFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace folivo
