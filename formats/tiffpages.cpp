// Folivo — multi-page TIFF editor.
// Whole-file TIFF operations. Extraction copies a page's directory and data
// as bytes (TIFF 6.0 section 2 layout), so it is exact for every compression
// and never decodes. Hostile chains end on revisited offsets; copies are
// bounded by the source's own size.
#include "formats/tiffpages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "formats/bitmap.h"
#include "formats/errors.h"
#include "formats/pagelist.h"
#include "formats/stream.h"
#include "formats/tiffreader.h"

namespace folivo {

namespace {

constexpr int kDefaultDpi = 300;
constexpr size_t kCopyChunkBytes = 1 << 20;

enum : uint16_t {
  kTagImageWidth = 256,
  kTagImageLength = 257,
  kTagPhotometric = 262,
  kTagStripOffsets = 273,
  kTagStripByteCounts = 279,
  kTagTileOffsets = 324,
  kTagTileByteCounts = 325,
  kTagSubIfds = 330,
  kTagTiffEpStandardId = 37398,
  kTagDngVersion = 50706,
};

// Writes numbers in one byte order.
class TOrderedWriter {
 public:
  TOrderedWriter(TStream& s, bool bigEndian) : s_(s), big_(bigEndian) {}
  void U16(uint16_t v) {
    uint8_t b[2];
    Put16(b, v);
    s_.Write(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    Put32(b, v);
    s_.Write(b, 4);
  }
  void Put16(uint8_t* b, uint16_t v) const {
    if (big_) {
      b[0] = v >> 8;
      b[1] = v & 0xFF;
    } else {
      b[0] = v & 0xFF;
      b[1] = v >> 8;
    }
  }
  void Put32(uint8_t* b, uint32_t v) const {
    for (int i = 0; i < 4; ++i) b[big_ ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // TIFF wants directories and arrays on word boundaries.
  void AlignEven() {
    if (s_.Position() & 1) s_.WriteByte(0);
  }

 private:
  TStream& s_;
  bool big_;
};

// Copies count bytes of source at offset to target's position; false when
// the source does not hold them or the budget is spent.
bool CopyBytes(TStream& source, uint64_t offset, uint64_t count, TStream& target, uint64_t& budget,
               std::vector<uint8_t>& buffer) {
  const uint64_t size = source.Size();
  if (offset > size || count > size - offset || count > budget) return false;
  budget -= count;
  source.Seek(offset);
  buffer.resize(std::min<uint64_t>(count, kCopyChunkBytes));
  while (count > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
    if (source.Read(buffer.data(), n) != n) return false;
    target.Write(buffer.data(), n);
    count -= n;
  }
  return true;
}

bool WritePage(const TTiffTagReader& reader, const TTiffDirectory& dir, TStream& target,
               TOrderedWriter& out, uint64_t placeholder) {
  TStream& source = reader.Stream();
  const uint64_t sourceSize = reader.StreamSize();
  uint64_t budget = 4 * sourceSize + (1u << 20);
  std::vector<uint8_t> buffer;
  std::vector<uint32_t> counts;
  if (const TTiffEntry* e = dir.Find(kTagStripByteCounts))
    counts = reader.Array(*e);
  else if (const TTiffEntry* e2 = dir.Find(kTagTileByteCounts))
    counts = reader.Array(*e2);

  std::vector<TTiffEntry> entries = dir.Entries;
  for (TTiffEntry& e : entries) {
    const uint64_t size = uint64_t{e.Count} * TiffTypeSize(e.Type);
    if (e.Tag == kTagStripOffsets || e.Tag == kTagTileOffsets) {
      const std::vector<uint32_t> offsets = reader.Array(e);
      std::vector<uint32_t> moved(offsets.size());
      for (size_t k = 0; k < offsets.size(); ++k) {
        const uint64_t at = offsets[k];
        moved[k] = static_cast<uint32_t>(target.Position());
        if (at >= sourceSize) continue;
        const uint64_t n =
            k < counts.size() ? std::min<uint64_t>(counts[k], sourceSize - at) : sourceSize - at;
        if (!CopyBytes(source, at, n, target, budget, buffer)) return false;
      }
      // Offsets are written as LONG: the new ones may not fit a SHORT.
      e.Type = ttLong;
      e.Count = static_cast<uint32_t>(moved.size());
      if (moved.size() <= 1) {
        out.Put32(e.Field, moved.empty() ? 0 : moved[0]);
      } else {
        out.AlignEven();
        out.Put32(e.Field, static_cast<uint32_t>(target.Position()));
        for (uint32_t m : moved) out.U32(m);
      }
    } else if (size > 4) {
      out.AlignEven();
      const uint32_t newOffset = static_cast<uint32_t>(target.Position());
      if (!CopyBytes(source, reader.Base() + reader.FieldLong(e), size, target, budget, buffer))
        return false;
      out.Put32(e.Field, newOffset);
    }
  }
  out.AlignEven();
  const uint64_t ifdPos = target.Position();
  if (ifdPos > UINT32_MAX) return false;
  out.U16(static_cast<uint16_t>(entries.size()));
  for (const TTiffEntry& e : entries) {
    out.U16(e.Tag);
    out.U16(e.Type);
    out.U32(e.Count);
    target.Write(e.Field, 4);
  }
  out.U32(0);
  const uint64_t end = target.Position();
  target.Seek(placeholder);
  out.U32(static_cast<uint32_t>(ifdPos));
  target.Seek(end);
  return true;
}

bool ReadFirstDirectory(TStream& stream, TTiffDirectory& dir, bool* bigEndian = nullptr) {
  uint8_t header[8];
  stream.Seek(0);
  if (stream.Read(header, 8) != 8) return false;
  if (!((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M')))
    return false;
  TTiffTagReader reader(stream, 0, header[0] == 'M');
  if (bigEndian) *bigEndian = reader.BigEndian();
  return ReadTiffDirectory(reader, reader.U32(header + 4), dir);
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes, const std::string& path,
              const std::string& written) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string why = std::strerror(errno);
      ::close(fd);
      ::unlink(written.c_str());
      throw TFileError("cannot write \"" + path + "\": " + why, path);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(written.c_str());
    throw TFileError("cannot write \"" + path + "\": " + why, path);
  }
}

// A new file is written in place (a failed write removes it); an existing one
// is replaced through a temporary file and a rename, so it is never left
// half-written.
void WriteBytesReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    WriteAll(fd, bytes, path, path);
    return;
  }
  if (errno != EEXIST)
    throw TFileError("cannot create \"" + path + "\": " + std::strerror(errno), path);
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = dir + "/." + base + ".XXXXXX";
  fd = mkstemp(temp.data());
  if (fd < 0) throw TFileError("cannot create \"" + path + "\": " + std::strerror(errno), path);
  fchmod(fd, 0644);
  WriteAll(fd, bytes, path, temp);
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    throw TFileError("cannot write \"" + path + "\": " + why, path);
  }
}

}  // namespace

int LoadTiffPages(TPageList& pages, TStream& stream, TIOProgress& progress) {
  progress.AbortingFlag() = false;
  const uint64_t start = stream.Position();
  int i = pages.CurrentPage() >= 0 ? pages.CurrentPage() : pages.PageCount();
  int j = 0, n = 0, inserted = 0;
  do {
    TPageEntry& entry = pages.Insert(i);
    stream.Seek(start);
    entry.Params.SetImageIndex(j);
    std::unique_ptr<TIEBitmap> alpha;
    ReadTiffStream(&entry.Bitmap, stream, n, false, false, true, &alpha, false, progress,
                   &entry.Params);
    if (entry.Params.DpiX() < 2) entry.Params.SetDpiX(kDefaultDpi);
    if (entry.Params.DpiY() < 2) entry.Params.SetDpiY(kDefaultDpi);
    if (alpha && !entry.Bitmap.IsEmpty()) {
      TIEBitmap* target = entry.Bitmap.AlphaChannel();
      const size_t bytes = static_cast<size_t>(std::min(target->RowLength(), alpha->RowLength()));
      for (int y = 0; y < target->Height() && y < alpha->Height(); ++y)
        std::memcpy(target->GetScanline(y), alpha->GetScanline(y), bytes);
    }
    entry.Params.SetImageIndex(i);
    entry.Params.FileType = 1;
    entry.Params.FileName.clear();
    if (progress.Aborting() || n == 0) {
      pages.Delete(i);
      break;
    }
    pages.NotifyChanged(i);
    ++inserted;
    if (progress.OnProgress)
      progress.OnProgress(progress.Sender, static_cast<int>(j * (100.0 / n)));
    ++j;
    ++i;
  } while (j < n);
  return inserted;
}

int LoadTiffPages(TPageList& pages, const std::string& fileName, TIOProgress& progress) {
  TFileStream stream(fileName, TFileStream::TMode::Read);
  return LoadTiffPages(pages, stream, progress);
}

int CountTiffPages(TStream& stream) {
  int n = 0;
  TIOProgress progress;
  ReadTiffStream(nullptr, stream, n, false, false, true, nullptr, true, progress, nullptr);
  return n;
}

int CountTiffPages(const std::string& fileName) {
  TFileStream stream(fileName, TFileStream::TMode::Read);
  return CountTiffPages(stream);
}

namespace {

// Sources up to this size are read into memory in one go for extraction.
constexpr uint64_t kWholeSourceBytes = 256ull << 20;

// The main chain of a source, walked once: byte order and IFD offsets.
struct TChain {
  bool tiff = false;
  uint8_t head[4] = {};
  std::vector<uint32_t> offsets;
};

TChain WalkChain(TStream& source) {
  TChain chain;
  source.Seek(0);
  if (source.Read(chain.head, 4) != 4 || !((chain.head[0] == 'I' && chain.head[1] == 'I') ||
                                           (chain.head[0] == 'M' && chain.head[1] == 'M')))
    return chain;
  chain.tiff = true;
  TTiffTagReader reader(source, 0, chain.head[0] == 'M');
  uint8_t buf[4];
  uint32_t offset = reader.ReadAt(4, buf, 4) ? reader.U32(buf) : 0;
  uint32_t previous = 0;
  std::unordered_set<uint32_t> visited;
  while (offset != 0 && offset != previous && visited.insert(offset).second) {
    if (!reader.ReadAt(offset, buf, 2)) break;
    const uint16_t count = reader.U16(buf);
    chain.offsets.push_back(offset);
    previous = offset;
    offset =
        reader.ReadAt(uint64_t{offset} + 2 + uint64_t{count} * 12, buf, 4) ? reader.U32(buf) : 0;
  }
  return chain;
}

bool ExtractFromChain(TStream& source, const TChain& chain, TStream& target, int index) {
  if (!chain.tiff) return true;
  const bool big = chain.head[0] == 'M';
  TOrderedWriter out(target, big);
  target.Write(chain.head, 4);
  const uint64_t placeholder = target.Position();
  out.U32(0);
  if (index < 0 || static_cast<size_t>(index) >= chain.offsets.size()) return true;
  TTiffTagReader reader(source, 0, big);
  TTiffDirectory dir;
  if (!ReadTiffDirectory(reader, chain.offsets[index], dir)) return true;
  return WritePage(reader, dir, target, out, placeholder);
}

}  // namespace

bool ExtractTiffPage(TStream& source, TStream& target, int index) {
  return ExtractFromChain(source, WalkChain(source), target, index);
}

bool ExtractTiffPage(const std::string& sourceFile, const std::string& targetFile, int index) {
  TFileStream source(sourceFile, TFileStream::TMode::Read);
  TMemoryStream target;
  if (!ExtractTiffPage(source, target, index)) return false;
  WriteBytesReplacing(targetFile, target.Bytes());
  return true;
}

size_t ExtractTiffPages(TStream& source, const std::vector<int>& pages,
                        const std::vector<TStream*>& targets) {
  const TChain chain = WalkChain(source);
  const size_t n = std::min(pages.size(), targets.size());
  for (size_t k = 0; k < n; ++k)
    if (!ExtractFromChain(source, chain, *targets[k], pages[k])) return k;
  return n;
}

size_t ExtractTiffPages(const std::string& sourceFile, const std::vector<int>& pages,
                        const std::vector<std::string>& targetFiles) {
  TFileStream file(sourceFile, TFileStream::TMode::Read);
  // Many small reads all over the file: from memory they cost no system calls.
  TMemoryStream memory;
  TStream* source = &file;
  const uint64_t size = file.Size();
  if (size <= kWholeSourceBytes) {
    memory.Bytes().resize(static_cast<size_t>(size));
    file.Seek(0);
    if (file.Read(memory.Bytes().data(), memory.Bytes().size()) == size) source = &memory;
  }
  const TChain chain = WalkChain(*source);
  const size_t n = std::min(pages.size(), targetFiles.size());
  for (size_t k = 0; k < n; ++k) {
    TMemoryStream target;
    if (!ExtractFromChain(*source, chain, target, pages[k])) return k;
    WriteBytesReplacing(targetFiles[k], target.Bytes());
  }
  return n;
}

bool IsTiffStream(TStream& stream) {
  const uint64_t position = stream.Position();
  bool result = false;
  uint8_t header[9];
  stream.Seek(0);
  if (stream.Size() > 8 && stream.Read(header, 9) == 9 &&
      ((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
    TTiffTagReader reader(stream, 0, header[0] == 'M');
    const uint32_t first = reader.U32(header + 4);
    TTiffDirectory dir;
    result = first < stream.Size() && !(header[0] == 'M' && header[8] == 0xBA) &&
             ReadTiffDirectory(reader, first, dir) && dir.Has(kTagImageWidth) &&
             dir.Has(kTagImageLength);
  }
  stream.Seek(position);
  return result;
}

bool IsTiffCameraRaw(TStream& stream) {
  const uint64_t position = stream.Position();
  bool result = false;
  TTiffDirectory dir;
  bool big = false;
  if (ReadFirstDirectory(stream, dir, &big)) {
    TTiffTagReader reader(stream, 0, big);
    const TTiffEntry* dng = dir.Find(kTagDngVersion);
    const TTiffEntry* photometric = dir.Find(kTagPhotometric);
    if (dng && dng->Type == ttByte && dng->Count == 4) result = true;
    if (photometric && photometric->Type == ttShort && photometric->Count == 1) {
      const uint32_t p = reader.U16(photometric->Field);
      if (p == 32803 || p == 34892) result = true;
    }
    if (dir.Has(kTagSubIfds) && dir.Has(kTagTiffEpStandardId) &&
        reader.Int(dir, kTagImageWidth, 0) < 200 && reader.Int(dir, kTagImageLength, 0) < 200)
      result = true;
  }
  stream.Seek(position);
  return result;
}

}  // namespace folivo
