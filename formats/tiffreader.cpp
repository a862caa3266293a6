// Folivo — multi-page TIFF editor.
// TIFF 6.0 reading (sections 2 and 7 of the TIFF 6.0 document): header, IFD
// chain, tag values by type in both byte orders. Files in the wild break the
// rules: bytes 2..3 are not checked, chains point back into themselves, counts
// and offsets point past the end; every read here is checked against the
// stream's size and nothing is allocated for bytes the file does not hold.
#include "formats/tiffreader.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "formats/bitmap.h"
#include "formats/stream.h"
#include "formats/tiffdecode.h"

namespace folivo {

namespace {

// Texts longer than this are refused (files in the wild carry garbage counts).
constexpr uint32_t kMaxTextCount = 1048575;
constexpr int kMaxThumbnailSidePx = 400;
constexpr uint32_t kMaxMakerNoteEntries = 256;

enum : uint16_t {
  kTagImageWidth = 256,
  kTagImageLength = 257,
  kTagBitsPerSample = 258,
  kTagCompression = 259,
  kTagPhotometric = 262,
  kTagFillOrder = 266,
  kTagDocumentName = 269,
  kTagImageDescription = 270,
  kTagMake = 271,
  kTagModel = 272,
  kTagStripOffsets = 273,
  kTagOrientation = 274,
  kTagSamplesPerPixel = 277,
  kTagRowsPerStrip = 278,
  kTagStripByteCounts = 279,
  kTagXResolution = 282,
  kTagYResolution = 283,
  kTagPlanarConfig = 284,
  kTagPageName = 285,
  kTagXPosition = 286,
  kTagYPosition = 287,
  kTagT4Options = 292,
  kTagT6Options = 293,
  kTagResolutionUnit = 296,
  kTagPageNumber = 297,
  kTagTransferFunction = 301,
  kTagSoftware = 305,
  kTagDateTime = 306,
  kTagArtist = 315,
  kTagPredictor = 317,
  kTagWhitePoint = 318,
  kTagPrimaryChromaticities = 319,
  kTagColorMap = 320,
  kTagTileWidth = 322,
  kTagTileLength = 323,
  kTagTileOffsets = 324,
  kTagTileByteCounts = 325,
  kTagSubIfds = 330,
  kTagInkSet = 332,
  kTagNumberOfInks = 334,
  kTagDotRange = 336,
  kTagExtraSamples = 338,
  kTagJpegTables = 347,
  kTagJpegProc = 512,
  kTagJpegIf = 513,
  kTagJpegIfLength = 514,
  kTagJpegRestart = 515,
  kTagJpegLosslessPredictors = 517,
  kTagJpegPointTransforms = 518,
  kTagJpegQTables = 519,
  kTagJpegDCTables = 520,
  kTagJpegACTables = 521,
  kTagYCbCrCoefficients = 529,
  kTagYCbCrSubSampling = 530,
  kTagYCbCrPositioning = 531,
  kTagReferenceBlackWhite = 532,
  kTagXmp = 700,
  kTagAnnotations = 32932,
  kTagCopyright = 33432,
  kTagIptc = 33723,
  kTagIccProfile = 34675,
  kTagExifIfd = 34665,
  kTagGpsIfd = 34853,
  kTagMakerNote = 37500,
  kTagUserComment = 37510,
  kTagXPTitle = 40091,
  kTagXPComment = 40092,
  kTagXPAuthor = 40093,
  kTagXPKeywords = 40094,
  kTagXPSubject = 40095,
};

bool IsExifFieldCopied(uint16_t tag) {
  static constexpr uint16_t kSingles[] = {33434, 33437, 34850, 34855, 36864,          36867, 36868,
                                          37122, 37520, 37521, 37522, 40960,          40961, 40962,
                                          40963, 40964, 41486, 41487, 41488,          41493, 41495,
                                          41728, 41729, 41996, 42016, kTagUserComment};
  if (tag >= 37377 && tag <= 37386) return true;
  if (tag >= 41986 && tag <= 41994) return true;
  return std::find(std::begin(kSingles), std::end(kSingles), tag) != std::end(kSingles);
}

TTagValue ToTagValue(const TTiffTagReader& reader, const TTiffEntry& e) {
  TTagValue v;
  v.Tag = e.Tag;
  v.Type = e.Type;
  v.Count = e.Count;
  v.Bytes = reader.LittleEndianBytes(e);
  return v;
}

}  // namespace

int TiffTypeSize(uint16_t type) {
  static constexpr int kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type <= 12 ? kSizes[type] : 0;
}

const TTiffEntry* TTiffDirectory::Find(uint16_t tag) const {
  for (const TTiffEntry& e : Entries)
    if (e.Tag == tag) return &e;
  return nullptr;
}

TTiffTagReader::TTiffTagReader(TStream& stream, uint64_t baseOffset, bool bigEndian)
    : stream_(stream), base_(baseOffset), size_(stream.Size()), bigEndian_(bigEndian) {}

uint16_t TTiffTagReader::U16(const uint8_t* p) const {
  return bigEndian_ ? static_cast<uint16_t>(p[0] << 8 | p[1])
                    : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t TTiffTagReader::U32(const uint8_t* p) const {
  return bigEndian_ ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                    : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}

bool TTiffTagReader::ReadAt(uint64_t offset, void* buffer, size_t count) const {
  uint64_t at = base_ + offset;
  if (at > size_ || count > size_ - at) return false;
  stream_.Seek(at);
  return stream_.Read(buffer, count) == count;
}

uint32_t TTiffTagReader::Int(const TTiffDirectory& dir, uint16_t tag, uint32_t defaultValue) const {
  const TTiffEntry* e = dir.Find(tag);
  if (!e) return defaultValue;
  switch (e->Type) {
    case ttByte:
      return e->Field[0];
    case ttShort:
      return U16(e->Field);
    default:
      return U32(e->Field);
  }
}

uint32_t TTiffTagReader::Element(const TTiffEntry& e, uint32_t i) const {
  int size = TiffTypeSize(e.Type);
  if ((e.Type != ttByte && e.Type != ttShort && e.Type != ttLong) || i >= e.Count) return 0;
  uint8_t buf[4] = {0, 0, 0, 0};
  if (uint64_t{e.Count} * size <= 4) {
    std::memcpy(buf, e.Field + i * size, size);
  } else if (!ReadAt(uint64_t{U32(e.Field)} + uint64_t{i} * size, buf, size)) {
    return 0;
  }
  return size == 1 ? buf[0] : size == 2 ? U16(buf) : U32(buf);
}

std::vector<uint32_t> TTiffTagReader::Array(const TTiffEntry& e) const {
  std::vector<uint32_t> out;
  if (e.Type != ttByte && e.Type != ttShort && e.Type != ttLong) return out;
  const int size = TiffTypeSize(e.Type);
  std::vector<uint8_t> raw = RawBytes(e, UINT64_MAX);
  const size_t n = raw.size() / size;
  out.resize(n);
  const uint8_t* p = raw.data();
  if (size == 1) {
    for (size_t i = 0; i < n; ++i) out[i] = p[i];
  } else if (size == 2) {
    for (size_t i = 0; i < n; ++i) out[i] = U16(p + 2 * i);
  } else {
    for (size_t i = 0; i < n; ++i) out[i] = U32(p + 4 * i);
  }
  return out;
}

std::vector<uint8_t> TTiffTagReader::RawBytes(const TTiffEntry& e, uint64_t maxBytes) const {
  std::vector<uint8_t> out;
  const int size = TiffTypeSize(e.Type);
  const uint64_t total = uint64_t{e.Count} * (size ? size : 1);
  if (total <= 4) {
    out.assign(e.Field, e.Field + total);
    return out;
  }
  const uint64_t at = base_ + U32(e.Field);
  if (at >= size_) return out;
  uint64_t n = std::min({total, size_ - at, maxBytes});
  if (size > 1) n -= n % size;
  if (n == 0) return out;
  out.resize(n);
  stream_.Seek(at);
  out.resize(stream_.Read(out.data(), n));
  return out;
}

std::vector<uint8_t> TTiffTagReader::LittleEndianBytes(const TTiffEntry& e) const {
  std::vector<uint8_t> out = RawBytes(e);
  if (!bigEndian_) return out;
  int unit = TiffTypeSize(e.Type);
  if (e.Type == ttRational || e.Type == ttSRational) unit = 4;  // two LONGs each
  if (unit <= 1) return out;
  for (size_t i = 0; i + unit <= out.size(); i += unit) std::reverse(&out[i], &out[i] + unit);
  return out;
}

double TTiffTagReader::Rational(const TTiffEntry& e, uint32_t i) const {
  if (i >= e.Count) return 0.0;
  uint8_t buf[8];
  if (!ReadAt(uint64_t{U32(e.Field)} + uint64_t{i} * 8, buf, 8)) return 0.0;
  auto num = static_cast<int32_t>(U32(buf));
  auto den = static_cast<int32_t>(U32(buf + 4));
  if (den == 0) den = 1;
  return static_cast<double>(num) / static_cast<double>(den);
}

double TTiffTagReader::Rational(const TTiffDirectory& dir, uint16_t tag, uint32_t i) const {
  const TTiffEntry* e = dir.Find(tag);
  return e ? Rational(*e, i) : 0.0;
}

std::string TTiffTagReader::Ascii(const TTiffEntry& e) const {
  if (e.Count > kMaxTextCount) return {};
  std::string s;
  if (e.Count <= 4) {
    s.assign(reinterpret_cast<const char*>(e.Field), e.Count);
  } else {
    std::vector<uint8_t> raw = RawBytes(e);
    s.assign(raw.begin(), raw.end());
  }
  // A short text stored in the entry carries its NUL too (TIFF requires one).
  if (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::string TTiffTagReader::Ascii(const TTiffDirectory& dir, uint16_t tag) const {
  const TTiffEntry* e = dir.Find(tag);
  return e ? Ascii(*e) : std::string();
}

bool TTiffTagReader::WideText(const TTiffEntry& e, std::u16string& text) const {
  if (e.Count > kMaxTextCount) return false;
  std::vector<uint8_t> raw;
  if (e.Count <= 4) {
    raw.assign(e.Field, e.Field + e.Count);
  } else {
    raw.resize(e.Count);
    if (!ReadAt(U32(e.Field), raw.data(), raw.size())) return false;
  }
  text.resize(raw.size() / 2);
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
  // Windows stores the terminator in the count.
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return true;
}

bool ReadTiffDirectory(const TTiffTagReader& reader, uint32_t offset, TTiffDirectory& dir) {
  dir.Entries.clear();
  uint8_t buf[2];
  if (!reader.ReadAt(offset, buf, 2)) return false;
  const uint16_t count = reader.U16(buf);
  if (count == 0) return false;
  const uint64_t start = reader.Base() + uint64_t{offset} + 2;
  // A truncated IFD keeps the whole entries that exist.
  const uint64_t have = start < reader.StreamSize() ? reader.StreamSize() - start : 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(count, have / 12));
  if (n == 0) return true;
  std::vector<uint8_t> raw(n * 12);
  TStream& s = reader.Stream();
  s.Seek(start);
  const size_t got = s.Read(raw.data(), raw.size()) / 12;
  dir.Entries.resize(got);
  for (size_t i = 0; i < got; ++i) {
    const uint8_t* p = &raw[i * 12];
    TTiffEntry& e = dir.Entries[i];
    e.Tag = reader.U16(p);
    e.Type = reader.U16(p + 2);
    e.Count = reader.U32(p + 4);
    std::memcpy(e.Field, p + 8, 4);
  }
  return true;
}

int WalkTiffChain(const TTiffTagReader& reader, uint32_t firstOffset, int wantedIndex,
                  TTiffDirectory* wanted, bool* loaded) {
  if (loaded) *loaded = false;
  int counted = 0;
  uint32_t offset = firstOffset;
  std::unordered_set<uint32_t> visited;
  const uint64_t size = reader.StreamSize();
  while (offset != 0) {
    if (!visited.insert(offset).second) break;
    uint8_t buf[4];
    if (!reader.ReadAt(offset, buf, 2)) break;
    const uint16_t count = reader.U16(buf);
    if (count == 0) break;
    if (counted == wantedIndex && wanted) {
      ReadTiffDirectory(reader, offset, *wanted);
      if (loaded) *loaded = true;
    }
    const uint64_t next = reader.Base() + uint64_t{offset} + 2 + uint64_t{count} * 12;
    if (next >= size) break;
    uint32_t nextOffset = 0;
    if (reader.ReadAt(next - reader.Base(), buf, 4)) nextOffset = reader.U32(buf);
    if (nextOffset == offset || static_cast<int32_t>(nextOffset) < 0 || nextOffset < 8 ||
        reader.Base() + nextOffset >= size)
      nextOffset = 0;
    ++counted;
    offset = nextOffset;
  }
  return counted;
}

TPagePixelFormat TiffPixelFormat(const TTIFFVars& v) {
  const uint32_t b = v.BitsPerSample, s = v.SamplesPerPixel, p = v.Photometric;
  if (b == 1 && s == 1 && p != 3) return ie1g;
  if (!v.NativePixelFormat) return ie24RGB;
  if (b == 8 && s == 1 && p == 3) return ie8p;
  if (b == 8 && s == 1 && (p == 0 || p == 1)) return ie8g;
  if (b == 16 && s == 1 && (p == 0 || p == 1)) return ie16g;
  if (b == 8 && s >= 4 && p == 5) return ieCMYK;
  if (b == 16 && s == 4 && p == 5) return ieCMYK;
  if (b == 16 && s == 3 && p == 2) return ieRGB48;
  return ie24RGB;
}

namespace {

void ReadColorMap(const TTiffTagReader& r, const TTiffDirectory& dir, TTIFFVars& v) {
  v.ColorMap.clear();
  const TTiffEntry* e = dir.Find(kTagColorMap);
  if (!e || v.BitsPerSample > 16 || e->Type != ttShort) return;
  const uint32_t entries = 1u << v.BitsPerSample;
  std::vector<uint32_t> values = r.Array(*e);
  if (values.size() < 3ull * entries) return;
  const uint32_t largest = *std::max_element(values.begin(), values.begin() + 3 * entries);
  const int shift = largest < 256 ? 0 : 8;
  v.ColorMap.resize(entries);
  for (uint32_t k = 0; k < entries; ++k) {
    v.ColorMap[k].red = static_cast<uint8_t>(values[k] >> shift);
    v.ColorMap[k].green = static_cast<uint8_t>(values[entries + k] >> shift);
    v.ColorMap[k].blue = static_cast<uint8_t>(values[2 * entries + k] >> shift);
  }
}

void CopyMetadata(const TTiffTagReader& r, const TTiffDirectory& page, const TTiffDirectory* exif,
                  const TTiffDirectory* gps, TPageMetadata& md) {
  if (const TTiffEntry* e = page.Find(kTagIptc)) md.Iptc = r.RawBytes(*e);
  if (const TTiffEntry* e = page.Find(kTagXmp);
      e && (e->Type == ttByte || e->Type == ttUndefined)) {
    std::vector<uint8_t> raw = r.RawBytes(*e);
    md.Xmp.assign(raw.begin(), raw.end());
  }
  if (const TTiffEntry* e = page.Find(kTagAnnotations)) md.Annotations = r.RawBytes(*e);
  if (const TTiffEntry* e = page.Find(kTagIccProfile)) md.IccProfile = r.RawBytes(*e);
  md.Make = r.Ascii(page, kTagMake);
  md.Model = r.Ascii(page, kTagModel);
  md.DateTime = r.Ascii(page, kTagDateTime);
  md.Software = r.Ascii(page, kTagSoftware);
  md.Artist = r.Ascii(page, kTagArtist);
  md.Copyright = r.Ascii(page, kTagCopyright);
  for (uint16_t tag : {kTagWhitePoint, kTagPrimaryChromaticities, kTagYCbCrCoefficients,
                       kTagYCbCrPositioning, kTagReferenceBlackWhite})
    if (const TTiffEntry* e = page.Find(tag)) md.PageTags.push_back(ToTagValue(r, *e));
  std::u16string* xp[] = {&md.XPTitle, &md.XPComment, &md.XPAuthor, &md.XPKeywords, &md.XPSubject};
  for (int i = 0; i < 5; ++i)
    if (const TTiffEntry* e = page.Find(static_cast<uint16_t>(kTagXPTitle + i)))
      r.WideText(*e, *xp[i]);

  if (exif) {
    for (const TTiffEntry& e : exif->Entries) {
      if (e.Tag == kTagMakerNote) {
        TTiffDirectory note;
        if (uint64_t{e.Count} > 4 && ReadTiffDirectory(r, r.FieldLong(e), note)) {
          if (note.Entries.size() > kMaxMakerNoteEntries) note.Entries.resize(kMaxMakerNoteEntries);
          for (const TTiffEntry& n : note.Entries) md.MakerNoteTags.push_back(ToTagValue(r, n));
        }
        continue;
      }
      if (!IsExifFieldCopied(e.Tag)) continue;
      TTagValue v = ToTagValue(r, e);
      if (e.Tag == kTagUserComment) {
        const size_t k = std::min<size_t>(8, v.Bytes.size());
        md.UserCommentPrefix.assign(v.Bytes.begin(), v.Bytes.begin() + k);
        v.Bytes.erase(v.Bytes.begin(), v.Bytes.begin() + k);
      }
      md.ExifTags.push_back(std::move(v));
    }
  }
  if (gps) {
    for (const TTiffEntry& e : gps->Entries)
      if (e.Tag <= 26 || e.Tag == 29) md.GpsTags.push_back(ToTagValue(r, e));
  }
}

void ReadVars(const TTiffTagReader& r, const TTiffDirectory& d, TTIFFVars& v) {
  v.ImageWidth = r.Int(d, kTagImageWidth, 0);
  v.ImageLength = r.Int(d, kTagImageLength, 0);
  v.SamplesPerPixel = r.Int(d, kTagSamplesPerPixel, 1);
  v.RowsPerStrip = r.Int(d, kTagRowsPerStrip, v.ImageLength);
  if (v.RowsPerStrip == 0xFFFFFFFFu || v.RowsPerStrip == 0) v.RowsPerStrip = v.ImageLength;
  v.HasTileTags = d.Has(kTagTileWidth) || d.Has(kTagTileLength);
  v.TileWidth = r.Int(d, kTagTileWidth, 0);
  v.TileLength = r.Int(d, kTagTileLength, 0);
  v.Photometric = r.Int(d, kTagPhotometric, 2);
  v.PlanarConfig = r.Int(d, kTagPlanarConfig, 1);
  v.Orientation = r.Int(d, kTagOrientation, 1);
  v.Compression = r.Int(d, kTagCompression, 1);
  v.Predictor = r.Int(d, kTagPredictor, 1);
  v.ResolutionUnit = r.Int(d, kTagResolutionUnit, 2);
  v.XResolution = r.Rational(d, kTagXResolution);
  v.YResolution = r.Rational(d, kTagYResolution);
  v.T4Options = r.Int(d, kTagT4Options, 0);
  v.T6Options = r.Int(d, kTagT6Options, 0);
  v.FillOrder = r.Int(d, kTagFillOrder, 1);
  v.XPosition = r.Rational(d, kTagXPosition);
  v.YPosition = r.Rational(d, kTagYPosition);
  v.DocumentName = r.Ascii(d, kTagDocumentName);
  v.ImageDescription = r.Ascii(d, kTagImageDescription);
  v.PageName = r.Ascii(d, kTagPageName);
  v.Software = r.Ascii(d, kTagSoftware);
  v.Artist = r.Ascii(d, kTagArtist);
  if (const TTiffEntry* e = d.Find(kTagPageNumber)) {
    v.HasPageNumber = true;
    v.PageNumber[0] = r.Element(*e, 0);
    v.PageNumber[1] = r.Element(*e, 1);
  }
  v.InkSet = r.Int(d, kTagInkSet, 1);
  v.NumberOfInks = r.Int(d, kTagNumberOfInks, 4);
  if (const TTiffEntry* e = d.Find(kTagDotRange))
    for (uint32_t i = 0; i < 8; ++i) v.DotRange[i] = r.Element(*e, i);
  v.JpegProc = r.Int(d, kTagJpegProc, 0);
  v.JpegIfOffset = r.Int(d, kTagJpegIf, 0);
  v.JpegIfByteCount = r.Int(d, kTagJpegIfLength, 0);
  v.JpegRestartInterval = r.Int(d, kTagJpegRestart, 0);
  v.JpegLosslessPredictors = r.Int(d, kTagJpegLosslessPredictors, 0);
  v.JpegPointTransforms = r.Int(d, kTagJpegPointTransforms, 0);
  if (const TTiffEntry* e = d.Find(kTagJpegQTables)) v.JpegQTables = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagJpegDCTables)) v.JpegDCTables = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagJpegACTables)) v.JpegACTables = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagExtraSamples)) v.ExtraSamples = r.Element(*e, 0);
  if (const TTiffEntry* e = d.Find(kTagYCbCrSubSampling)) {
    for (uint32_t i = 0; i < 2; ++i) {
      v.YCbCrSubSampling[i] = r.Element(*e, i);
      if (v.YCbCrSubSampling[i] == 0) v.YCbCrSubSampling[i] = 2;
    }
  }
  if (const TTiffEntry* e = d.Find(kTagStripOffsets)) v.StripOffsets = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagStripByteCounts)) v.StripByteCounts = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagTileOffsets)) v.TileOffsets = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagTileByteCounts)) v.TileByteCounts = r.Array(*e);
  if (const TTiffEntry* e = d.Find(kTagJpegTables)) v.JpegTables = r.RawBytes(*e);
  ReadColorMap(r, d, v);
  if (const TTiffEntry* e = d.Find(kTagTransferFunction)) {
    std::vector<uint32_t> tf = r.Array(*e);
    v.TransferFunction.assign(tf.begin(), tf.end());
  }
}

}  // namespace

