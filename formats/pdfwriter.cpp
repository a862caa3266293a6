// Folivo — multi-page TIFF editor.
#include "formats/pdfwriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "formats/atomicfile.h"
#include "formats/bitmap.h"
#include "formats/ccitt.h"
#include "formats/pagelist.h"
#include "formats/stream.h"

namespace folivo {

namespace {

void Put(TStream& s, const char* text) {
  s.Write(text, std::strlen(text));
}
void Put(TStream& s, const std::string& text) {
  s.Write(text.data(), text.size());
}

std::string IntText(int64_t v) {
  return std::to_string(v);
}

// Data bytes appended to a vector, for encoders that write to a TStream.
class TVectorStream final : public TStream {
 public:
  explicit TVectorStream(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void* buffer, size_t count) override {
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    bytes_.insert(bytes_.end(), p, p + count);
  }
  void Seek(uint64_t) override {}
  uint64_t Position() const override { return bytes_.size(); }
  uint64_t Size() const override { return bytes_.size(); }

 private:
  std::vector<uint8_t>& bytes_;
};

// A document text as PDF wants it: ASCII as it is, other valid UTF-8 as
// UTF-16BE with its byte-order mark (readers take bare bytes for
// PDFDocEncoding and would show the wrong characters), anything else raw.
std::string PdfTextString(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 128; }))
    return text;
  std::string out = "\xFE\xFF";
  auto put16 = [&](uint32_t u) {
    out += static_cast<char>(u >> 8);
    out += static_cast<char>(u & 0xFF);
  };
  for (size_t i = 0; i < text.size();) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    const int extra = b < 0x80         ? 0
                      : (b >> 5) == 6  ? 1
                      : (b >> 4) == 14 ? 2
                      : (b >> 3) == 30 ? 3
                                       : -1;
    if (extra < 0 || i + extra >= text.size()) return text;
    uint32_t u = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const uint8_t c = static_cast<uint8_t>(text[i + k]);
      if ((c >> 6) != 2) return text;
      u = (u << 6) | (c & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (u < kMin[extra] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return text;
    if (u >= 0x10000) {
      put16(0xD800 + ((u - 0x10000) >> 10));
      put16(0xDC00 + ((u - 0x10000) & 0x3FF));
    } else {
      put16(u);
    }
    i += extra + 1;
  }
  return out;
}

}  // namespace

void TIEPDFRefObject::Write(TStream& s) {
  Put(s, IntText(Number) + ' ' + IntText(Generation) + " R");
}

void TIEPDFBooleanObject::Write(TStream& s) {
  Put(s, Value ? "true" : "false");
}

void TIEPDFNumericObject::Write(TStream& s) {
  char buffer[400];
  double v = std::isfinite(Value) ? Value : 0.0;
  if (v == 0.0) v = 0.0;  // no "-0"
  auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
  std::string text(buffer, r.ptr);
  if (text.find('e') != std::string::npos) {
    // Out of general's fixed range: write it out in full, 15 digits at most.
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    const int decimals = std::max(0, 14 - exponent);
    r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
    text.assign(buffer, r.ptr);
    if (text.find('.') != std::string::npos) {
      while (text.back() == '0') text.pop_back();
      if (text.back() == '.') text.pop_back();
    }
  }
  // to_chars ignores the locale; the guard is for the written form alone.
  std::replace(text.begin(), text.end(), ',', '.');
  Put(s, text);
}

