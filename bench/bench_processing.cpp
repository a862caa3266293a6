// Folivo — multi-page TIFF editor.
// Benchmark of the processing operations on generated A4 pages (2480 x 3508,
// 300 dpi): Rotate by 2.5 degrees of a 24-bit page against ImageMagick's
// -rotate 2.5, Resample to half size (rfBicubic, rfLanczos3) against
// ImageMagick's -filter Catrom / Lanczos -resize 50%, and the whole deskew
// command (reduce to 1280 with rfFastLinear, detect over +-5 degrees in
// 0.5 steps, RotateAndCrop the full page) on a bilevel and a 24-bit page
// against Leptonica's pixFindSkew (time and angle).
//
// ImageMagick runs as a subprocess on the same page written as a PPM file;
// its time is the median wall time of the command minus nothing (column
// "im") and minus a plain PPM-to-PPM copy by the same program ("im-io"), so
// both the whole-process and the operation-only ratios are shown. Leptonica
// is loaded at run time (liblept.so.5) so that the build needs no extra
// link; pixFindSkew gets the bilevel page (the 24-bit page thresholded at
// 128 first, outside the timing). --smoke runs our side once and skips the
// peers.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "processing/deskew.h"
#include "processing/fitpagesize.h"
#include "processing/geometry.h"
#include "processing/imageproc.h"
#include "processing/resample.h"

