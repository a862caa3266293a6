// Folivo — multi-page TIFF editor.
// PDF 1.4 writer: one image per page, objects built in memory, written at the end.
#pragma once

// Follows the PDF 1.4 reference: the file structure of chapter 3.4 (header,
// body, cross-reference table with 20-byte entries, trailer), the object
// syntax of 3.2, and the filters CCITTFaxDecode (ITU-T T.4 / T.6 through
// ccitt.h), DCTDecode (baseline JPEG through libjpeg), LZWDecode (the TIFF
// LZW code stream, which is PDF's EarlyChange 1 variant) and RunLengthDecode.
//
// Every line end is a single line feed. Objects: 1 catalog, 2 the resources
// shared by every page, then per page k (from 1) the image 3k, its content
// stream 3k + 1 and the page 3k + 2; after N pages the page tree 3N + 3 and
// the information dictionary 3N + 4.
//
// Pixel formats: a 1-bit page is written as 1-bit DeviceGray, a 24-bit page
// as 8-bit DeviceRGB (or DeviceGray for a gray JPEG), an 8-bit gray page as
// 8-bit DeviceGray. The other formats are converted first: 16-bit and float
// gray to 8-bit gray, palette, CMYK, 48-bit and CIELab to 24-bit RGB.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/params.h"

namespace folivo {

class TIEBitmap;
class TPageList;
class TStream;

// One PDF object. ObjectNumber is 0 for a direct object and set when the
// object is registered as indirect; Offset is set when it is written.
class TIEPDFObject {
 public:
  virtual ~TIEPDFObject() = default;
  TIEPDFObject() = default;
  TIEPDFObject(const TIEPDFObject&) = delete;
  TIEPDFObject& operator=(const TIEPDFObject&) = delete;

  // Writes the object's text (not the "n 0 obj" frame).
  virtual void Write(TStream& stream) = 0;

  int ObjectNumber = 0;
  uint64_t Offset = 0;
};

// "2 0 R".
class TIEPDFRefObject final : public TIEPDFObject {
 public:
  TIEPDFRefObject(int number, int generation) : Number(number), Generation(generation) {}
  void Write(TStream& stream) override;
  int Number;
  int Generation;
};

class TIEPDFBooleanObject final : public TIEPDFObject {
 public:
  explicit TIEPDFBooleanObject(bool value) : Value(value) {}
  void Write(TStream& stream) override;
  bool Value;
};

// Shortest decimal form with up to 15 significant digits, always a full
// stop, never an exponent (PDF has none); integers without a point. NaN and
// infinities, which PDF cannot express, are written as 0.
class TIEPDFNumericObject final : public TIEPDFObject {
 public:
  explicit TIEPDFNumericObject(double value) : Value(value) {}
  void Write(TStream& stream) override;
  double Value;
};

// "(" bytes ")" with \b \t \n \f \r \( \) \\ escaped and every other byte,
// including those above 127, as it is.
class TIEPDFStringObject final : public TIEPDFObject {
 public:
  explicit TIEPDFStringObject(std::string value) : Value(std::move(value)) {}
  void Write(TStream& stream) override;
  std::string Value;
};

// "/" + the bytes; bytes outside 33..126, "#" and the delimiters
// ( ) < > [ ] { } / % are written as "#" and two upper-case hex digits.
class TIEPDFNameObject final : public TIEPDFObject {
 public:
  explicit TIEPDFNameObject(std::string value) : Value(std::move(value)) {}
  void Write(TStream& stream) override;
  std::string Value;
};

// "[" + each element and one space + "]".
class TIEPDFArrayObject final : public TIEPDFObject {
 public:
  void Write(TStream& stream) override;
  // Takes ownership; returns the element.
  TIEPDFObject* Add(std::unique_ptr<TIEPDFObject> item);
  std::vector<std::unique_ptr<TIEPDFObject>> Items;
};

// "<< " + "/key value" LF per pair in insertion order + ">>". Keys are
// written as they are.
class TIEPDFDictionaryObject final : public TIEPDFObject {
 public:
  void Write(TStream& stream) override;
  // Appends (or, with Insert, places at index) a pair; returns the value.
  TIEPDFObject* Add(std::string key, std::unique_ptr<TIEPDFObject> value);
  TIEPDFObject* Insert(size_t index, std::string key, std::unique_ptr<TIEPDFObject> value);
  // The value under key, or nullptr.
  TIEPDFObject* Find(const std::string& key) const;
  std::vector<std::pair<std::string, std::unique_ptr<TIEPDFObject>>> Items;
};

// Dictionary (always starting with Length, set to the data's size just
// before writing), LF "stream" LF, data, LF "endstream".
class TIEPDFStreamObject final : public TIEPDFObject {
 public:
  TIEPDFStreamObject();
  void Write(TStream& stream) override;
  TIEPDFDictionaryObject Dictionary;
  std::vector<uint8_t> Data;
};

// Convenience makers for the objects above.
std::unique_ptr<TIEPDFObject> PdfName(std::string value);
std::unique_ptr<TIEPDFObject> PdfNumber(double value);
std::unique_ptr<TIEPDFObject> PdfRef(int number);

// The document while pages are added.
struct TPdfBuilder {
  // Appends object to the indirect objects and numbers it (from 1).
  template <typename T>
  T* Register(std::unique_ptr<T> object) {
    T* raw = object.get();
    Objects.push_back(std::move(object));
    raw->ObjectNumber = static_cast<int>(Objects.size());
    return raw;
  }

