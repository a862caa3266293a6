// Folivo — multi-page TIFF editor.
// The one bridge between page bitmaps and QImage.
#pragma once

#include <QImage>

#include "formats/bitmap.h"

namespace folivo {

// A deep copy as a QImage: ie1g as Mono, ie8g as Grayscale8, ie8p as
// Indexed8, ie24RGB as BGR888, other formats through ie24RGB. Alpha, when
// present, gives ARGB32. An empty bitmap gives a null image.
QImage BitmapToQImage(const TIEBitmap& bitmap);
// A QImage as a page bitmap: Mono stays ie1g (white = 1), gray stays ie8g,
// others become ie24RGB, with an alpha companion when the image has alpha.
void QImageToBitmap(const QImage& image, TIEBitmap& bitmap);

}  // namespace folivo
