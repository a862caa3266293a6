// Folivo — multi-page TIFF editor.
#include "formats/stream.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "formats/errors.h"

namespace folivo {

size_t TMemoryStream::Read(void* buffer, size_t count) {
  if (position_ >= bytes_.size()) return 0;
  size_t n = std::min<uint64_t>(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  uint64_t end = position_ + count;
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ = end;
}

size_t TByteViewStream::Read(void* buffer, size_t count) {
  if (position_ >= size_) return 0;
  size_t n = std::min<uint64_t>(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  return n;
}

void TByteViewStream::Write(const void*, size_t) {
  throw TFileError("stream is read-only", std::string());
}

namespace {
std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\": " + std::strerror(errno);
}
}  // namespace

TFileStream::TFileStream(const std::string& path, TMode mode) : path_(path) {
  const char* fmode = mode == TMode::Read ? "rb" : mode == TMode::Create ? "wb+" : "rb+";
  file_ = std::fopen(path.c_str(), fmode);
  if (!file_) throw TFileError(ErrnoText("cannot open", path), path);
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

size_t TFileStream::Read(void* buffer, size_t count) { return std::fread(buffer, 1, count, file_); }

void TFileStream::Write(const void* buffer, size_t count) {
  if (count && std::fwrite(buffer, 1, count, file_) != count)
    throw TFileError(ErrnoText("cannot write", path_), path_);
}

void TFileStream::Seek(uint64_t position) {
  if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0)
    throw TFileError(ErrnoText("cannot seek in", path_), path_);
}

uint64_t TFileStream::Position() const {
  off_t p = ftello(file_);
  return p < 0 ? 0 : static_cast<uint64_t>(p);
}

uint64_t TFileStream::Size() const {
  off_t here = ftello(file_);
  fseeko(file_, 0, SEEK_END);
  off_t end = ftello(file_);
  fseeko(file_, here, SEEK_SET);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

void TFileStream::Commit() {
  if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0)
    throw TFileError(ErrnoText("cannot write", path_), path_);
}

}  // namespace folivo