void TIEPDFStringObject::Write(TStream& s) {
  std::string out = "(";
  out.reserve(Value.size() + 2);
  for (char c : Value) {
    switch (c) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '(':
        out += "\\(";
        break;
      case ')':
        out += "\\)";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  out += ')';
  Put(s, out);
}

void TIEPDFNameObject::Write(TStream& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "/";
  for (char c : Value) {
    const uint8_t b = static_cast<uint8_t>(c);
    // Written bare, '#' or a delimiter would be read back as another name.
    if (b < 33 || b > 126 || std::strchr("#()<>[]{}/%", c) != nullptr) {
      out += '#';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  Put(s, out);
}

TIEPDFObject* TIEPDFArrayObject::Add(std::unique_ptr<TIEPDFObject> item) {
  Items.push_back(std::move(item));
  return Items.back().get();
}

void TIEPDFArrayObject::Write(TStream& s) {
  Put(s, "[");
  for (auto& item : Items) {
    item->Write(s);
    Put(s, " ");
  }
  Put(s, "]");
}

TIEPDFObject* TIEPDFDictionaryObject::Add(std::string key, std::unique_ptr<TIEPDFObject> value) {
  return Insert(Items.size(), std::move(key), std::move(value));
}

TIEPDFObject* TIEPDFDictionaryObject::Insert(size_t index, std::string key,
                                             std::unique_ptr<TIEPDFObject> value) {
  index = std::min(index, Items.size());
  auto at = Items.emplace(Items.begin() + static_cast<std::ptrdiff_t>(index), std::move(key),
                          std::move(value));
  return at->second.get();
}

TIEPDFObject* TIEPDFDictionaryObject::Find(const std::string& key) const {
  for (const auto& [k, v] : Items)
    if (k == key) return v.get();
  return nullptr;
}

void TIEPDFDictionaryObject::Write(TStream& s) {
  Put(s, "<< ");
  for (auto& [key, value] : Items) {
    Put(s, "/" + key + " ");
    value->Write(s);
    Put(s, "\n");
  }
  Put(s, ">>");
}

TIEPDFStreamObject::TIEPDFStreamObject() {
  Dictionary.Add("Length", PdfNumber(0));
}

void TIEPDFStreamObject::Write(TStream& s) {
  if (auto* length = dynamic_cast<TIEPDFNumericObject*>(Dictionary.Find("Length")))
    length->Value = static_cast<double>(Data.size());
  Dictionary.Write(s);
  Put(s, "\nstream\n");
  s.Write(Data.data(), Data.size());
  Put(s, "\nendstream");
}

std::unique_ptr<TIEPDFObject> PdfName(std::string value) {
  return std::make_unique<TIEPDFNameObject>(std::move(value));
}
std::unique_ptr<TIEPDFObject> PdfNumber(double value) {
  return std::make_unique<TIEPDFNumericObject>(value);
}
std::unique_ptr<TIEPDFObject> PdfRef(int number) {
  return std::make_unique<TIEPDFRefObject>(number, 0);
}

void PdfRunLengthEncode(const uint8_t* data, size_t count, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < count) {
    if (i + 1 < count && data[i + 1] == data[i]) {
      size_t run = 2;
      while (run < 128 && i + run < count && data[i + run] == data[i]) ++run;
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(data[i]);
      i += run;
    } else {
      // The literal grows while each byte differs from the one before; the
      // first byte of an equal pair stays in it.
      size_t length = 1;
      while (length < 128 && i + length < count && data[i + length] != data[i + length - 1])
        ++length;
      out.push_back(static_cast<uint8_t>(length - 1));
      out.insert(out.end(), data + i, data + i + length);
      i += length;
    }
  }
  out.push_back(128);
}

std::unique_ptr<TPdfBuilder> CreatePdfBuilder() {
  auto b = std::make_unique<TPdfBuilder>();
  b->Catalog = b->Register(std::make_unique<TIEPDFDictionaryObject>());
  b->Catalog->Add("Type", PdfName("Catalog"));
  b->Resources = b->Register(std::make_unique<TIEPDFDictionaryObject>());
  auto procSet = std::make_unique<TIEPDFArrayObject>();
  procSet->Add(PdfName("PDF"));
  procSet->Add(PdfName("ImageB"));
  b->Resources->Add("ProcSet", std::move(procSet));
  b->XObjects = static_cast<TIEPDFDictionaryObject*>(
      b->Resources->Add("XObject", std::make_unique<TIEPDFDictionaryObject>()));
  return b;
}

namespace {

enum class TPdfPixels { Bilevel, Gray, Rgb };

// Packed rows of the page as PDF samples: 1-bit rows as stored, gray bytes,
// or RGB reordered from the page's BGR.
class TRowSource {
 public:
  TRowSource(const TIEBitmap& page, TPdfPixels kind) : page_(page), kind_(kind) {
    const size_t w = static_cast<size_t>(page.Width());
    length_ = kind == TPdfPixels::Bilevel ? (w + 7) / 8 : kind == TPdfPixels::Gray ? w : 3 * w;
    if (kind == TPdfPixels::Rgb) row_.resize(length_);
  }
  size_t Length() const { return length_; }
  const uint8_t* Row(int y) {
    const uint8_t* src = page_.GetScanline(y);
    if (kind_ != TPdfPixels::Rgb) return src;
    uint8_t* dst = row_.data();
    for (size_t x = 0; x < length_; x += 3) {
      dst[x] = src[x + 2];
      dst[x + 1] = src[x + 1];
      dst[x + 2] = src[x];
    }
    return dst;
  }

 private:
  const TIEBitmap& page_;
  TPdfPixels kind_;
  size_t length_;
  std::vector<uint8_t> row_;
};

struct TJpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}
void JpegSilence(j_common_ptr, int) {}

// One baseline JPEG of the page; gray when asked or when the page is gray.
// Rows and the output buffer live outside the jump's reach. False on a
// libjpeg error.
bool EncodeJpeg(const TIEBitmap& page, bool sourceGray, bool grayOut, bool rgbNoTransform,
                int quality, std::vector<uint8_t>& out, TIOProgress& progress) {
  const int w = page.Width(), h = page.Height();
  std::vector<uint8_t> row(static_cast<size_t>(w) * (grayOut ? 1 : 3));
  jpeg_compress_struct cinfo;
  TJpegError error;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  cinfo.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = JpegErrorExit;
  error.mgr.emit_message = JpegSilence;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = grayOut ? 1 : 3;
  cinfo.in_color_space = grayOut ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  // RGB without transform carries an Adobe marker, which DCTDecode honours.
  if (!grayOut && rgbNoTransform) jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  for (int y = 0; y < h && !progress.Aborting(); ++y) {
    const uint8_t* src = page.GetScanline(y);
    if (sourceGray) {
      std::memcpy(row.data(), src, static_cast<size_t>(w));
    } else if (grayOut) {
      for (int x = 0; x < w; ++x)
        row[x] = static_cast<uint8_t>(Luminance(src[3 * x + 2], src[3 * x + 1], src[3 * x]));
    } else {
      for (int x = 0; x < w; ++x) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  if (progress.Aborting()) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  out.assign(buffer, buffer + size);
  std::free(buffer);
  return true;
}

void AddCcittParms(TIEPDFDictionaryObject& d, int k, int w, int h) {
  auto parms = std::make_unique<TIEPDFDictionaryObject>();
  parms->Add("K", PdfNumber(k));
  parms->Add("BlackIs1", std::make_unique<TIEPDFBooleanObject>(true));
  parms->Add("Columns", PdfNumber(w));
  parms->Add("Rows", PdfNumber(h));
  parms->Add("EndOfLine", std::make_unique<TIEPDFBooleanObject>(false));
  parms->Add("Uncompressed", std::make_unique<TIEPDFBooleanObject>(true));
  parms->Add("EncodedByteAlign", std::make_unique<TIEPDFBooleanObject>(false));
  parms->Add("EndOfBlock", std::make_unique<TIEPDFBooleanObject>(false));
  d.Add("DecodeParms", std::move(parms));
}

// Fills image's data and filter entries; false when an encoder fails.
bool EncodeImage(const TIEBitmap& page, TPdfPixels kind, TIOParamsVals& params,
                 TIEPDFStreamObject& image, TIOProgress& progress) {
  const int w = page.Width(), h = page.Height();
  TIEPDFDictionaryObject& d = image.Dictionary;
  std::vector<uint8_t>& data = image.Data;
  TRowSource rows(page, kind);
  const char* colorSpace = kind == TPdfPixels::Rgb ? "DeviceRGB" : "DeviceGray";
  int compression = params.PdfCompression;
  if (kind == TPdfPixels::Bilevel && compression == 4) params.PdfCompression = compression = 3;
  // CCITT codes only bilevel rows; other pages go uncompressed then.
  if (kind != TPdfPixels::Bilevel && (compression == 2 || compression == 3)) compression = 0;

  switch (compression) {
    case 1: {
      std::vector<uint8_t> block;
      block.reserve(rows.Length() * static_cast<size_t>(h));
      for (int y = 0; y < h; ++y) {
        const uint8_t* r = rows.Row(y);
        block.insert(block.end(), r, r + rows.Length());
      }
      PdfRunLengthEncode(block.data(), block.size(), data);
      auto filter = std::make_unique<TIEPDFArrayObject>();
      filter->Add(PdfName("RunLengthDecode"));
      d.Add("Filter", std::move(filter));
      break;
    }
    case 2:
    case 3: {
      // The stored rows (1 = white) go to the encoder, which takes 1 as
      // black; BlackIs1 turns the decoded bits back into 1 = white.
      TVectorStream out(data);
      std::vector<uint8_t> reference;
      TCcittPending pending;
      for (int y = 0; y < h; ++y) {
        if (compression == 2)
          EncodeG4Row(rows.Row(y), w, out, 1, reference, pending);
        else
          EncodeG3Row2D(rows.Row(y), w, out, 1, reference, pending);
      }
      if (compression == 2)
        EncodeG4Row(nullptr, w, out, 1, reference, pending);
      else
        EncodeG3Row2D(nullptr, w, out, 1, reference, pending);
      d.Add("Filter", PdfName("CCITTFaxDecode"));
      AddCcittParms(d, compression == 2 ? -1 : 1, w, h);
      break;
    }
    case 4: {
      const bool gray = kind == TPdfPixels::Gray || params.TiffJpegColorSpace == 1;
      if (!EncodeJpeg(page, kind == TPdfPixels::Gray, gray, params.TiffJpegColorSpace == 0,
                      params.TiffJpegQuality, data, progress))
        return false;
      colorSpace = gray ? "DeviceGray" : "DeviceRGB";
      d.Add("Filter", PdfName("DCTDecode"));
      break;
    }
    case 5: {
      TLzwCompressorFn lzw = params.EffectiveLzwCompressor();
      if (lzw == nullptr) return false;
      TVectorStream out(data);
      TLzwEncodeState* state = nullptr;
      for (int y = 0; y < h; ++y) lzw(rows.Row(y), rows.Length(), out, state);
      lzw(nullptr, 0, out, state);
      d.Add("Filter", PdfName("LZWDecode"));
      break;
    }
    default: {
      data.reserve(rows.Length() * static_cast<size_t>(h));
      for (int y = 0; y < h; ++y) {
        const uint8_t* r = rows.Row(y);
        data.insert(data.end(), r, r + rows.Length());
      }
      break;
    }
  }
  d.Add("ColorSpace", PdfName(colorSpace));
  d.Add("BitsPerComponent", PdfNumber(kind == TPdfPixels::Bilevel ? 1 : 8));
  return true;
}

}  // namespace

bool AddPdfPage(TPdfBuilder& builder, const TIEBitmap& page, TIOParamsVals& params,
                TIOProgress& progress) {
  const int64_t paperW = params.PdfPaperWidth, paperH = params.PdfPaperHeight;
  if (page.IsEmpty() || page.Width() < 1 || page.Height() < 1 || paperW < 1 || paperH < 1) {
    progress.Abort();
    return false;
  }
  // Formats other than 1-bit, 8-bit gray and 24-bit go through a converted copy.
  const TIEBitmap* source = &page;
  TIEBitmap converted;
  TPdfPixels kind = TPdfPixels::Rgb;
  switch (page.PixelFormat()) {
    case ie1g:
      kind = TPdfPixels::Bilevel;
      break;
    case ie8g:
      kind = TPdfPixels::Gray;
      break;
    case ie24RGB:
      kind = TPdfPixels::Rgb;
      break;
    case ie16g:
    case ie32f:
      kind = TPdfPixels::Gray;
      converted.Assign(page);
      converted.ConvertTo(ie8g);
      source = &converted;
      break;
    default:
      converted.Assign(page);
      converted.ConvertTo(ie24RGB);
      source = &converted;
      break;
  }
  const int w = source->Width(), h = source->Height();

  auto image = std::make_unique<TIEPDFStreamObject>();
  if (!EncodeImage(*source, kind, params, *image, progress) || progress.Aborting()) {
    progress.Abort();
    return false;
  }
  params.BitsPerSample = kind == TPdfPixels::Bilevel ? 1 : 8;
  params.SamplesPerPixel = kind == TPdfPixels::Rgb ? 3 : 1;
  TIEPDFDictionaryObject& d = image->Dictionary;
  d.Insert(0, "Type", PdfName("XObject"));
  d.Insert(1, "Subtype", PdfName("Image"));
  d.Add("Width", PdfNumber(w));
  d.Add("Height", PdfNumber(h));
  TIEPDFStreamObject* imageObj = builder.Register(std::move(image));
  builder.Images.push_back(imageObj);
  const int n = static_cast<int>(builder.Images.size());

  // Scale to fit, compared exactly in integers: the side that binds gets the
  // paper's length, the other its proportional share, truncated.
  int64_t drawnW, drawnH;
  if (paperH * w <= paperW * h) {
    drawnH = paperH;
    drawnW = paperH * w / h;
  } else {
    drawnW = paperW;
    drawnH = paperW * h / w;
  }
  drawnW = std::max<int64_t>(drawnW, 1);
  drawnH = std::max<int64_t>(drawnH, 1);

  auto content = std::make_unique<TIEPDFStreamObject>();
  const std::string text = "q\n" + IntText(drawnW) + " 0 0 " + IntText(drawnH) + " 0 " +
                           IntText(paperH - drawnH) + " cm\n/lm" + IntText(n) + " Do\nQ";
  content->Data.assign(text.begin(), text.end());
  TIEPDFStreamObject* contentObj = builder.Register(std::move(content));
  builder.Contents.push_back(contentObj);

  builder.XObjects->Add("lm" + IntText(n), PdfRef(imageObj->ObjectNumber));

  auto pageObj = std::make_unique<TIEPDFDictionaryObject>();
  pageObj->Add("Type", PdfName("Page"));
  pageObj->Add("Resources", PdfRef(builder.Resources->ObjectNumber));
  auto box = std::make_unique<TIEPDFArrayObject>();
  box->Add(PdfNumber(0));
  box->Add(PdfNumber(0));
  box->Add(PdfNumber(static_cast<double>(paperW)));
  box->Add(PdfNumber(static_cast<double>(paperH)));
  pageObj->Add("MediaBox", std::move(box));
  pageObj->Add("Contents", PdfRef(contentObj->ObjectNumber));
  builder.PageObjects.push_back(builder.Register(std::move(pageObj)));
  return true;
}

void WritePdf(TPdfBuilder& builder, TStream& stream, const TIOParamsVals& params,
              const std::tm* creationTime) {
  auto tree = std::make_unique<TIEPDFDictionaryObject>();
  tree->Add("Type", PdfName("Pages"));
  auto kids = std::make_unique<TIEPDFArrayObject>();
  for (TIEPDFDictionaryObject* p : builder.PageObjects) kids->Add(PdfRef(p->ObjectNumber));
  tree->Add("Kids", std::move(kids));
  tree->Add("Count", PdfNumber(static_cast<double>(builder.PageObjects.size())));
  TIEPDFDictionaryObject* treeObj = builder.Register(std::move(tree));
  for (TIEPDFDictionaryObject* p : builder.PageObjects)
    p->Add("Parent", PdfRef(treeObj->ObjectNumber));
  builder.Catalog->Add("Pages", PdfRef(treeObj->ObjectNumber));

  auto info = std::make_unique<TIEPDFDictionaryObject>();
  const std::pair<const char*, const std::string*> texts[] = {
      {"Title", &params.PdfTitle},     {"Author", &params.PdfAuthor},
      {"Subject", &params.PdfSubject}, {"Keywords", &params.PdfKeywords},
      {"Creator", &params.PdfCreator}, {"Producer", &params.PdfProducer}};
  for (const auto& [key, value] : texts)
    if (!value->empty())
      info->Add(key, std::make_unique<TIEPDFStringObject>(PdfTextString(*value)));
  std::tm now{};
  if (creationTime != nullptr) {
    now = *creationTime;
  } else {
    const std::time_t t = std::time(nullptr);
    localtime_r(&t, &now);
  }
  char date[64];
  std::snprintf(date, sizeof date, "D:%04d%02d%02d%02d%02d%02d", now.tm_year + 1900, now.tm_mon + 1,
                now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
  info->Add("CreationDate", std::make_unique<TIEPDFStringObject>(date));
  TIEPDFDictionaryObject* infoObj = builder.Register(std::move(info));

  const uint64_t start = stream.Position();
  Put(stream, "%PDF-1.4\n");
  const uint8_t marker[] = {0x25, 0xC8, 0xD2, 0xF0, 0xFE, 0x0A};
  stream.Write(marker, sizeof marker);
  for (auto& object : builder.Objects) {
    object->Offset = stream.Position() - start;
    Put(stream, IntText(object->ObjectNumber) + " 0 obj\n");
    object->Write(stream);
    Put(stream, "\nendobj\n");
  }
  const uint64_t xref = stream.Position() - start;
  const size_t count = builder.Objects.size();
  std::string table =
      "xref\n0 " + IntText(static_cast<int64_t>(count + 1)) + "\n0000000000 65535 f \n";
  for (auto& object : builder.Objects) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                  static_cast<unsigned long long>(object->Offset));
    table += entry;
  }
  table += "trailer\n<< /Size " + IntText(static_cast<int64_t>(count + 1)) +
           "\n/Root 1 0 R\n/Info " + IntText(infoObj->ObjectNumber) + " 0 R\n>>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
  Put(stream, table);
}

bool WritePdfPages(TPageList& pages, TStream& stream, TIOProgress& progress,
                   const std::tm* creationTime) {
  const int count = pages.PageCount();
  if (count == 0) return false;
  std::unique_ptr<TPdfBuilder> builder = CreatePdfBuilder();
  for (int i = 0; i < count; ++i) {
    if (progress.Aborting()) return false;
    if (!AddPdfPage(*builder, pages.Bitmap(i), pages.Params(i), progress)) return false;
    if (progress.OnProgress)
      progress.OnProgress(progress.Sender, static_cast<int>(int64_t{i} * 100 / count));
  }
  if (progress.Aborting()) return false;
  WritePdf(*builder, stream, pages.Params(0), creationTime);
  return true;
}

bool SavePdfPages(TPageList& pages, const std::string& fileName, TIOProgress& progress) {
  if (pages.PageCount() == 0) return false;
  TAtomicFile file(fileName);
  if (!WritePdfPages(pages, file.Stream(), progress)) return false;
  file.Commit();
  return true;
}

}  // namespace folivo
