// Folivo — multi-page TIFF editor.
// PDF writer: object text forms, file layout byte for byte, and whole files
// checked by qpdf and rendered by poppler and mupdf.
#include "formats/pdfwriter.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "formats/bitmap.h"
#include "formats/lzw.h"
#include "formats/pagelist.h"
#include "formats/pdfoptions.h"
#include "formats/stream.h"

namespace folivo {
namespace {

namespace fs = std::filesystem;

std::string Text(TIEPDFObject& object) {
  TMemoryStream s;
  object.Write(s);
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TTempDir {
  fs::path path;
  TTempDir() {
    std::string t = (fs::temp_directory_path() / "folivo-pdf-XXXXXX").string();
    path = mkdtemp(t.data());
  }
  ~TTempDir() { fs::remove_all(path); }
};

const std::tm kFixedTime = [] {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  return t;
}();

TEST(PdfObjects, NumbersAreShortDecimalsWithoutExponent) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {595, "595"},
      {-3, "-3"},
      {0.5, "0.5"},
      {1.0 / 3, "0.333333333333333"},
      {841.63, "841.63"},
      {1e20, "100000000000000000000"},
      {1.5e-7, "0.00000015"},
      {-0.0, "0"},
      {std::numeric_limits<double>::quiet_NaN(), "0"},
      {std::numeric_limits<double>::infinity(), "0"},
  };
  for (const auto& c : cases) {
    TIEPDFNumericObject n(c.value);
    EXPECT_EQ(Text(n), c.text) << c.value;
  }
}

TEST(PdfObjects, StringsEscapeTheDelimitersAndControlsOnly) {
  const struct {
    std::string value, text;
  } cases[] = {
      {"plain", "(plain)"},
      {"a(b)c\\", "(a\\(b\\)c\\\\)"},
      {"\b\t\n\f\r", "(\\b\\t\\n\\f\\r)"},
      {"\xE4\xB8\xAD\xE6\x96\x87", "(\xE4\xB8\xAD\xE6\x96\x87)"},  // 中文 as raw bytes
      {std::string("a\0b", 3), std::string("(a\0b)", 5)},
      {"", "()"},
  };
  for (const auto& c : cases) {
    TIEPDFStringObject s(c.value);
    EXPECT_EQ(Text(s), c.text);
  }
}

TEST(PdfObjects, NamesEscapeBytesThatWouldEndOrChangeThem) {
  const struct {
    std::string value, text;
  } cases[] = {
      {"DeviceGray", "/DeviceGray"}, {"A B", "/A#20B"},       {"a#b", "/a#23b"},
      {"a/b(c)", "/a#2Fb#28c#29"},   {"\x7F\xE4", "/#7F#E4"}, {"~!", "/~!"},
  };
  for (const auto& c : cases) {
    TIEPDFNameObject n(c.value);
    EXPECT_EQ(Text(n), c.text);
  }
}

TEST(PdfObjects, ContainersKeepOrderAndTrailingSpaces) {
  TIEPDFArrayObject empty;
  EXPECT_EQ(Text(empty), "[]");
  TIEPDFArrayObject box;
  for (int v : {0, 0, 595, 842}) box.Add(PdfNumber(v));
  EXPECT_EQ(Text(box), "[0 0 595 842 ]");

  TIEPDFDictionaryObject d;
  d.Add("Zeta", PdfNumber(1));
  d.Add("Alpha", std::make_unique<TIEPDFBooleanObject>(false));
  d.Insert(0, "First", PdfRef(7));
  d.Add("Sub", std::make_unique<TIEPDFDictionaryObject>());
  EXPECT_EQ(Text(d), "<< /First 7 0 R\n/Zeta 1\n/Alpha false\n/Sub << >>\n>>");

  TIEPDFStreamObject s;
  s.Dictionary.Add("Filter", PdfName("LZWDecode"));
  s.Data = {'a', 'b', 'c'};
  EXPECT_EQ(Text(s), "<< /Length 3\n/Filter /LZWDecode\n>>\nstream\nabc\nendstream");
}

std::vector<uint8_t> RunLengthDecode(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < in.size() && in[i] != 128) {
    const int n = in[i++];
    if (n < 128) {
      out.insert(out.end(), in.begin() + i, in.begin() + i + n + 1);
      i += n + 1;
    } else {
      out.insert(out.end(), 257 - n, in[i++]);
    }
  }
  EXPECT_EQ(i + 1, in.size()) << "128 ends the block and nothing follows";
  return out;
}

