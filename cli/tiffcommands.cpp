// Folivo — multi-page TIFF editor.
// info, count, split and render: TIFF files through the core's reader.
#include <sys/stat.h>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "formats/bitmap.h"
#include "formats/errors.h"
#include "formats/params.h"
#include "formats/stream.h"
#include "formats/tiffpages.h"
#include "formats/tiffreader.h"

namespace folivo::cli {

namespace {

struct TPageRead {
  TIEBitmap bitmap;
  TIOParamsVals params;
  int pageCount = 0;
  bool ok = false;
};

void ReadPage(TStream& stream, int index, bool paramsOnly, TPageRead& page) {
  TIOProgress progress;
  page.params.SetImageIndex(index);
  page.params.NativePixelFormat = false;
  stream.Seek(0);
  ReadTiffStream(paramsOnly ? nullptr : &page.bitmap, stream, page.pageCount, false, true, false,
                 nullptr, paramsOnly, progress, &page.params);
  page.ok = !progress.Aborting();
}

bool ParsePage(const std::string& text, int& page) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  page = std::stoi(text);
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void WritePnm(const TIEBitmap& b, const std::string& path) {
  TFileStream out(path, TFileStream::TMode::Create);
  const bool bilevel = b.PixelFormat() == ie1g;
  const std::string header = std::string(bilevel ? "P4\n" : "P6\n") + std::to_string(b.Width()) +
                             ' ' + std::to_string(b.Height()) + (bilevel ? "\n" : "\n255\n");
  out.Write(header.data(), header.size());
  const size_t bytes =
      bilevel ? (static_cast<size_t>(b.Width()) + 7) / 8 : static_cast<size_t>(b.Width()) * 3;
  std::vector<uint8_t> row(bytes);
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* src = b.GetScanline(y);
    if (bilevel) {
      // PBM: 1 is black; the page bitmap has 1 for white.
      for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(~src[i]);
      if (b.Width() % 8) row[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (b.Width() % 8));
    } else {
      for (int x = 0; x < b.Width(); ++x) {
        row[3 * x] = src[3 * x + 2];
        row[3 * x + 1] = src[3 * x + 1];
        row[3 * x + 2] = src[3 * x];
      }
    }
    out.Write(row.data(), row.size());
  }
  out.Commit();
}

}  // namespace

std::string SplitOutputName(const std::string& folder, const std::string& source, int index) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", index + 1);
  std::string dir = folder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + BaseName(source) + '_' + number + ".tif";
}

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TFileStream stream(args[0], TFileStream::TMode::Read);
  TPageRead first;
  ReadPage(stream, 0, true, first);
  if (first.pageCount == 0 && !first.ok) {
    err << "error: " << args[0] << ": not a TIFF file\n";
    return 1;
  }
  out << "pages=" << first.pageCount << '\n';
  for (int i = 0; i < first.pageCount; ++i) {
    TPageRead page;
    ReadPage(stream, i, true, page);
    const TIOParamsVals& p = page.params;
    out << "page=" << i << " width=" << p.Width << " height=" << p.Height
        << " bits=" << p.BitsPerSample << " samples=" << p.SamplesPerPixel
        << " photometric=" << TiffPhotometricTag(p.TiffPhotometric) << " compression=\""
        << TiffCompressionText(p.TiffCompression) << "\" dpix=" << p.DpiX() << " dpiy=" << p.DpiY()
        << '\n';
  }
  return 0;
}

int RunCount(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
  long long total = 0;
  for (const std::string& path : args) {
    const int n = CountTiffPages(path);
    total += n;
    out << n << '\t' << path << '\n';
  }
  out << "total\t" << total << '\n';
  return 0;
}

int RunSplit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  struct stat st {};
  if (stat(args[1].c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    err << "error: " << args[1] << ": not a folder\n";
    return 1;
  }
  const int n = CountTiffPages(args[0]);
  if (n == 0) {
    err << "error: " << args[0] << ": no TIFF pages\n";
    return 1;
  }
  std::vector<int> pages(static_cast<size_t>(n));
  std::vector<std::string> targets(pages.size());
  for (int i = 0; i < n; ++i) {
    pages[i] = i;
    targets[i] = SplitOutputName(args[1], args[0], i);
  }
  const size_t written = ExtractTiffPages(args[0], pages, targets);
  for (size_t i = 0; i < written; ++i) out << targets[i] << '\n';
  if (written < pages.size()) {
    err << "error: " << args[0] << ": page " << written << " cannot be copied\n";
    return 1;
  }
  return 0;
}

int RunRender(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
  int index = 0;
  if (!ParsePage(args[1], index)) {
    err << "usage: PAGE must be a page number from 0, not \"" << args[1] << "\"\n";
    return 2;
  }
  TFileStream stream(args[0], TFileStream::TMode::Read);
  TPageRead page;
  ReadPage(stream, index, false, page);
  if (!page.ok) {
    err << "error: " << args[0] << ": page " << index << " cannot be read\n";
    return 1;
  }
  if (index >= page.pageCount || page.bitmap.IsEmpty()) {
    err << "error: " << args[0] << ": no page " << index << " (" << page.pageCount << " pages)\n";
    return 1;
  }
  if (page.bitmap.PixelFormat() != ie1g && page.bitmap.PixelFormat() != ie24RGB)
    page.bitmap.ConvertTo(ie24RGB);
  WritePnm(page.bitmap, args[2]);
  return 0;
}

}  // namespace folivo::cli
