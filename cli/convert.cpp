// Folivo — multi-page TIFF editor.
// convert: pages of TIFF inputs written as one TIFF with a chosen compression and depth.
#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "formats/pagelist.h"
#include "formats/params.h"
#include "formats/stream.h"
#include "formats/tiffpages.h"
#include "formats/tiffwriter.h"

namespace folivo::cli {

namespace {

struct TCompressionName {
  const char* name;
  TTiffCompression compression;
};

constexpr TCompressionName kCompressions[] = {
    {"none", tcNone},         {"huffman", tcCcittHuffman},
    {"g3", tcG3Fax1D},        {"g3-2d", tcG3Fax2D},
    {"g4", tcG4Fax},          {"lzw", tcLzw},
    {"packbits", tcPackBits}, {"zip", tcZip},
    {"deflate", tcDeflate},   {"jpeg", tcJpeg},
    {"old-jpeg", tcOldJpeg},
};

bool ParseInt(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::stoi(text);
  return value >= low && value <= high;
}

bool IsTiffOutputName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == "tif" || ext == "tiff" || ext == "fax" || ext == "g3f" || ext == "g3n";
}

}  // namespace

int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files;
  bool setCompression = false, setDepth = false, setQuality = false, setZip = false;
  TTiffCompression compression = tcNone;
  int depth = 0, quality = 0, zipLevel = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      files.push_back(a);
      continue;
    }
    if (i + 1 >= args.size()) {
      err << "usage: " << a << " needs a value\n";
      return 2;
    }
    const std::string& v = args[++i];
    if (a == "--compression") {
      auto it = std::find_if(std::begin(kCompressions), std::end(kCompressions),
                             [&v](const TCompressionName& c) { return v == c.name; });
      if (it == std::end(kCompressions)) {
        err << "usage: unknown compression \"" << v << "\"\n";
        return 2;
      }
      compression = it->compression;
      setCompression = true;
    } else if (a == "--depth") {
      if (v != "1" && v != "8" && v != "24") {
        err << "usage: --depth must be 1, 8 or 24, not \"" << v << "\"\n";
        return 2;
      }
      depth = std::stoi(v);
      setDepth = true;
    } else if (a == "--jpeg-quality") {
      if (!ParseInt(v, 1, 100, quality)) {
        err << "usage: --jpeg-quality must be 1 to 100, not \"" << v << "\"\n";
        return 2;
      }
      setQuality = true;
    } else if (a == "--zip-level") {
      if (!ParseInt(v, 0, 2, zipLevel)) {
        err << "usage: --zip-level must be 0, 1 or 2, not \"" << v << "\"\n";
        return 2;
      }
      setZip = true;
    } else {
      err << "usage: unknown option \"" << a << "\"\n";
      return 2;
    }
  }
  if (files.size() < 2) {
    err << "usage: convert needs at least one input and an output\n";
    return 2;
  }
  const std::string output = files.back();
  files.pop_back();
  if (!IsTiffOutputName(output)) {
    err << "usage: output must end in .tif, .tiff, .fax, .g3f or .g3n: \"" << output << "\"\n";
    return 2;
  }

  TPageList pages;
  for (const std::string& input : files) {
    TFileStream stream(input, TFileStream::TMode::Read);
    if (!IsTiffStream(stream)) {
      err << "error: " << input << ": not a TIFF file (other formats are not supported yet)\n";
      return 1;
    }
    TIOProgress progress;
    pages.SetCurrentPage(-1);
    const int before = pages.PageCount();
    LoadTiffPages(pages, stream, progress);
    if (progress.Aborting() || pages.PageCount() == before) {
      err << "error: " << input << ": page " << pages.PageCount() - before << " cannot be read\n";
      return 1;
    }
  }
  for (int i = 0; i < pages.PageCount(); ++i) {
    TIOParamsVals& p = pages.Params(i);
    if (setCompression) p.TiffCompression = compression;
    if (setDepth) {
      p.BitsPerSample = depth == 1 ? 1 : 8;
      p.SamplesPerPixel = depth == 24 ? 3 : 1;
      if (depth == 24 && (p.TiffPhotometric == tpPalette || p.TiffPhotometric == tpSeparated ||
                          p.TiffPhotometric == tpWhiteIsZero || p.TiffPhotometric == tpBlackIsZero))
        p.TiffPhotometric = tpRgb;
    }
    if (setQuality) p.TiffJpegQuality = quality;
    if (setZip) p.TiffZipCompression = zipLevel;
  }
  TIOProgress progress;
  if (!SaveTiffPages(pages, output, progress)) {
    err << "error: " << output << ": not written\n";
    return 1;
  }
  out << output << ": " << pages.PageCount() << " pages\n";
  return 0;
}

}  // namespace folivo::cli