TEST(PdfRunLength, RecordsAsDescribed) {
  const struct {
    std::vector<uint8_t> in, out;
  } cases[] = {
      {{}, {128}},
      {{5}, {0, 5, 128}},
      {{7, 7, 7}, {254, 7, 128}},
      // The first byte of a pair stays in the literal.
      {{1, 2, 2, 3}, {1, 1, 2, 1, 2, 3, 128}},
      {{1, 2, 2, 2}, {1, 1, 2, 255, 2, 128}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out;
    PdfRunLengthEncode(c.in.data(), c.in.size(), out);
    EXPECT_EQ(out, c.out);
  }
}

TEST(PdfRunLength, LongRunsAndLiteralsSplitAt128AndDecodeBack) {
  std::vector<uint8_t> data(300, 9);                                      // 128 + 128 + 44
  for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(i));  // literals
  for (int i = 0; i < 500; ++i) data.push_back(static_cast<uint8_t>((i * i) % 3));
  std::vector<uint8_t> out;
  PdfRunLengthEncode(data.data(), data.size(), out);
  EXPECT_EQ(out[0], 129);
  EXPECT_EQ(out[2], 129);
  EXPECT_EQ(out[4], 257 - 44);
  EXPECT_EQ(RunLengthDecode(out), data);
}

// A document written to memory with a fixed creation date.
std::string WriteDocument(TPageList& pages) {
  TMemoryStream s;
  TIOProgress progress;
  EXPECT_TRUE(WritePdfPages(pages, s, progress, &kFixedTime));
  return std::string(s.Bytes().begin(), s.Bytes().end());
}

int AddPage(TPageList& pages, int w, int h, TPagePixelFormat format, uint8_t compression,
            int paperW, int paperH) {
  const int i = pages.Append();
  pages.Bitmap(i).Allocate(w, h, format);
  pages.Bitmap(i).Fill(0xFFFFFF);
  pages.Params(i).PdfCompression = compression;
  pages.Params(i).PdfPaperWidth = paperW;
  pages.Params(i).PdfPaperHeight = paperH;
  return i;
}

// Every object's xref offset must point at its "n 0 obj" line, and
// startxref at the table.
void CheckCrossReferences(const std::string& file, int objects) {
  const size_t xref = file.rfind("\nxref\n") + 1;
  ASSERT_NE(xref, std::string::npos);
  const size_t start = file.find("startxref\n");
  EXPECT_EQ(std::stoul(file.substr(start + 10)), xref);
  const std::string head = "xref\n0 " + std::to_string(objects + 1) + "\n0000000000 65535 f \n";
  ASSERT_EQ(file.compare(xref, head.size(), head), 0);
  for (int n = 1; n <= objects; ++n) {
    const std::string entry = file.substr(xref + head.size() + 20 * (n - 1), 20);
    ASSERT_EQ(entry.substr(10), " 00000 n \n") << entry;
    const size_t offset = std::stoul(entry.substr(0, 10));
    const std::string frame = std::to_string(n) + " 0 obj\n";
    EXPECT_EQ(file.compare(offset, frame.size(), frame), 0) << "object " << n;
  }
}

