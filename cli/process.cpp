// Folivo — multi-page TIFF editor.
// process: image operations applied in order to every page of a TIFF file,
// written back as TIFF with each page's parameters.
#include <cmath>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "formats/pagelist.h"
#include "formats/params.h"
#include "formats/tiffpages.h"
#include "formats/tiffwriter.h"
#include "processing/bwgray.h"
#include "processing/cleanup.h"
#include "processing/deskew.h"
#include "processing/fitpagesize.h"
#include "processing/imageproc.h"
#include "processing/levels.h"
#include "processing/resample.h"
#include "processing/sharpen.h"
#include "processing/tone.h"

namespace folivo::cli {

namespace {

// One parsed operation: runs on the page's processing component, may print.
using TPageOp = std::function<void(TImageProc& proc, int page, std::ostream& out)>;

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream s(text);
  std::string part;
  while (std::getline(s, part, ':')) parts.push_back(part);
  if (!text.empty() && text.back() == ':') parts.push_back("");
  return parts;
}

bool ParseInt(const std::string& text, int& value) {
  try {
    size_t used = 0;
    const long long v = std::stoll(text, &used);
    if (used != text.size() || v < -(1LL << 30) || v > (1LL << 30)) return false;
    value = static_cast<int>(v);
    return true;
  } catch (...) {
    return false;
  }
}

bool ParseReal(const std::string& text, double& value) {
  try {
    size_t used = 0;
    value = std::stod(text, &used);
    return used == text.size() && std::isfinite(value);
  } catch (...) {
    return false;
  }
}

// The deskew command: a reduced scratch copy is measured, the page corrected.
void Deskew(TImageProc& proc, int page, std::ostream& out, double range, double step) {
  TViewState scratch;
  scratch.BackgroundColor = proc.AttachedView().BackgroundColor;
  scratch.Bitmap.SetLocation(ieMemory);
  scratch.Bitmap.Assign(proc.AttachedView().Bitmap);
  TImageProc measure(scratch);
  measure.AutoUndo = false;
  FitPageSize(measure, 0, 1, 1280, 1280, 10);
  const double angle =
      measure.DetectSkewAngle(static_cast<int>(std::nearbyint(2 * range)), true, step, 0);
  proc.RotateAndCrop(angle);
  out << "page=" << page << " angle=" << FormatAngle(angle) << '\n';
}

// Empty message: parsed; otherwise the usage problem.
std::string ParseOp(const std::string& text, TPageOp& op) {
  const std::vector<std::string> f = SplitFields(text);
  const std::string& name = f.empty() ? text : f[0];
  const size_t n = f.size() - 1;
  auto bad = [&] { return "bad operation \"" + text + "\""; };
  if (name == "rotate") {
    double angle;
    if (n != 1 || !ParseReal(f[1], angle)) return bad();
    op = [angle](TImageProc& p, int, std::ostream&) { p.Rotate(angle); };
  } else if (name == "flip") {
    int d;
    if (n != 1 || !ParseInt(f[1], d) || (d != 0 && d != 1)) return bad();
    op = [d](TImageProc& p, int, std::ostream&) { p.Flip(d); };
  } else if (name == "resize-canvas") {
    int w, h, ha, va;
    if (n != 4 || !ParseInt(f[1], w) || !ParseInt(f[2], h) || !ParseInt(f[3], ha) ||
        !ParseInt(f[4], va) || w < 1 || h < 1 || ha < 0 || ha > 2 || va < 0 || va > 2)
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) { p.ImageResize(w, h, ha, va); };
  } else if (name == "resample") {
    int w, h;
    TResampleFilter filter;
    if (n != 3 || !ParseInt(f[1], w) || !ParseInt(f[2], h) || !ResampleFilterFromName(f[3], filter))
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) { p.Resample(w, h, filter); };
  } else if (name == "fit") {
    int side, option, size, index;
    TResampleFilter filter;
    if (n != 4 || !ParseInt(f[1], side) || !ParseInt(f[2], option) || !ParseInt(f[3], size) ||
        !ParseInt(f[4], index) || side < 0 || side > 4 || option < 0 || option > 2 || size < 1 ||
        !FitFilterFromIndex(index, filter))
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) {
      FitPageSize(p, side, option, size, size, index);
    };
  } else if (name == "deskew") {
    double range = 5, step = 0.5;
    if (n > 2 || (n >= 1 && !ParseReal(f[1], range)) || (n == 2 && !ParseReal(f[2], step)) ||
        range <= 0 || range > 180 || step <= 0 ||
        SkewCandidates(static_cast<int>(std::nearbyint(2 * range)), step).empty())
      return bad();
    op = [=](TImageProc& p, int page, std::ostream& out) { Deskew(p, page, out, range, step); };
  } else if (name == "cropborders") {
    int tol = 6;
    if (n > 1 || (n == 1 && !ParseInt(f[1], tol)) || tol < 1) return bad();
    op = [tol](TImageProc& p, int, std::ostream&) { CropBorders(p, tol); };
  } else if ((name == "whitebalance" || name == "bw" || name == "gray" || name == "negative" ||
              name == "autocontrast") &&
             n == 0) {
    op = [name](TImageProc& p, int, std::ostream&) {
      if (name == "whitebalance")
        WhiteBalance_AutoWhite(p);
      else if (name == "bw")
        ConvertToBW_FloyedSteinberg(p);
      else if (name == "gray")
        ConvertToGray(p);
      else if (name == "negative")
        Negative(p);
      else
        AutoContrast(p);
    };
  } else if (name == "sharpen") {
    int intensity = 68;
    double rate = 0.035;
    if ((n != 0 && n != 2) || (n == 2 && (!ParseInt(f[1], intensity) || !ParseReal(f[2], rate))) ||
        rate < 0 || rate > 1)
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) { AutoSharp(p, intensity, rate); };
  } else if (name == "blur") {
    double radius;
    if (n != 1 || !ParseReal(f[1], radius)) return bad();
    op = [radius](TImageProc& p, int, std::ostream&) { Blur(p, radius); };
  } else if (name == "brightness") {
    int b, c;
    double gamma;
    if (n != 3 || !ParseInt(f[1], b) || !ParseInt(f[2], c) || !ParseReal(f[3], gamma) || gamma <= 0)
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) {
      AdjustBrightnessContrastSaturation(p, b, c, 0);
      GammaCorrect(p, gamma, 7);
    };
  } else if (name == "levels") {
    int channel, black, white;
    double gamma;
    if (n != 4 || !ParseInt(f[1], channel) || !ParseInt(f[2], black) || !ParseReal(f[3], gamma) ||
        !ParseInt(f[4], white) || channel < 0 || channel > 3)
      return bad();
    op = [=](TImageProc& p, int, std::ostream&) {
      TLevelsClass levels;
      levels.ResetChannels();
      levels.SetBlackPoint(channel, black);
      levels.SetGamma(channel, static_cast<float>(gamma));
      levels.SetWhitePoint(channel, white);
      ApplyLevels(p, levels);
    };
  } else {
    return "unknown operation \"" + text + "\"";
  }
  return "";
}

}  // namespace

