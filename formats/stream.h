// Folivo — multi-page TIFF editor.
// Byte streams for readers and writers: memory and file, both seekable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace folivo {

// A seekable byte stream. Reads past the end return fewer bytes, never fail;
// writes that the medium refuses throw TFileError.
class TStream {
 public:
  virtual ~TStream() = default;
  // Copies up to count bytes to buffer; returns how many were read.
  virtual size_t Read(void* buffer, size_t count) = 0;
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual void Seek(uint64_t position) = 0;
  virtual uint64_t Position() const = 0;
  virtual uint64_t Size() const = 0;

  void WriteByte(uint8_t value) { Write(&value, 1); }
  // All Size() bytes when the stream lies in memory, so readers can work in
  // place; nullptr otherwise. Valid until the stream is written to.
  virtual const uint8_t* MemoryView() const { return nullptr; }
};

// Stream over a growable byte vector it owns.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  void Seek(uint64_t position) override { position_ = position; }
  uint64_t Position() const override { return position_; }
  uint64_t Size() const override { return bytes_.size(); }

  const uint8_t* MemoryView() const override { return bytes_.data(); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t position_ = 0;
};

// Stream over a read-only view of bytes owned elsewhere.
class TByteViewStream final : public TStream {
 public:
  TByteViewStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;  // throws: read-only
  void Seek(uint64_t position) override { position_ = position; }
  uint64_t Position() const override { return position_; }
  uint64_t Size() const override { return size_; }
  const uint8_t* MemoryView() const override { return data_; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t position_ = 0;
};

// Buffered stream over a file. Open modes: read, create (truncates), update.
class TFileStream final : public TStream {
 public:
  enum class TMode { Read, Create, Update };
  // Throws TFileError when the file cannot be opened.
  TFileStream(const std::string& path, TMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  void Seek(uint64_t position) override;
  uint64_t Position() const override;
  uint64_t Size() const override;
  // Flushes to the operating system and to the disk; throws TFileError on failure.
  void Commit();
  const std::string& Path() const { return path_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace folivo