TEST(PdfFile, OneA4G4PageLayoutByteForByte) {
  TPageList pages;
  const int i = AddPage(pages, 2480, 3508, ie1g, 2, 595, 842);
  pages.Params(i).PdfTitle = "Scan (1)";
  pages.Params(i).PdfAuthor = "\xE5\xBC\xA0\xE4\xB8\x89";  // 张三
  pages.Params(i).PdfProducer = "Folivo";
  const std::string f = WriteDocument(pages);

  EXPECT_EQ(f.substr(0, 15), "%PDF-1.4\n%\xC8\xD2\xF0\xFE\n");
  EXPECT_NE(f.find("1 0 obj\n<< /Type /Catalog\n/Pages 6 0 R\n>>\nendobj\n"), std::string::npos);
  EXPECT_NE(
      f.find("2 0 obj\n<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n>>\n>>\nendobj\n"),
      std::string::npos);
  const std::string imageHead = "3 0 obj\n<< /Type /XObject\n/Subtype /Image\n/Length ";
  const size_t image = f.find(imageHead);
  ASSERT_NE(image, std::string::npos);
  const std::string imageTail =
      "\n/Filter /CCITTFaxDecode\n/DecodeParms << /K -1\n/BlackIs1 true\n/Columns 2480\n"
      "/Rows 3508\n/EndOfLine false\n/Uncompressed true\n/EncodedByteAlign false\n"
      "/EndOfBlock false\n>>\n/ColorSpace /DeviceGray\n/BitsPerComponent 1\n/Width 2480\n"
      "/Height 3508\n>>\nstream\n";
  const size_t lengthAt = image + imageHead.size();
  const size_t length = std::stoul(f.substr(lengthAt));
  const size_t dataAt = f.find(imageTail, lengthAt) + imageTail.size();
  ASSERT_EQ(f.find(imageTail, lengthAt), lengthAt + std::to_string(length).size());
  EXPECT_EQ(f.substr(dataAt + length, 18), "\nendstream\nendobj\n");
  EXPECT_NE(f.find("4 0 obj\n<< /Length 30\n>>\nstream\nq\n595 0 0 841 0 1 cm\n/lm1 Do\nQ\n"
                   "endstream\nendobj\n"),
            std::string::npos);
  EXPECT_NE(f.find("5 0 obj\n<< /Type /Page\n/Resources 2 0 R\n/MediaBox [0 0 595 842 ]\n"
                   "/Contents 4 0 R\n/Parent 6 0 R\n>>\nendobj\n"),
            std::string::npos);
  EXPECT_NE(f.find("6 0 obj\n<< /Type /Pages\n/Kids [5 0 R ]\n/Count 1\n>>\nendobj\n"),
            std::string::npos);
  EXPECT_NE(f.find("7 0 obj\n<< /Title (Scan \\(1\\))\n/Author (\xFE\xFF_ N\\t)\n"
                   "/Producer (Folivo)\n/CreationDate (D:20240305070809)\n>>\nendobj\nxref\n"),
            std::string::npos);
  CheckCrossReferences(f, 7);
  const std::string trailer = "trailer\n<< /Size 8\n/Root 1 0 R\n/Info 7 0 R\n>>\nstartxref\n" +
                              std::to_string(f.rfind("\nxref\n") + 1) + "\n%%EOF\n";
  EXPECT_EQ(f.substr(f.size() - trailer.size()), trailer);
  EXPECT_EQ(pages.Params(i).BitsPerSample, 1);
  EXPECT_EQ(pages.Params(i).SamplesPerPixel, 1);
}

TEST(PdfFile, PagesShareOneResourceDictionary) {
  TPageList pages;
  AddPage(pages, 40, 30, ie1g, 5, 40, 30);
  AddPage(pages, 20, 50, ie24RGB, 0, 20, 50);
  const std::string f = WriteDocument(pages);
  EXPECT_NE(f.find("2 0 obj\n<< /ProcSet [/PDF /ImageB ]\n/XObject << /lm1 3 0 R\n/lm2 6 0 R\n"
                   ">>\n>>\nendobj\n"),
            std::string::npos);
  EXPECT_NE(f.find("/Contents 7 0 R\n/Parent 9 0 R\n"), std::string::npos);
  EXPECT_NE(f.find("9 0 obj\n<< /Type /Pages\n/Kids [5 0 R 8 0 R ]\n/Count 2\n>>"),
            std::string::npos);
  // Automatic paper: the image fills the page exactly.
  EXPECT_NE(f.find("stream\nq\n40 0 0 30 0 0 cm\n/lm1 Do\nQ\nendstream"), std::string::npos);
  EXPECT_NE(f.find("stream\nq\n20 0 0 50 0 0 cm\n/lm2 Do\nQ\nendstream"), std::string::npos);
  EXPECT_NE(f.find("/Info 10 0 R"), std::string::npos);
  CheckCrossReferences(f, 10);
}

