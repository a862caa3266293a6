// Folivo — multi-page TIFF editor.
#include "platform/imageio.h"

#include <openjpeg.h>

#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <memory>

#include "formats/bitmap.h"
#include "formats/pagelist.h"
#include "formats/pcx.h"
#include "formats/stream.h"
#include "formats/tiffpages.h"
#include "platform/qtbitmap.h"

namespace folivo {

namespace {

constexpr int kDefaultDpi = 300;
// Decoded images beyond this are refused before any pixel is allocated.
constexpr int64_t kMaxPixels = int64_t(1) << 28;  // 268 Mpx
constexpr int kMaxSide = 65535;                   // pixels

QString Suffix(const QString& fileName) {
  return QFileInfo(fileName).suffix().toLower();
}

bool IsRawSuffix(const QString& s) {
  static const QStringList raw = {"crw", "cr2", "nef", "raw", "pef", "raf", "x3f",
                                  "bay", "orf", "srf", "mrw", "dcr", "sr2"};
  return raw.contains(s);
}

std::string Path(const QString& fileName) {
  return fileName.toStdString();
}

void RequireReadable(const QString& fileName) {
  QFileInfo info(fileName);
  if (!info.exists() || !info.isFile() || !info.isReadable())
    throw TFileError("无法打开文件：" + Path(fileName), Path(fileName));
}

[[noreturn]] void Unsupported(const QString& fileName) {
  throw TImageFormatError("无法识别的图像文件格式：" + Path(fileName));
}

// JPEG 2000 by content: the JP2 signature box or a code stream's SOC + SIZ.
bool LooksLikeJpeg2000(const QString& fileName, OPJ_CODEC_FORMAT& codec) {
  TFileStream s(Path(fileName), TFileStream::TMode::Read);
  uint8_t b[12] = {};
  size_t n = s.Read(b, sizeof b);
  static const uint8_t jp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (n == 12 && std::equal(b, b + 12, jp2)) {
    codec = OPJ_CODEC_JP2;
    return true;
  }
  if (n >= 4 && b[0] == 0xFF && b[1] == 0x4F && b[2] == 0xFF && b[3] == 0x51) {
    codec = OPJ_CODEC_J2K;
    return true;
  }
  return false;
}

enum class TReader { None, Tiff, Jpeg2000, Pcx, Dcx, Qt };

TReader ChooseReader(const QString& fileName, OPJ_CODEC_FORMAT& codec) {
  RequireReadable(fileName);
  if (LooksLikeJpeg2000(fileName, codec)) return TReader::Jpeg2000;
  {
    TFileStream s(Path(fileName), TFileStream::TMode::Read);
    if (!DcxPageOffsets(s).empty()) return TReader::Dcx;
    s.Seek(0);
    if (Suffix(fileName) == "pcx" && IsPcxStream(s)) return TReader::Pcx;
    s.Seek(0);
    // Camera raw files are TIFF-structured; without a raw decoder they are refused.
    if (IsTiffStream(s)) return IsTiffCameraRaw(s) ? TReader::None : TReader::Tiff;
  }
  if (IsRawSuffix(Suffix(fileName))) return TReader::None;
  QImageReader reader(fileName);
  reader.setDecideFormatFromContent(true);
  // TIFF is ours alone: Qt's TIFF plugin is another library's reader.
  if (reader.canRead() && reader.format() != "tiff") return TReader::Qt;
  TFileStream s(Path(fileName), TFileStream::TMode::Read);
  if (IsPcxStream(s)) return TReader::Pcx;
  return TReader::None;
}

int Scale(int v, int prec) {
  if (prec == 8) return std::clamp(v, 0, 255);
  if (prec > 8) return std::clamp(v >> (prec - 8), 0, 255);
  return std::clamp(v * 255 / ((1 << prec) - 1), 0, 255);
}

}  // namespace

bool IsTiffFileName(const QString& fileName) {
  static const QStringList tiff = {"tif", "tiff", "fax", "g3f", "g3n", "xif"};
  return tiff.contains(Suffix(fileName));
}

void DescribeBitmap(const TIEBitmap& bitmap, TIOParamsVals& params) {
  params.Width = bitmap.Width();
  params.Height = bitmap.Height();
  switch (bitmap.PixelFormat()) {
    case ie1g:
      params.BitsPerSample = 1;
      params.SamplesPerPixel = 1;
      break;
    case ie8g:
    case ie8p:
      params.BitsPerSample = 8;
      params.SamplesPerPixel = 1;
      break;
    case ie16g:
      params.BitsPerSample = 16;
      params.SamplesPerPixel = 1;
      break;
    default:
      params.BitsPerSample = 8;
      params.SamplesPerPixel = bitmap.HasAlphaChannel() ? 4 : 3;
  }
}

bool ReadJpeg2000File(const std::string& fileName, TIEBitmap& bitmap) {
  bitmap.FreeImage();
  OPJ_CODEC_FORMAT format = OPJ_CODEC_J2K;
  {
    TFileStream s(fileName, TFileStream::TMode::Read);
    uint8_t b[4] = {};
    if (s.Read(b, 4) == 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 12)
      format = OPJ_CODEC_JP2;
  }
  std::unique_ptr<opj_stream_t, decltype(&opj_stream_destroy)> stream(
      opj_stream_create_default_file_stream(fileName.c_str(), OPJ_TRUE), &opj_stream_destroy);
  if (!stream) throw TFileError("无法打开文件：" + fileName, fileName);
  std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(opj_create_decompress(format),
                                                                   &opj_destroy_codec);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!codec || !opj_setup_decoder(codec.get(), &parameters)) return false;
  opj_image_t* raw = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &raw) || !raw) return false;
  std::unique_ptr<opj_image_t, decltype(&opj_image_destroy)> image(raw, &opj_image_destroy);
  const int64_t w = int64_t(image->x1) - image->x0, h = int64_t(image->y1) - image->y0;
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels || image->numcomps < 1)
    return false;
  if (!opj_decode(codec.get(), stream.get(), image.get()) ||
      !opj_end_decompress(codec.get(), stream.get()))
    return false;
  const int comps = image->numcomps >= 3 ? 3 : 1;
  for (int c = 0; c < comps; ++c) {
    const opj_image_comp_t& comp = image->comps[c];
    if (!comp.data || comp.dx == 0 || comp.dy == 0 || comp.prec < 1 || comp.prec > 31) return false;
  }
  bitmap.Allocate(static_cast<int>(w), static_cast<int>(h), comps == 3 ? ie24RGB : ie8g);
  TIEBitmap* alpha = image->numcomps >= 4 && image->comps[3].data ? bitmap.AlphaChannel() : nullptr;
  auto sample = [&](int c, int x, int y) {
    const opj_image_comp_t& comp = image->comps[c];
    // Subsampled components are read at their own grid.
    int cx = std::min<int>(x / comp.dx, comp.w - 1), cy = std::min<int>(y / comp.dy, comp.h - 1);
    if (cx < 0 || cy < 0) return 0;
    int v = comp.data[int64_t(cy) * comp.w + cx];
    if (comp.sgnd) v += 1 << (comp.prec - 1);
    return Scale(v, comp.prec);
  };
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bitmap.GetScanline(y);
    for (int x = 0; x < w; ++x) {
      if (comps == 3) {
        row[3 * x] = static_cast<uint8_t>(sample(2, x, y));
        row[3 * x + 1] = static_cast<uint8_t>(sample(1, x, y));
        row[3 * x + 2] = static_cast<uint8_t>(sample(0, x, y));
      } else {
        row[x] = static_cast<uint8_t>(sample(0, x, y));
      }
    }
    if (alpha) {
      uint8_t* a = alpha->GetScanline(y);
      for (int x = 0; x < w; ++x) a[x] = static_cast<uint8_t>(sample(3, x, y));
    }
  }
  return true;
}