namespace {

using namespace folivo;
namespace fs = std::filesystem;

constexpr int kWidth = 2480;   // px
constexpr int kHeight = 3508;  // px
constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kLimits = "-limit memory 4GiB -limit map 4GiB -limit area 4GiB";

double Seconds(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double MedianOf(int runs, const std::function<void()>& f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(Seconds(f));
  return Median(t);
}

// A scan: text lines of word blocks on slightly uneven paper, a photo block.
void MakeScan(TIEBitmap& b, bool photo) {
  b.SetLocation(ieMemory);
  b.Allocate(kWidth, kHeight, ie24RGB);
  std::mt19937 rng(42);
  std::vector<uint8_t> ink(kWidth);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = b.GetScanline(y);
    const bool line = y > 250 && y < kHeight - 250 && (y % 50) < 24;
    if (line && (y % 50) == 0) {
      int x = 250;
      std::fill(ink.begin(), ink.end(), 0);
      while (x < kWidth - 250) {
        const int len = 30 + static_cast<int>(rng() % 120);
        for (int i = x; i < std::min(x + len, kWidth - 250); ++i) ink[i] = 1;
        x += len + 20;
      }
    }
    for (int x = 0; x < kWidth; ++x) {
      int v = 235 + static_cast<int>(rng() % 7);
      if (line && ink[x]) v = 25;
      if (photo && x > 400 && x < 1900 && y > 1300 && y < 2300) v = (x / 7 + y / 5) & 0xFF;
      row[3 * x] = static_cast<uint8_t>(v);
      row[3 * x + 1] = static_cast<uint8_t>(std::min(255, v + 3));
      row[3 * x + 2] = static_cast<uint8_t>(std::min(255, v + 6));
    }
  }
}

void WritePpm(const TIEBitmap& b, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << b.Width() << ' ' << b.Height() << "\n255\n";
  std::vector<char> row(static_cast<size_t>(b.Width()) * 3);
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* p = b.GetScanline(y);
    for (int x = 0; x < b.Width(); ++x) {
      row[3 * x] = static_cast<char>(p[3 * x + 2]);
      row[3 * x + 1] = static_cast<char>(p[3 * x + 1]);
      row[3 * x + 2] = static_cast<char>(p[3 * x]);
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
}

void WritePbm(const TIEBitmap& b, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << b.Width() << ' ' << b.Height() << '\n';
  const int bytes = (b.Width() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>(~b.GetScanline(y)[i]));
}

double RunCommand(const std::string& cmd) {
  return Seconds([&] {
    if (std::system((cmd + " 2>/dev/null").c_str()) != 0)
      std::fprintf(stderr, "failed: %s\n", cmd.c_str());
  });
}

void Row(const char* what, double ours, double peer, double peerNet) {
  const double mpix = kWidth * static_cast<double>(kHeight) / 1e6;
  std::printf("%-34s ours %8.1f ms %7.1f MPix/s", what, ours * 1e3, mpix / ours);
  if (peer > 0)
    std::printf(" | im %8.1f ms ratio %5.2f | im-io %8.1f ms ratio %5.2f", peer * 1e3, peer / ours,
                peerNet * 1e3, peerNet / ours);
  std::printf("\n");
}

// Leptonica, reached at run time.
struct TLept {
  void* lib = nullptr;
  void* (*pixRead)(const char*) = nullptr;
  int (*pixFindSkew)(void*, float*, float*) = nullptr;
  void (*pixDestroy)(void**) = nullptr;
  bool Load() {
    lib = dlopen("liblept.so.5", RTLD_NOW);
    if (!lib) return false;
    pixRead = reinterpret_cast<void* (*)(const char*)>(dlsym(lib, "pixRead"));
    pixFindSkew = reinterpret_cast<int (*)(void*, float*, float*)>(dlsym(lib, "pixFindSkew"));
    pixDestroy = reinterpret_cast<void (*)(void**)>(dlsym(lib, "pixDestroy"));
    return pixRead && pixFindSkew && pixDestroy;
  }
};

// The deskew command on a copy of page; returns the angle.
double DeskewCommand(const TIEBitmap& page) {
  TViewState scratch;
  scratch.Bitmap.SetLocation(ieMemory);
  scratch.Bitmap.Assign(page);
  TImageProc measure(scratch);
  measure.AutoUndo = false;
  FitPageSize(measure, 0, 1, 1280, 1280, 10);
  const double angle = measure.DetectSkewAngle(10, true, 0.5, 0);
  TViewState view;
  view.Bitmap.SetLocation(ieMemory);
  view.Bitmap.Assign(page);
  TImageProc proc(view);
  proc.AutoUndo = false;
  proc.RotateAndCrop(angle);
  return angle;
}

}  // namespace

int main(int argc, char** argv) {
  const bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  const int runs = smoke ? 1 : 5;
  const bool peers = !smoke && fs::exists(kConvert);
  const fs::path dir = fs::temp_directory_path() / "folivo-bench-processing";
  fs::create_directories(dir);
  const std::string page = (dir / "page.ppm").string(), out = (dir / "out.ppm").string();
  const std::string im = std::string(kConvert) + " " + kLimits + " " + page + " ";

  TIEBitmap scan;
  MakeScan(scan, true);
  if (peers) WritePpm(scan, page);
  std::printf("A4 page %d x %d, %u hardware threads\n", kWidth, kHeight,
              std::thread::hardware_concurrency());
  const double ioOnly =
      peers ? Median({RunCommand(im + out), RunCommand(im + out), RunCommand(im + out)}) : 0;

  // Rotation.
  TIEBitmap work;
  const double rot = MedianOf(runs, [&] {
    work.Assign(scan);
    RotatePage(work, 2.5, 0xA4A0A0, nullptr);
  });
  double imRot = 0;
  if (peers) {
    std::vector<double> t;
    for (int i = 0; i < 3; ++i)
      t.push_back(RunCommand(im + "-background '#a0a0a4' -rotate 2.5 " + out));
    imRot = Median(t);
  }
  Row("Rotate 2.5 (24-bit)", rot, imRot, imRot - ioOnly);

  // Resampling to half size.
  struct {
    const char* name;
    TResampleFilter filter;
    const char* peer;
  } filters[] = {{"Resample 50% rfBicubic", rfBicubic, "-filter Catrom -resize 50%"},
                 {"Resample 50% rfLanczos3", rfLanczos3, "-filter Lanczos -resize 50%"}};
  for (const auto& f : filters) {
    TIEBitmap half;
    const double ours =
        MedianOf(runs, [&] { ResampleBitmap(scan, half, kWidth / 2, kHeight / 2, f.filter); });
    double peer = 0;
    if (peers) {
      std::vector<double> t;
      for (int i = 0; i < 3; ++i) t.push_back(RunCommand(im + f.peer + " " + out));
      peer = Median(t);
    }
    Row(f.name, ours, peer, peer - ioOnly);
  }

  // Deskew: a bilevel and a 24-bit scan turned by a known angle.
  TLept lept;
  const bool haveLept = !smoke && lept.Load();
  for (bool bilevel : {true, false}) {
    TIEBitmap turned;
    MakeScan(turned, !bilevel);
    if (bilevel) turned.ConvertTo(ie1g);
    RotatePage(turned, 2.0, 0xFFFFFF, nullptr);
    double angle = 0;
    const double ours = MedianOf(runs, [&] { angle = DeskewCommand(turned); });
    TIEBitmap measured;
    measured.Assign(turned);
    double detectOnly = MedianOf(runs, [&] {
      TViewState s;
      s.Bitmap.Assign(turned);
      TImageProc p(s);
      p.AutoUndo = false;
      FitPageSize(p, 0, 1, 1280, 1280, 10);
      p.DetectSkewAngle(10, true, 0.5, 0);
    });
    std::printf("%-34s ours %8.1f ms (detection with reduction %.1f ms) angle %g (truth -2)",
                bilevel ? "Deskew command, bilevel" : "Deskew command, 24-bit", ours * 1e3,
                detectOnly * 1e3, angle);
    if (haveLept) {
      TIEBitmap bits;
      bits.Assign(turned);
      if (!bilevel) bits.ConvertTo(ie1g);
      const std::string pbm = (dir / "skew.pbm").string();
      WritePbm(bits, pbm);
      void* pix = lept.pixRead(pbm.c_str());
      float leptAngle = 0, conf = 0;
      const double t = MedianOf(runs, [&] { lept.pixFindSkew(pix, &leptAngle, &conf); });
      lept.pixDestroy(&pix);
      std::printf(" | pixFindSkew %7.1f ms angle %.3f (conf %.1f) ratio(detect) %.2f", t * 1e3,
                  leptAngle, conf, t / detectOnly);
    }
    std::printf("\n");
  }
  fs::remove_all(dir);
  return 0;
}