int RunProcess(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string& in = args[0];
  const std::string& target = args[1];
  std::vector<TPageOp> ops;
  for (size_t i = 2; i < args.size(); ++i) {
    TPageOp op;
    const std::string problem = ParseOp(args[i], op);
    if (!problem.empty()) {
      err << "usage: " << problem
          << " (rotate:ANGLE, flip:0|1, resize-canvas:W:H:HALIGN:VALIGN, resample:W:H:FILTER, "
             "fit:SIDE:OPTION:SIZE:FILTERINDEX, deskew[:RANGE[:STEP]], cropborders[:TOL], "
             "whitebalance, bw, gray, negative, autocontrast, sharpen[:INTENSITY:RATE], "
             "blur:RADIUS, brightness:B:C:GAMMA, levels:CHANNEL:BLACK:GAMMA:WHITE)\n";
      return 2;
    }
    ops.push_back(std::move(op));
  }
  const size_t dot = target.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : target.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "pdf") {
    err << "error: " << target << ": PDF output is not available in this build\n";
    return 1;
  }
  TPageList pages;
  TIOProgress loading;
  const int count = LoadTiffPages(pages, in, loading);
  if (loading.Aborting() || count == 0) {
    err << "error: " << in << ": " << (count == 0 ? "no TIFF pages" : "a page cannot be read")
        << '\n';
    return 1;
  }
  for (int i = 0; i < pages.PageCount(); ++i) {
    TViewState view;
    view.Bitmap.Assign(pages.Bitmap(i));
    TImageProc proc(view);
    proc.AutoUndo = false;  // nobody can undo in a batch
    for (const TPageOp& op : ops) op(proc, i, out);
    pages.SetBitmap(i, view.Bitmap);
  }
  TIOProgress saving;
  if (!SaveTiffPages(pages, target, saving)) {
    err << "error: " << target << ": not written\n";
    return 1;
  }
  return 0;
}

}  // namespace folivo::cli