TEST(PdfFile, PlacementFitsOneSideAndSitsTopLeft) {
  const struct {
    int w, h, paperW, paperH;
    const char* cm;
  } cases[] = {
      {2480, 3508, 595, 842, "595 0 0 841 0 1 cm"},
      {3508, 2480, 595, 842, "595 0 0 420 0 422 cm"},
      {100, 100, 595, 842, "595 0 0 595 0 247 cm"},
      {10000, 1, 595, 842, "595 0 0 1 0 841 cm"},  // at least one point high
  };
  for (const auto& c : cases) {
    TPageList pages;
    AddPage(pages, c.w, c.h, ie1g, 0, c.paperW, c.paperH);
    EXPECT_NE(WriteDocument(pages).find(std::string("q\n") + c.cm + "\n"), std::string::npos)
        << c.cm;
  }
}

TEST(PdfFile, CompressionFollowsThePageFormat) {
  const struct {
    TPagePixelFormat format;
    uint8_t compression, after;
    const char* entries;
    int bits, samples;
  } cases[] = {
      {ie1g, 4, 3, "/Filter /CCITTFaxDecode\n/DecodeParms << /K 1\n", 1, 1},
      {ie1g, 1, 1, "/Filter [/RunLengthDecode ]\n/ColorSpace /DeviceGray\n/BitsPerComponent 1\n", 1,
       1},
      {ie24RGB, 2, 2, "/Length 18\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n", 8, 3},
      {ie24RGB, 4, 4, "/Filter /DCTDecode\n/ColorSpace /DeviceRGB\n", 8, 3},
      {ie24RGB, 5, 5, "/Filter /LZWDecode\n/ColorSpace /DeviceRGB\n", 8, 3},
      {ie8g, 3, 3, "/Length 6\n/ColorSpace /DeviceGray\n/BitsPerComponent 8\n", 8, 1},
      {ie8p, 0, 0, "/Length 18\n/ColorSpace /DeviceRGB\n/BitsPerComponent 8\n", 8, 3},
      {ie16g, 0, 0, "/Length 6\n/ColorSpace /DeviceGray\n/BitsPerComponent 8\n", 8, 1},
  };
  for (const auto& c : cases) {
    TPageList pages;
    const int i = AddPage(pages, 3, 2, c.format, c.compression, 3, 2);
    const std::string f = WriteDocument(pages);
    EXPECT_NE(f.find(c.entries), std::string::npos) << c.entries;
    EXPECT_EQ(pages.Params(i).PdfCompression, c.after);
    EXPECT_EQ(pages.Params(i).BitsPerSample, c.bits);
    EXPECT_EQ(pages.Params(i).SamplesPerPixel, c.samples);
  }
}

TEST(PdfFile, RgbSamplesAreReorderedAndGrayJpegSaysGray) {
  TPageList pages;
  int i = AddPage(pages, 1, 1, ie24RGB, 0, 1, 1);
  uint8_t* p = pages.Bitmap(i).GetScanline(0);
  p[0] = 1, p[1] = 2, p[2] = 3;  // blue, green, red
  i = AddPage(pages, 8, 8, ie24RGB, 4, 8, 8);
  pages.Params(i).TiffJpegColorSpace = 1;
  const std::string f = WriteDocument(pages);
  EXPECT_NE(f.find("/Height 1\n>>\nstream\n\x03\x02\x01\nendstream"), std::string::npos);
  EXPECT_NE(f.find("/Filter /DCTDecode\n/ColorSpace /DeviceGray\n"), std::string::npos);
}

TEST(PdfFile, FailuresWriteNothing) {
  TPageList none;
  TMemoryStream s;
  TIOProgress progress;
  EXPECT_FALSE(WritePdfPages(none, s, progress));
  EXPECT_EQ(s.Size(), 0u);

  // An empty second page, a zero paper and missing LZW routines each stop the save.
  for (int kind = 0; kind < 3; ++kind) {
    TPageList pages;
    AddPage(pages, 8, 8, ie1g, 2, 8, 8);
    const int i = pages.Append();
    pages.Params(i).PdfCompression = 5;
    if (kind != 0) pages.Bitmap(i).Allocate(8, 8, ie24RGB);
    if (kind == 1) pages.Params(i).PdfPaperHeight = 0;
    const TLzwDecompressorFn d = DefaultLzwDecompressor();
    const TLzwCompressorFn c = DefaultLzwCompressor();
    if (kind == 2) SetDefaultLzwRoutines(nullptr, nullptr);
    TMemoryStream out;
    TIOProgress p;
    EXPECT_FALSE(WritePdfPages(pages, out, p)) << kind;
    SetDefaultLzwRoutines(d, c);
    EXPECT_TRUE(p.Aborting());
    EXPECT_EQ(out.Size(), 0u);
  }
}