  std::vector<std::unique_ptr<TIEPDFObject>> Objects;  // indirect, in number order
  std::vector<TIEPDFDictionaryObject*> PageObjects;
  std::vector<TIEPDFStreamObject*> Images;
  std::vector<TIEPDFStreamObject*> Contents;
  TIEPDFDictionaryObject* Catalog = nullptr;
  TIEPDFDictionaryObject* Resources = nullptr;
  TIEPDFDictionaryObject* XObjects = nullptr;  // inside Resources
};

// Registers the catalog (object 1) and the shared resources (object 2).
std::unique_ptr<TPdfBuilder> CreatePdfBuilder();

// Adds page as image, content stream and page object. Reads PdfPaperWidth,
// PdfPaperHeight, PdfCompression, the JPEG settings (TiffJpegQuality,
// TiffJpegColorSpace: 1 gray, any other value colour) and LzwCompressor;
// sets BitsPerSample and SamplesPerPixel to what is written (1/1, 8/3 or
// 8/1) and changes a JPEG compression of a 1-bit page to 3 (Group 3 2-D).
// An empty page, a paper side below 1 point, missing LZW routines or an
// encoder failure set Aborting and add nothing; returns false then.
// Throws std::bad_alloc when memory runs out.
bool AddPdfPage(TPdfBuilder& builder, const TIEBitmap& page, TIOParamsVals& params,
                TIOProgress& progress);

// Registers the page tree and the information dictionary (from the
// document texts of params, CreationDate from creationTime, the local time
// when nullptr) and writes the whole file to stream. Throws TFileError when
// the stream refuses bytes.
void WritePdf(TPdfBuilder& builder, TStream& stream, const TIOParamsVals& params,
              const std::tm* creationTime = nullptr);

// Every page of pages with its own parameters into stream, reporting
// Trunc(i x 100 / N) after page i. Returns false, having written nothing,
// when there is no page, the user aborted or a page failed.
bool WritePdfPages(TPageList& pages, TStream& stream, TIOProgress& progress,
                   const std::tm* creationTime = nullptr);

// The same into fileName through a temporary file renamed into place: when
// it returns false or throws, any previous file is untouched and no new file
// is left. Throws TFileError when the file cannot be created or written.
bool SavePdfPages(TPageList& pages, const std::string& fileName, TIOProgress& progress);

// RunLengthDecode data of a whole block, ending with the byte 128.
void PdfRunLengthEncode(const uint8_t* data, size_t count, std::vector<uint8_t>& out);

}  // namespace folivo
