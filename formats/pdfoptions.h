// Folivo — multi-page TIFF editor.
// The PDF output choices (page size, compression, document texts) and how
// they become every page's PDF parameters; shared by the dialog and the CLI.
#pragma once

#include <cstdint>
#include <string>

namespace folivo {

class TIOParamsVals;
class TPageList;

// Page-size indexes 0..11 take the paper tables; 12 makes the paper the
// page's pixel size (one pixel, one point).
constexpr int kPdfPaperSizeCount = 12;
constexpr int kPdfAutoPageSize = 12;
constexpr int kPdfDefaultPageSize = 4;     // A4
constexpr int kPdfDefaultCompression = 5;  // LZW
constexpr int kPdfCompressionCount = 6;
// Paper width and height in points (1/72 inch) of indexes 0..11: A0 … A6,
// B5, letter, legal, ledger, 11"x17".
extern const int32_t kPdfPaperWidths[kPdfPaperSizeCount];
extern const int32_t kPdfPaperHeights[kPdfPaperSizeCount];

struct TPdfOptions {
  std::string Author, Creator, Subject, Title, Keywords;
  int PageSize = kPdfDefaultPageSize;  // 0..12
  bool AutoRotate = true;
  int Compression = kPdfDefaultCompression;  // PdfCompression 0..5
};

// The producer every written document names.
inline constexpr const char* kPdfProducer = "Folivo";

// Sets the PDF fields of one page of widthPx x heightPx pixels. With auto
// rotation the table's paper is turned when page and paper stand
// differently (a square page keeps the table's orientation). A page size
// or compression outside the lists counts as the default (4, 5).
void ApplyPdfOptions(const TPdfOptions& options, int widthPx, int heightPx, TIOParamsVals& params);
// The same for every page of pages, each with its own size.
void ApplyPdfOptions(const TPdfOptions& options, TPageList& pages);

// Command-line names: "a0".."a6", "b5", "letter", "legal", "ledger",
// "tabloid", "auto"; and "none", "rle", "g4", "g3", "jpeg", "lzw". False
// for any other name.
bool PdfPageSizeFromName(const std::string& name, int& index);
bool PdfCompressionFromName(const std::string& name, int& index);

}  // namespace folivo
