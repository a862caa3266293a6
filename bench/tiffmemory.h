// Folivo — multi-page TIFF editor.
// A TIFF file held in memory, opened by libtiff through its client I/O, so
// that benchmarks time the codecs and not the disk.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace folivo::bench {

struct TMemoryFile {
  std::vector<uint8_t> bytes;
  uint64_t position = 0;
};

inline tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  const uint64_t n =
      std::min<uint64_t>(size, f->position < f->bytes.size() ? f->bytes.size() - f->position : 0);
  std::memcpy(buffer, f->bytes.data() + f->position, n);
  f->position += n;
  return static_cast<tmsize_t>(n);
}

inline tmsize_t MemWrite(thandle_t h, void* buffer, tmsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (f->position + size > f->bytes.size()) f->bytes.resize(f->position + size);
  std::memcpy(f->bytes.data() + f->position, buffer, size);
  f->position += size;
  return size;
}

inline toff_t MemSeek(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (whence == SEEK_SET) f->position = offset;
  if (whence == SEEK_CUR) f->position += offset;
  if (whence == SEEK_END) f->position = f->bytes.size() + offset;
  return f->position;
}

inline int MemClose(thandle_t) {
  return 0;
}
inline toff_t MemSize(thandle_t h) {
  return static_cast<TMemoryFile*>(h)->bytes.size();
}
inline int MemMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<TMemoryFile*>(h);
  *base = f->bytes.data();
  *size = f->bytes.size();
  return 1;
}
inline void MemUnmap(thandle_t, void*, toff_t) {}

inline TIFF* OpenMemory(TMemoryFile& file, const char* mode) {
  file.position = 0;
  return TIFFClientOpen("memory", mode, &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                        MemMap, MemUnmap);
}

}  // namespace folivo::bench