void ReadTiffStream(TIEBitmap* bitmap, TStream& stream, int& pageCount, bool thumbnail,
                    bool ignoreAlpha, bool relativeToPosition,
                    std::unique_ptr<TIEBitmap>* alphaMask, bool paramsOnly, TIOProgress& progress,
                    TIOParamsVals* params) {
  pageCount = 0;
  const uint64_t base = relativeToPosition ? stream.Position() : 0;
  uint8_t header[8];
  stream.Seek(base);
  if (stream.Read(header, 8) != 8 ||
      !((header[0] == 'I' && header[1] == 'I') || (header[0] == 'M' && header[1] == 'M'))) {
    progress.Abort();
    return;
  }
  TTiffTagReader reader(stream, base, header[0] == 'M');
  const uint32_t first = reader.U32(header + 4);
  if (first == 0) return;

  const int wanted = params ? params->ImageIndex() : -1;
  TTiffDirectory page;
  bool found = false;
  pageCount = WalkTiffChain(reader, first, wanted, &page, &found);
  if (!params) return;
  if (!found) return;

  if (params->TiffSubIndex >= 0) {
    if (const TTiffEntry* e = page.Find(kTagSubIfds)) {
      const uint32_t sub = reader.Element(*e, static_cast<uint32_t>(params->TiffSubIndex));
      TTiffDirectory subDir;
      bool subFound = false;
      if (sub != 0) WalkTiffChain(reader, sub, 0, &subDir, &subFound);
      if (subFound) page = std::move(subDir);
    }
  }

  params->ResetForRead();
  TTiffDirectory exif, gps;
  bool hasExif = false, hasGps = false;
  if (const TTiffEntry* e = page.Find(kTagExifIfd)) {
    ReadTiffDirectory(reader, reader.FieldLong(*e), exif);
    hasExif = true;
    params->HasExifData = true;
  }
  if (const TTiffEntry* e = page.Find(kTagGpsIfd)) {
    ReadTiffDirectory(reader, reader.FieldLong(*e), gps);
    hasGps = true;
  }

  TTIFFVars v;
  if (const TTiffEntry* e = page.Find(kTagBitsPerSample)) {
    v.BitsPerSample = reader.Element(*e, 0);
    if (e->Type == ttLong && e->Count == 1) v.BitsPerSample = reader.FieldLong(*e);
    const uint32_t n = std::min<uint32_t>(e->Count, 64);
    for (uint32_t i = 1; i < n; ++i) {
      if (reader.Element(*e, i) != v.BitsPerSample) {
        progress.Abort();
        return;
      }
    }
  }
  ReadVars(reader, page, v);
  if (v.SamplesPerPixel == 1 && v.BitsPerSample == 1 && v.Compression >= 1 && v.Compression <= 4 &&
      v.Photometric == 2)
    v.Photometric = 0;

  CopyMetadata(reader, page, hasExif ? &exif : nullptr, hasGps ? &gps : nullptr, params->Metadata);

  params->BitsPerSample = static_cast<int>(v.BitsPerSample);
  params->SamplesPerPixel = static_cast<int>(v.SamplesPerPixel);
  params->Width = static_cast<int>(std::min<uint32_t>(v.ImageWidth, INT32_MAX));
  params->Height = static_cast<int>(std::min<uint32_t>(v.ImageLength, INT32_MAX));
  params->TiffLittleEndian = !reader.BigEndian();
  params->SetImageCount(pageCount);
  params->Orientation = static_cast<int>(v.Orientation);
  params->TiffCompression = TiffCompressionFromTag(static_cast<int>(v.Compression), v.T4Options);
  TTiffPhotometric photometric;
  if (TiffPhotometricFromTag(static_cast<int>(v.Photometric), photometric))
    params->TiffPhotometric = photometric;
  params->TiffPlanarConfig = static_cast<int>(v.PlanarConfig);
  params->TiffDocumentName = v.DocumentName;
  params->TiffImageDescription = v.ImageDescription;
  params->TiffPageName = v.PageName;
  params->TiffPageNumber = v.HasPageNumber ? static_cast<int>(v.PageNumber[0]) : 0;
  params->TiffPageCount = v.HasPageNumber ? static_cast<int>(v.PageNumber[1]) : 0;
  params->TiffFillOrder = static_cast<int>(v.FillOrder);
  params->ColorMap = v.ColorMap;

  const double f = v.ResolutionUnit == 3 ? 2.54 : 1.0;
  params->SetExactDpiX(v.XResolution * f);
  params->SetExactDpiY(v.YResolution * f);
  if (params->DpiX() == 0) params->SetDpiX(300);
  if (params->DpiY() == 0) params->SetDpiY(300);
  params->TiffXPos = static_cast<int>(v.XPosition * f);
  params->TiffYPos = static_cast<int>(v.YPosition * f);

  if ((v.ImageWidth == 0 || v.ImageLength == 0) && !thumbnail) {
    progress.Abort();
    return;
  }
  v.Lzw = params->EffectiveLzwDecompressor();
  if (v.Compression == 5 && !v.Lzw) {
    progress.Abort();
    return;
  }
  if (paramsOnly) return;
  if (!bitmap) {
    progress.Abort();
    return;
  }

  // Sizes the tags claim must be backed by the file before anything is allocated.
  if (v.ImageWidth > INT32_MAX || v.ImageLength > INT32_MAX) {
    progress.Abort();
    return;
  }

  v.Stream = &stream;
  v.Base = base;
  v.StreamSize = reader.StreamSize();
  v.BigEndian = reader.BigEndian();
  v.NativePixelFormat = params->NativePixelFormat;
  v.IgnoreAlpha = ignoreAlpha;

  const bool carriesAlpha = (v.SamplesPerPixel == 4 && v.ExtraSamples == 2) ||
                            (v.SamplesPerPixel == 2 && v.BitsPerSample == 8) ||
                            (v.SamplesPerPixel == 4 && v.Photometric == 2);
  if (!ignoreAlpha && alphaMask) {
    if (!*alphaMask && carriesAlpha && v.ImageWidth > 0 && v.ImageLength > 0 &&
        TiffPageDataSuffices(v, PixelFormatBitCount(ie8g)))
      *alphaMask = std::make_unique<TIEBitmap>();
    if (*alphaMask) {
      if (!TiffPageDataSuffices(v, PixelFormatBitCount(ie8g))) {
        progress.Abort();
        return;
      }
      (*alphaMask)->Allocate(static_cast<int>(v.ImageWidth), static_cast<int>(v.ImageLength), ie8g);
      (*alphaMask)->Fill(255);
      v.AlphaMask = alphaMask->get();
    }
  }

  if (thumbnail && (v.ImageWidth > kMaxThumbnailSidePx || v.ImageLength > kMaxThumbnailSidePx)) {
    progress.Abort();
    return;
  }

  if ((v.Compression == 6 || v.JpegIfOffset != 0) && v.JpegProc <= 1) {
    DecodeOldJpeg(v, *bitmap, progress);
  } else {
    if (v.ImageWidth == 0 || v.ImageLength == 0) {
      progress.Abort();
      return;
    }
    const TPagePixelFormat format = TiffPixelFormat(v);
    if (!TiffPageDataSuffices(v, PixelFormatBitCount(format))) {
      progress.Abort();
      return;
    }
    bitmap->Allocate(static_cast<int>(v.ImageWidth), static_cast<int>(v.ImageLength), format);
    // Rows the data does not reach are cleared by the decoder.
    if (thumbnail) bitmap->Fill(0);
    if (format == ie8p) {
      bitmap->SetPaletteLength(256);
      for (size_t k = 0; k < v.ColorMap.size() && k < 256; ++k)
        bitmap->SetPaletteColor(static_cast<int>(k), v.ColorMap[k]);
    }
    if (v.HasTileTags) {
      if (v.TileOffsets.empty() && !v.StripOffsets.empty()) {
        v.TileOffsets = v.StripOffsets;
        v.TileByteCounts = v.StripByteCounts;
      }
      DecodeTiffTiles(v, *bitmap, progress);
    } else if (!v.StripOffsets.empty()) {
      DecodeTiffStrips(v, *bitmap, progress);
    }
  }
  // Orientation is applied by the geometry operations, which are not part of
  // the core's reading path; AdjustOrientation stays false in every caller.
}

}  // namespace folivo
