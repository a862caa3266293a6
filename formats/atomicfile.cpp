// Folivo — multi-page TIFF editor.
#include "formats/atomicfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "formats/errors.h"

namespace folivo {

namespace {
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

TAtomicFile::TAtomicFile(std::string targetPath) : target_(std::move(targetPath)) {
  std::string base = target_.substr(target_.rfind('/') + 1);
  std::string pattern = FolderOf(target_) + "/." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0)
    throw TFileError("cannot create \"" + target_ + "\": " + std::strerror(errno), target_);
  temp_ = name.data();
  struct stat old {};
  if (stat(target_.c_str(), &old) == 0) {
    fchmod(fd, old.st_mode & 07777);
  } else {
    // mkstemp makes 0600; a new file gets the usual mode under the umask.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  close(fd);
  try {
    stream_ = std::make_unique<TFileStream>(temp_, TFileStream::TMode::Update);
  } catch (...) {
    unlink(temp_.c_str());
    throw;
  }
}

TAtomicFile::~TAtomicFile() {
  stream_.reset();
  if (!committed_) unlink(temp_.c_str());
}

void TAtomicFile::Commit() {
  stream_->Commit();
  stream_.reset();
  if (std::rename(temp_.c_str(), target_.c_str()) != 0)
    throw TFileError("cannot write \"" + target_ + "\": " + std::strerror(errno), target_);
  committed_ = true;
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  TAtomicFile file(path);
  file.Stream().Write(bytes.data(), bytes.size());
  file.Commit();
}

}  // namespace folivo
