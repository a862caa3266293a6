// Folivo — multi-page TIFF editor.
// Reading the image formats other than TIFF into pages: Qt's image readers
// (with the image-format plugins), openjpeg for JPEG 2000, our PCX and DCX.
#pragma once

#include <QString>
#include <string>

#include "formats/errors.h"
#include "formats/params.h"

namespace folivo {

class TIEBitmap;
class TPageList;

// No reader of ours takes the file.
class TImageFormatError : public FolivoError {
 public:
  using FolivoError::FolivoError;
};

// Whether the name ends in one of the TIFF extensions the document loader
// hands to the TIFF reader (".tif", ".tiff", ".fax", ".g3f", ".g3n", ".xif").
bool IsTiffFileName(const QString& fileName);

// Images in the file without decoding pixels: frames of GIF, ICO/CUR and
// DCX, 1 for other readable images, 0 when no reader takes the file or it
// cannot be opened.
int CountImageFilePages(const QString& fileName);

// Inserts every image of the file (every frame of GIF, ICO/CUR and DCX)
// before the current page, or at the end when none is current, each with
// default parameters apart from size, depth and resolution. A frame that
// fails to decode sets Aborting and ends the load; frames before it stay.
// Returns the pages inserted. Throws TImageFormatError when no reader takes
// the file and TFileError when it cannot be opened.
int LoadImageFilePages(TPageList& pages, const QString& fileName, TIOProgress& progress);

// One image (the first frame) into bitmap, for callers outside the page list.
// Throws as LoadImageFilePages; false when the image fails to decode.
bool ReadImageFile(const QString& fileName, TIEBitmap& bitmap, TIOParamsVals& params);

// Sets size, depth and default resolution of params from a decoded bitmap.
void DescribeBitmap(const TIEBitmap& bitmap, TIOParamsVals& params);

// Decodes a JPEG 2000 file (JP2 box format or raw code stream) with openjpeg:
// one component gives ie8g, three or more ie24RGB (a fourth is alpha).
// Samples deeper than 8 bits are scaled down. False on a decoding error or
// an image beyond the size limit.
bool ReadJpeg2000File(const std::string& fileName, TIEBitmap& bitmap);

}  // namespace folivo