int CountImageFilePages(const QString& fileName) {
  try {
    OPJ_CODEC_FORMAT codec;
    switch (ChooseReader(fileName, codec)) {
      case TReader::None:
        return 0;
      case TReader::Tiff:
        return CountTiffPages(Path(fileName));
      case TReader::Dcx: {
        TFileStream s(Path(fileName), TFileStream::TMode::Read);
        return static_cast<int>(DcxPageOffsets(s).size());
      }
      case TReader::Qt: {
        QImageReader reader(fileName);
        reader.setDecideFormatFromContent(true);
        return std::max(1, reader.imageCount());
      }
      default:
        return 1;
    }
  } catch (const FolivoError&) {
    return 0;
  }
}

int LoadImageFilePages(TPageList& pages, const QString& fileName, TIOProgress& progress) {
  progress.AbortingFlag() = false;
  OPJ_CODEC_FORMAT codec;
  const TReader kind = ChooseReader(fileName, codec);
  if (kind == TReader::None) Unsupported(fileName);
  if (kind == TReader::Tiff) return LoadTiffPages(pages, Path(fileName), progress);

  int at = pages.CurrentPage() >= 0 ? pages.CurrentPage() : pages.PageCount();
  int inserted = 0;
  // Decodes into a scratch bitmap first so that a failing frame leaves no entry.
  auto add = [&](TIEBitmap& bitmap, const TIOParamsVals* described, int dpiX, int dpiY) {
    TPageEntry& entry = pages.Insert(at + inserted);
    entry.Bitmap.Assign(bitmap);
    if (described) {
      entry.Params.Width = described->Width;
      entry.Params.Height = described->Height;
      entry.Params.BitsPerSample = described->BitsPerSample;
      entry.Params.SamplesPerPixel = described->SamplesPerPixel;
    } else {
      DescribeBitmap(entry.Bitmap, entry.Params);
    }
    entry.Params.SetDpiX(dpiX > 1 ? dpiX : kDefaultDpi);
    entry.Params.SetDpiY(dpiY > 1 ? dpiY : kDefaultDpi);
    entry.Params.SetImageIndex(at + inserted);
    pages.NotifyChanged(at + inserted);
    ++inserted;
  };

  switch (kind) {
    case TReader::Jpeg2000: {
      TIEBitmap bitmap;
      if (!ReadJpeg2000File(Path(fileName), bitmap)) {
        progress.Abort();
        return 0;
      }
      add(bitmap, nullptr, 0, 0);
      break;
    }
    case TReader::Pcx:
    case TReader::Dcx: {
      TFileStream s(Path(fileName), TFileStream::TMode::Read);
      std::vector<uint32_t> offsets =
          kind == TReader::Dcx ? DcxPageOffsets(s) : std::vector<uint32_t>{0};
      for (size_t i = 0; i < offsets.size(); ++i) {
        s.Seek(offsets[i]);
        TIEBitmap bitmap;
        TIOParamsVals params;
        ReadPcxStream(s, bitmap, &params, progress);
        if (progress.Aborting()) break;
        add(bitmap, &params, params.DpiX(), params.DpiY());
        if (progress.OnProgress)
          progress.OnProgress(progress.Sender, static_cast<int>((i + 1) * 100 / offsets.size()));
      }
      break;
    }
    case TReader::Qt: {
      QImageReader reader(fileName);
      reader.setDecideFormatFromContent(true);
      const int count = std::max(1, reader.imageCount());
      for (int i = 0; i < count; ++i) {
        // Handlers differ: some advance on read (GIF), some only on a jump (ICO).
        if (i > 0) reader.jumpToNextImage();
        QImage image = reader.read();
        if (image.isNull()) {
          // Some readers report no count and simply run out of frames.
          if (i == 0) progress.Abort();
          break;
        }
        TIEBitmap bitmap;
        QImageToBitmap(image, bitmap);
        add(bitmap, nullptr, qRound(image.dotsPerMeterX() * 0.0254),
            qRound(image.dotsPerMeterY() * 0.0254));
        if (progress.OnProgress) progress.OnProgress(progress.Sender, (i + 1) * 100 / count);
      }
      break;
    }
    default:
      break;
  }
  return inserted;
}

bool ReadImageFile(const QString& fileName, TIEBitmap& bitmap, TIOParamsVals& params) {
  TPageList scratch;
  TIOProgress progress;
  LoadImageFilePages(scratch, fileName, progress);
  if (scratch.PageCount() < 1) return false;
  bitmap.Assign(scratch.Bitmap(0));
  params = scratch.Params(0);
  return !progress.Aborting() || scratch.PageCount() > 0;
}

}  // namespace folivo
