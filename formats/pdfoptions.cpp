// Folivo — multi-page TIFF editor.
#include "formats/pdfoptions.h"

#include <iterator>

#include "formats/pagelist.h"
#include "formats/params.h"

namespace folivo {

const int32_t kPdfPaperWidths[kPdfPaperSizeCount] = {2380, 1684, 1190, 842, 595,  421,
                                                     297,  501,  612,  612, 1224, 792};
const int32_t kPdfPaperHeights[kPdfPaperSizeCount] = {3368, 2380, 1684, 1190, 842, 595,
                                                      421,  709,  792,  1008, 792, 1224};

void ApplyPdfOptions(const TPdfOptions& options, int widthPx, int heightPx, TIOParamsVals& params) {
  int size = options.PageSize;
  if (size < 0 || size > kPdfAutoPageSize) size = kPdfDefaultPageSize;
  if (size == kPdfAutoPageSize) {
    params.PdfPaperWidth = widthPx;
    params.PdfPaperHeight = heightPx;
  } else {
    const int32_t w = kPdfPaperWidths[size], h = kPdfPaperHeights[size];
    params.PdfPaperWidth = w;
    params.PdfPaperHeight = h;
    if (options.AutoRotate && ((heightPx > widthPx && w > h) || (widthPx > heightPx && h > w))) {
      params.PdfPaperWidth = h;
      params.PdfPaperHeight = w;
    }
  }
  params.PdfAuthor = options.Author;
  params.PdfCreator = options.Creator;
  params.PdfSubject = options.Subject;
  params.PdfTitle = options.Title;
  params.PdfKeywords = options.Keywords;
  params.PdfProducer = kPdfProducer;
  const int compression = options.Compression;
  params.PdfCompression = static_cast<uint8_t>(
      compression >= 0 && compression < kPdfCompressionCount ? compression
                                                             : kPdfDefaultCompression);
}

void ApplyPdfOptions(const TPdfOptions& options, TPageList& pages) {
  for (int i = 0; i < pages.PageCount(); ++i)
    ApplyPdfOptions(options, pages.FullWidth(i), pages.FullHeight(i), pages.Params(i));
}

namespace {
const char* const kPageSizeNames[] = {"a0", "a1",     "a2",    "a3",     "a4",      "a5",  "a6",
                                      "b5", "letter", "legal", "ledger", "tabloid", "auto"};
const char* const kCompressionNames[] = {"none", "rle", "g4", "g3", "jpeg", "lzw"};

template <size_t N>
bool IndexOf(const char* const (&names)[N], const std::string& name, int& index) {
  for (size_t i = 0; i < N; ++i)
    if (name == names[i]) {
      index = static_cast<int>(i);
      return true;
    }
  return false;
}
}  // namespace

bool PdfPageSizeFromName(const std::string& name, int& index) {
  return IndexOf(kPageSizeNames, name, index);
}
bool PdfCompressionFromName(const std::string& name, int& index) {
  return IndexOf(kCompressionNames, name, index);
}

}  // namespace folivo