TEST(PdfSave, ReplacesOnlyOnSuccessAndReportsProgress) {
  InstallDefaultLzwRoutines();
  TTempDir dir;
  const fs::path target = dir.path / "doc.pdf";
  { std::ofstream(target) << "old"; }
  TPageList pages;
  for (int i = 0; i < 4; ++i) AddPage(pages, 16, 16, ie1g, 2, 16, 16);

  // The user aborts after the second page: the old file stays, nothing else appears.
  TIOProgress aborted;
  std::vector<int> seen;
  aborted.OnProgress = [&](void*, int percent) {
    seen.push_back(percent);
    if (seen.size() == 2) aborted.Abort();
  };
  EXPECT_FALSE(SavePdfPages(pages, target.string(), aborted));
  EXPECT_EQ(seen, (std::vector<int>{0, 25}));
  EXPECT_EQ(Slurp(target), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

  TIOProgress progress;
  seen.clear();
  progress.OnProgress = [&](void*, int percent) { seen.push_back(percent); };
  EXPECT_TRUE(SavePdfPages(pages, target.string(), progress));
  EXPECT_EQ(seen, (std::vector<int>{0, 25, 50, 75}));
  EXPECT_EQ(Slurp(target).substr(0, 8), "%PDF-1.4");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

  TPageList empty;
  EXPECT_FALSE(SavePdfPages(empty, (dir.path / "new.pdf").string(), progress));
  EXPECT_FALSE(fs::exists(dir.path / "new.pdf"));
}

// ---- peers -------------------------------------------------------------

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct TRun {
  int code = -1;
  std::string out;
};

TRun Shell(const std::string& command) {
  TRun r;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

struct TImage {
  int width = 0, height = 0, channels = 0;
  std::vector<uint8_t> pixels;
};

// P5 or P6 with maxval 255, as pdftoppm and mutool write them.
TImage ReadPnm(const fs::path& path) {
  TImage image;
  const std::string b = Slurp(path);
  std::istringstream in(b);
  std::string magic;
  int maxval = 0;
  in >> magic >> image.width >> image.height >> maxval;
  in.get();
  if ((magic != "P5" && magic != "P6") || maxval != 255) return TImage();
  image.channels = magic == "P5" ? 1 : 3;
  const size_t size = static_cast<size_t>(image.width) * image.height * image.channels;
  const size_t at = static_cast<size_t>(in.tellg());
  if (b.size() < at + size) return TImage();
  image.pixels.assign(b.begin() + at, b.begin() + at + size);
  return image;
}

// The page as the renderers should show it: gray for 1-bit and gray pages, RGB else.
TImage Expected(const TIEBitmap& page) {
  TImage image;
  image.width = page.Width();
  image.height = page.Height();
  image.channels = page.PixelFormat() == ie24RGB ? 3 : 1;
  for (int y = 0; y < page.Height(); ++y) {
    const uint8_t* row = page.GetScanline(y);
    for (int x = 0; x < page.Width(); ++x) {
      if (page.PixelFormat() == ie1g) {
        image.pixels.push_back((row[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
      } else if (page.PixelFormat() == ie8g) {
        image.pixels.push_back(row[x]);
      } else {
        image.pixels.insert(image.pixels.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
      }
    }
  }
  return image;
}

// Pages with detail and long runs; 1-bit widths not a multiple of 8.
void Paint(TIEBitmap& b) {
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.GetScanline(y);
    for (int x = 0; x < b.Width(); ++x) {
      switch (b.PixelFormat()) {
        case ie1g: {
          const bool black = ((x / 5 + y / 3) % 3 == 0) || (x * 7 + y * 13) % 29 == 0 ||
                             (x > 60 && y > 20 && y < 40);
          const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
          row[x / 8] = black ? row[x / 8] & ~bit : row[x / 8] | bit;
          break;
        }
        case ie8g:
          row[x] = static_cast<uint8_t>(x * 3 + y * 2);
          break;
        default:
          row[3 * x] = static_cast<uint8_t>(x * 4);
          row[3 * x + 1] = static_cast<uint8_t>(y * 3 + x);
          row[3 * x + 2] = static_cast<uint8_t>(200 - y * 2);
      }
    }
  }
}

// Largest and mean absolute sample difference; -1 when the sizes differ.
std::pair<int, double> Difference(const TImage& a, const TImage& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels ||
      a.pixels.size() != b.pixels.size() || a.pixels.empty())
    return {-1, -1};
  int worst = 0;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const int d = std::abs(a.pixels[i] - b.pixels[i]);
    worst = std::max(worst, d);
    sum += d;
  }
  return {worst, sum / static_cast<double>(a.pixels.size())};
}

// Every 4th pixel of a 4x rendering: poppler smooths images drawn at less
// than four times their size, so it is asked for 4x and sampled back.
TImage Downsample4(const TImage& big) {
  TImage small;
  small.width = big.width / 4;
  small.height = big.height / 4;
  small.channels = big.channels;
  for (int y = 0; y < small.height; ++y)
    for (int x = 0; x < small.width; ++x)
      for (int c = 0; c < big.channels; ++c)
        small.pixels.push_back(
            big.pixels[(static_cast<size_t>(4 * y + 1) * big.width + 4 * x + 1) * big.channels +
                       c]);
  return small;
}

TEST(PdfPeers, EveryPageKindAndCompressionChecksAndRendersBack) {
  if (!HaveTool("qpdf") || !HaveTool("pdftoppm") || !HaveTool("pdfimages") || !HaveTool("mutool") ||
      !HaveTool("pdfinfo"))
    GTEST_SKIP() << "qpdf, poppler-utils and mupdf-tools are needed";
  InstallDefaultLzwRoutines();
  TTempDir dir;
  const struct {
    const char* name;
    TPagePixelFormat format;
    int w, h;
  } kinds[] = {{"bilevel", ie1g, 93, 61}, {"rgb", ie24RGB, 50, 37}, {"gray", ie8g, 41, 29}};
  const char* const filters[] = {"image", "image", "ccitt", "ccitt", "jpeg", "image"};
  for (const auto& kind : kinds) {
    for (int compression = 0; compression < 6; ++compression) {
      for (int paper : {kPdfAutoPageSize, 4, 10}) {
        const std::string name = std::string(kind.name) + "-" + std::to_string(compression) + "-" +
                                 std::to_string(paper);
        SCOPED_TRACE(name);
        TPageList pages;
        const int i = pages.Append();
        pages.Bitmap(i).Allocate(kind.w, kind.h, kind.format);
        Paint(pages.Bitmap(i));
        TPdfOptions options;
        options.Compression = compression;
        options.PageSize = paper;
        options.Title = "T(" + name + ")";
        ApplyPdfOptions(options, pages);
        const int paperW = pages.Params(i).PdfPaperWidth, paperH = pages.Params(i).PdfPaperHeight;
        const fs::path pdf = dir.path / (name + ".pdf");
        TIOProgress progress;
        ASSERT_TRUE(SavePdfPages(pages, pdf.string(), progress));

        const TRun check = Shell("qpdf --check '" + pdf.string() + "'");
        EXPECT_EQ(check.code, 0) << check.out;
        EXPECT_EQ(check.out.find("WARNING"), std::string::npos) << check.out;

        const bool bilevel = kind.format == ie1g;
        const char* filter = filters[compression];
        if (!bilevel && (compression == 2 || compression == 3)) filter = "image";
        if (bilevel && compression == 4) filter = "ccitt";
        const TRun list = Shell("pdfimages -list '" + pdf.string() + "'");
        const std::regex row(R"(\n\s+1\s+0\s+image\s+(\d+)\s+(\d+)\s+(\w+)\s+\d+\s+(\d+)\s+(\w+))");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(list.out, m, row)) << list.out;
        EXPECT_EQ(m[1], std::to_string(kind.w));
        EXPECT_EQ(m[2], std::to_string(kind.h));
        EXPECT_EQ(m[3], kind.format == ie24RGB ? "rgb" : "gray");
        EXPECT_EQ(m[4], bilevel ? "1" : "8");
        EXPECT_EQ(m[5], filter);
        EXPECT_EQ(list.out.find("\n   2 "), std::string::npos) << "one image only";

        const TRun info = Shell("pdfinfo '" + pdf.string() + "'");
        EXPECT_TRUE(
            std::regex_search(info.out, std::regex("\nPage size:\\s+" + std::to_string(paperW) +
                                                   " x " + std::to_string(paperH) + " pts")))
            << info.out;
        EXPECT_NE(info.out.find("T(" + name + ")\n"), std::string::npos) << info.out;
        EXPECT_TRUE(std::regex_search(info.out, std::regex("\nProducer:\\s+Folivo\n")));
        if (paper != kPdfAutoPageSize) continue;

        // One pixel, one point: rendered at 72 dpi the page is the image.
        const TImage want = Expected(pages.Bitmap(i));
        const std::string mode = want.channels == 1 ? " -gray" : "";
        const fs::path base = dir.path / name;
        Shell("pdftoppm -r 288" + mode + " '" + pdf.string() + "' '" + base.string() + "p'");
        const TImage poppler =
            Downsample4(ReadPnm(base.string() + "p-1." + (want.channels == 1 ? "pgm" : "ppm")));
        const fs::path mu = base.string() + (want.channels == 1 ? "m.pgm" : "m.ppm");
        Shell("mutool draw -q -r 72 -c " + std::string(want.channels == 1 ? "gray" : "rgb") +
              " -o '" + mu.string() + "' '" + pdf.string() + "'");
        const TImage mupdf = ReadPnm(mu);
        const bool lossy = compression == 4 && !bilevel;
        for (const TImage* got : {&poppler, &mupdf}) {
          const auto [worst, mean] = Difference(want, *got);
          ASSERT_GE(worst, 0) << (got == &poppler ? "pdftoppm" : "mutool") << " size";
          if (lossy) {
            EXPECT_LE(worst, 40);
            EXPECT_LE(mean, 3.0);
          } else {
            EXPECT_EQ(worst, 0) << (got == &poppler ? "pdftoppm" : "mutool");
          }
        }
      }
    }
  }
}

TEST(PdfPeers, MixedDocumentKeepsPageOrderAndSizes) {
  if (!HaveTool("qpdf") || !HaveTool("pdfinfo")) GTEST_SKIP() << "qpdf and pdfinfo are needed";
  TTempDir dir;
  TPageList pages;
  const TPagePixelFormat formats[] = {ie1g, ie24RGB, ie8g};
  const int sizes[][2] = {{2480, 3508}, {300, 200}, {120, 120}};
  for (int k = 0; k < 3; ++k) {
    const int i = pages.Append();
    pages.Bitmap(i).Allocate(sizes[k][0], sizes[k][1], formats[k]);
    Paint(pages.Bitmap(i));
  }
  TPdfOptions options;                          // first-use defaults: A4, auto-rotate, LZW
  options.Author = "\xE4\xBD\x9C\xE8\x80\x85";  // 作者
  ApplyPdfOptions(options, pages);
  const fs::path pdf = dir.path / "mixed.pdf";
  TIOProgress progress;
  ASSERT_TRUE(SavePdfPages(pages, pdf.string(), progress));
  const TRun check = Shell("qpdf --check '" + pdf.string() + "'");
  EXPECT_EQ(check.code, 0) << check.out;
  const TRun info = Shell("pdfinfo -f 1 -l 3 '" + pdf.string() + "'");
  for (const char* line :
       {R"(\nPages:\s+3\n)", R"(\nPage\s+1 size:\s+595 x 842 pts)",
        R"(\nPage\s+2 size:\s+842 x 595 pts)", R"(\nPage\s+3 size:\s+595 x 842 pts)",
        "(^|\n)Author:\\s+\xE4\xBD\x9C\xE8\x80\x85\n"})
    EXPECT_TRUE(std::regex_search(info.out, std::regex(line))) << line << "\n" << info.out;
}

}  // namespace
}  // namespace folivo
