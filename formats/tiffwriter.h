// Folivo — multi-page TIFF editor.
// TIFF writing: one page into a new or an existing little-endian TIFF, and a whole document.
#pragma once

#include <cstdint>
#include <string>

#include "formats/params.h"

namespace folivo {

class TIEBitmap;
class TPageList;
class TStream;

// Rows per strip for a page of heightPx rows whose bitmap rows are
// rowLength bytes (padded): strips of about 512 KiB of page data. At least 1.
int TiffRowsPerStrip(int heightPx, int64_t rowLength);

// Writes bitmap as one TIFF page (TIFF 6.0, little-endian "II").
//
// Create mode (insert false): header at the stream's position, then the
// tag values that do not fit in an entry, the strips, and the IFD. Insert
// mode: the stream (from its position) must hold a little-endian TIFF; the
// page is appended at its end and linked in before page
// params.TiffImageIndex() (after the last page when the index is at or past
// the count). Offsets are absolute positions in the stream.
//
// The bitmap is never changed: depth and colour conversions work on a copy.
// params decides depth, photometric and compression and is left describing
// what was written (BitsPerSample, SamplesPerPixel, TiffPhotometric,
// TiffCompression, ColorMap for palette pages, Width, Height).
// bwConversion >= 0 replaces the bitmap's BWConversion for a colour page
// written bilevel.
//
// Returns the number of pages in the file after the write (1 in create
// mode). Returns 0 and sets Aborting, having written nothing, for an empty
// bitmap, an insert into a stream that is not little-endian TIFF, or a page
// too large for 32-bit offsets; returns 0 with Aborting set when progress
// was aborted during the page (the page's bytes may be partly written, but
// in insert mode no existing pointer was changed). Stream write failures
// throw TFileError.
int WriteTiffStream(TStream& stream, bool insert, const TIEBitmap& bitmap, TIOProgress& progress,
                    TIOParamsVals& params, int bwConversion = -1);

// Writes every page of pages, in list order, as one multi-page TIFF at
// fileName, through a temporary file beside it that replaces fileName only
// when every page was written: on abort or error the previous file stays as
// it was. Each page's parameters are adjusted as WriteTiffStream does, with
// ImageIndex set to the page's index. bwConversion is the document's
// black-and-white method for colour pages saved bilevel. Progress reports
// Trunc(i × 100 / count) before page i. Returns true when the file was
// replaced; false when the list is empty (nothing happens) or the save was
// aborted. Throws TFileError when the file cannot be created or written.
bool SaveTiffPages(TPageList& pages, const std::string& fileName, TIOProgress& progress,
                   int bwConversion = 1);

}  // namespace folivo
