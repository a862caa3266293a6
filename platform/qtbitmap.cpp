// Folivo — multi-page TIFF editor.
#include "platform/qtbitmap.h"

#include <cstring>

namespace folivo {

QImage BitmapToQImage(const TIEBitmap& bitmap) {
  if (bitmap.IsEmpty()) return QImage();
  const int w = bitmap.Width(), h = bitmap.Height();
  const TIEBitmap* source = &bitmap;
  TIEBitmap converted;
  QImage::Format format;
  switch (bitmap.PixelFormat()) {
    case ie1g: format = QImage::Format_Mono; break;
    case ie8g: format = QImage::Format_Grayscale8; break;
    case ie8p: format = QImage::Format_Indexed8; break;
    case ie24RGB: format = QImage::Format_BGR888; break;
    default:
      converted.Assign(bitmap);
      converted.ConvertTo(ie24RGB);
      source = &converted;
      format = QImage::Format_BGR888;
  }
  QImage image(w, h, format);
  if (image.isNull()) return image;
  const size_t rowBytes = std::min<size_t>(image.bytesPerLine(), source->RowLength());
  for (int y = 0; y < h; ++y) std::memcpy(image.scanLine(y), source->GetScanline(y), rowBytes);
  if (format == QImage::Format_Mono) {
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  } else if (format == QImage::Format_Indexed8) {
    QList<QRgb> table;
    for (int i = 0; i < 256; ++i) {
      TColorTriple c = bitmap.GetPaletteColor(i);
      table << qRgb(c.red, c.green, c.blue);
    }
    image.setColorTable(table);
  }
  if (const TIEBitmap* alpha = bitmap.AlphaChannelIfAny(); alpha && !alpha->Full()) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      const uint8_t* a = alpha->GetScanline(y);
      for (int x = 0; x < w; ++x) row[x] = (row[x] & 0x00FFFFFF) | (uint32_t(a[x]) << 24);
    }
  }
  return image;
}

void QImageToBitmap(const QImage& image, TIEBitmap& bitmap) {
  if (image.isNull()) {
    bitmap.FreeImage();
    return;
  }
  const int w = image.width(), h = image.height();
  if (image.format() == QImage::Format_Mono || image.format() == QImage::Format_MonoLSB) {
    QImage mono = image.convertToFormat(QImage::Format_Mono);
    bool zeroIsWhite = qGray(mono.color(0)) > qGray(mono.color(1));
    bitmap.Allocate(w, h, ie1g);
    const size_t rowBytes = std::min<size_t>(mono.bytesPerLine(), bitmap.RowLength());
    for (int y = 0; y < h; ++y) {
      uint8_t* dst = bitmap.GetScanline(y);
      std::memcpy(dst, mono.constScanLine(y), rowBytes);
      if (zeroIsWhite)
        for (size_t i = 0; i < rowBytes; ++i) dst[i] = ~dst[i];
    }
    return;
  }
  if (image.format() == QImage::Format_Grayscale8) {
    bitmap.Allocate(w, h, ie8g);
    for (int y = 0; y < h; ++y) std::memcpy(bitmap.GetScanline(y), image.constScanLine(y), w);
    return;
  }
  QImage rgb = image.convertToFormat(QImage::Format_BGR888);
  bitmap.Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y) std::memcpy(bitmap.GetScanline(y), rgb.constScanLine(y), size_t(w) * 3);
  if (image.hasAlphaChannel()) {
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    TIEBitmap* alpha = bitmap.AlphaChannel();
    for (int y = 0; y < h; ++y) {
      const auto* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
      uint8_t* a = alpha->GetScanline(y);
      for (int x = 0; x < w; ++x) a[x] = static_cast<uint8_t>(qAlpha(src[x]));
    }
  }
}

}  // namespace folivo
