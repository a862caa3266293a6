// Folivo — multi-page TIFF editor.
// The private clipboard format of page bitmaps (MIME type
// application/x-folivo-raw): the bitmap's own layout, byte for byte.
#pragma once

#include <QByteArray>
#include <QString>

namespace folivo {

class TIEBitmap;

inline const QString kRawMimeType = QStringLiteral("application/x-folivo-raw");

// "FOLIVORAW1", then little-endian 32-bit width, height, pixel format,
// palette length and alpha flag, the palette (blue, green, red), the rows
// top first without padding, and the alpha rows when present.
QByteArray SerializeBitmap(const TIEBitmap& bitmap);
// The reverse. Clipboard data comes from other processes: anything that does
// not match its own header exactly (size, format, length) gives false and
// leaves bitmap untouched.
bool DeserializeBitmap(const QByteArray& data, TIEBitmap& bitmap);

}  // namespace folivo
