// Folivo — multi-page TIFF editor.
// PDF writing: 100 bilevel A4 pages as G4, 20 colour A4 pages as JPEG and as
// LZW, in pages per second. Peers in the same run: for G4, libtiff decoding
// the G4 pages and encoding them again as G4 (tiff2pdf's copy of G4 data is
// printed as the byte-copy floor); for colour, tiff2pdf -j -q 80 and -z.
// Also the peak memory our writer adds over the pages it is given.
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/benchutil.h"
#include "formats/lzw.h"
#include "formats/pagelist.h"
#include "formats/pdfwriter.h"
#include "formats/stream.h"

namespace {

namespace fs = std::filesystem;
using namespace folivo;
using namespace folivo::bench;

bool gSmoke = false;

long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "VmHWM:") {
      long kb = 0;
      in >> kb;
      return kb;
    }
    in.ignore(4096, '\n');
  }
  return 0;
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      in >> kb;
      return kb;
    }
    in.ignore(4096, '\n');
  }
  return 0;
}

void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

double RunCommand(const std::string& command, int runs) {
  return Seconds(
      [&] {
        if (std::system(command.c_str()) != 0) std::printf("  (peer command failed: %s)\n", command.c_str());
      },
      runs);
}

// Writes pages to path as a multi-page TIFF with libtiff (bilevel: G4, bit 1 = black).
void WriteTiff(const std::string& path, const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h,
               int pages, bool bilevel) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  const size_t rowBytes = bilevel ? (w + 7) / 8 : size_t{w} * 3;
  for (int p = 0; p < pages; ++p) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, bilevel ? 1 : 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_COMPRESSION, bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, bilevel ? h : 16);
    for (uint32_t y = 0; y < h; ++y)
      TIFFWriteScanline(t, const_cast<uint8_t*>(&pixels[y * rowBytes]), y, 0);
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
}

// libtiff's share of the G4 work: decode every page and encode it as G4 again.
void LibtiffRecodeG4(const std::string& in, const std::string& out) {
  TIFF* src = TIFFOpen(in.c_str(), "r");
  TIFF* dst = TIFFOpen(out.c_str(), "w");
  std::vector<uint8_t> page;
  do {
    uint32_t w = 0, h = 0;
    TIFFGetField(src, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(src, TIFFTAG_IMAGELENGTH, &h);
    page.resize(static_cast<size_t>(TIFFStripSize(src)));
    TIFFReadEncodedStrip(src, 0, page.data(), static_cast<tmsize_t>(page.size()));
    TIFFSetField(dst, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(dst, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(dst, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(dst, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(dst, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(dst, TIFFTAG_ROWSPERSTRIP, h);
    TIFFWriteEncodedStrip(dst, 0, page.data(), static_cast<tmsize_t>(page.size()));
    TIFFWriteDirectory(dst);
  } while (TIFFReadDirectory(src));
  TIFFClose(dst);
  TIFFClose(src);
}

// Our document: pages of the given pixels (bilevel bits 1 = black become ie1g).
void MakePages(TPageList& pages, const std::vector<uint8_t>& pixels, uint32_t w, uint32_t h,
               int count, bool bilevel) {
  for (int p = 0; p < count; ++p) {
    int i = pages.Append();
    TIEBitmap& b = pages.Bitmap(i);
    b.Allocate(static_cast<int>(w), static_cast<int>(h), bilevel ? ie1g : ie24RGB);
    const size_t rowBytes = bilevel ? (w + 7) / 8 : size_t{w} * 3;
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = b.GetScanline(static_cast<int>(y));
      const uint8_t* src = &pixels[y * rowBytes];
      if (bilevel) {
        for (size_t x = 0; x < rowBytes; ++x) row[x] = static_cast<uint8_t>(~src[x]);
      } else {
        for (uint32_t x = 0; x < w; ++x) {  // RGB to blue, green, red
          row[3 * x] = src[3 * x + 2];
          row[3 * x + 1] = src[3 * x + 1];
          row[3 * x + 2] = src[3 * x];
        }
      }
    }
    pages.Params(i).BitsPerSample = bilevel ? 1 : 8;
    pages.Params(i).SamplesPerPixel = bilevel ? 1 : 3;
  }
}

// Writes the document with the given compression; returns seconds, and the
// peak memory the write added in kB.
double OursWrite(TPageList& pages, int compression, const std::string& path, int runs,
                 long& addedKb) {
  for (int i = 0; i < pages.PageCount(); ++i) {
    pages.Params(i).PdfCompression = static_cast<uint8_t>(compression);
    pages.Params(i).TiffJpegQuality = 80;
  }
  addedKb = 0;
  return Seconds(
      [&] {
        const long before = RssKb();
        ResetPeakRss();
        TFileStream out(path, TFileStream::TMode::Create);
        TIOProgress progress;
        if (!WritePdfPages(pages, out, progress)) std::printf("  (our write failed)\n");
        addedKb = std::max(addedKb, PeakRssKb() - before);
      },
      runs);
}

void Line(const char* what, int pages, double ours, double peer, const char* peerName) {
  std::printf("%-22s ours %7.1f pages/s   %-28s %7.1f pages/s   ratio %.2f\n", what, pages / ours,
              peerName, pages / peer, peer / ours);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--smoke") gSmoke = true;
  InstallDefaultLzwRoutines();
  const fs::path dir = fs::temp_directory_path() / ("folivo-bench-pdf-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const uint32_t w = gSmoke ? 496 : kA4WidthPx, h = gSmoke ? 702 : kA4HeightPx;
  const int bilevelPages = gSmoke ? 3 : 100, colourPages = gSmoke ? 2 : 20, runs = gSmoke ? 1 : 3;
  const std::string ourPdf = (dir / "ours.pdf").string();

  {
    const std::vector<uint8_t> text = TextPage(w, h);
    const std::string g4 = (dir / "g4.tif").string();
    WriteTiff(g4, text, w, h, bilevelPages, true);
    TPageList pages;
    MakePages(pages, text, w, h, bilevelPages, true);
    long addedKb = 0;
    const double ours = OursWrite(pages, 2, ourPdf, runs, addedKb);
    const double peer = Seconds([&] { LibtiffRecodeG4(g4, (dir / "recoded.tif").string()); }, runs);
    Line("G4, bilevel", bilevelPages, ours, peer, "libtiff decode + G4 encode");
    const double floor = RunCommand("tiff2pdf -o " + (dir / "t2p.pdf").string() + " " + g4, runs);
    std::printf("%-22s %s %.1f pages/s (byte copy, not a peer)\n", "", "tiff2pdf G4 copy floor",
                bilevelPages / floor);
    std::printf("%-22s peak memory added %ld kB; output %ld kB; one page %ld kB\n", "", addedKb,
                static_cast<long>(fs::file_size(ourPdf) / 1024), static_cast<long>((w + 7) / 8 * h / 1024));
  }
  {
    const std::vector<uint8_t> photo = PhotoPage(w, h);
    const std::string rgb = (dir / "rgb.tif").string();
    WriteTiff(rgb, photo, w, h, colourPages, false);
    TPageList pages;
    MakePages(pages, photo, w, h, colourPages, false);
    long addedKb = 0;
    double ours = OursWrite(pages, 4, ourPdf, runs, addedKb);
    double peer = RunCommand("tiff2pdf -j -q 80 -o " + (dir / "t2p.pdf").string() + " " + rgb, runs);
    Line("JPEG q80, colour", colourPages, ours, peer, "tiff2pdf -j -q 80");
    std::printf("%-22s peak memory added %ld kB; output %ld kB; one page %ld kB\n", "", addedKb,
                static_cast<long>(fs::file_size(ourPdf) / 1024), static_cast<long>(w * 3 * h / 1024));
    ours = OursWrite(pages, 5, ourPdf, runs, addedKb);
    peer = RunCommand("tiff2pdf -z -o " + (dir / "t2p.pdf").string() + " " + rgb, runs);
    Line("LZW, colour", colourPages, ours, peer, "tiff2pdf -z (Deflate)");
    std::printf("%-22s peak memory added %ld kB; output %ld kB; one page %ld kB\n", "", addedKb,
                static_cast<long>(fs::file_size(ourPdf) / 1024), static_cast<long>(w * 3 * h / 1024));
  }
  fs::remove_all(dir);
  return 0;
}
