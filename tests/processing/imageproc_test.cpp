// Folivo — multi-page TIFF editor.
// The processing frame: admission, snapshots, the selection region, undo and
// redo, and the operations as the editor calls them.
#include "processing/imageproc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "processing/deskew.h"
#include "processing/fitpagesize.h"
#include "tests/processing/fixtures.h"

namespace folivo {
namespace {

using test::MakeRandom;
using test::SamePixels;

TEST(Admission, PreferenceListsAndFallback) {
  const TFormatSet rgbOnly = FormatBit(ie24RGB);
  const TFormatSet grayRgb = FormatBit(ie8g) | FormatBit(ie24RGB);
  struct {
    TPagePixelFormat page;
    TFormatSet accepts;
    TPagePixelFormat want;
  } cases[] = {
      {ie1g, rgbOnly, ie24RGB},
      {ie1g, grayRgb, ie8g},  // blur's set: 8-bit gray comes first for a 1-bit page
      {ie1g, 0, ie1g},
      {ie24RGB, rgbOnly, ie24RGB},
      {ie16g, grayRgb, ie8g},
      {ieCMYK, FormatBit(ie1g) | FormatBit(ie24RGB), ie24RGB},
      {ie24RGB, FormatBit(ie1g), ie1g},  // not in the list: highest accepted
      {ie8p, FormatBit(ie1g) | FormatBit(ie16g), ie16g},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AdmissionFormat(c.page, c.accepts), c.want) << PixelFormatName(c.page);
}

struct TFixture : ::testing::Test {
  TViewState view;
  TImageProc proc{view};
  void SetUp() override { MakeRandom(view.Bitmap, 30, 20, ie24RGB, 1); }
};

using Frame = TFixture;

TEST_F(Frame, SnapshotBeforeOrAfterAdmission) {
  MakeRandom(view.Bitmap, 16, 8, ie1g, 2);
  int called = 0;
  proc.Run({FormatBit(ie24RGB), true, false, TSnapshotPoint::BeforeAdmission, "Before"},
           [&](TIEBitmap& b, TIOProgress&) {
             ++called;
             EXPECT_EQ(b.PixelFormat(), ie24RGB);
           });
  proc.Run({FormatBit(ie8g), false, false, TSnapshotPoint::AfterAdmission, "After"},
           [&](TIEBitmap&, TIOProgress&) { ++called; });
  EXPECT_EQ(called, 2);
  ASSERT_EQ(proc.History().UndoCount(), 2);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "Before");
  EXPECT_EQ(proc.History().UndoEntry(0).Snapshot->PixelFormat(), ie1g);
  EXPECT_EQ(proc.History().UndoEntry(1).Caption, "After");
  EXPECT_EQ(proc.History().UndoEntry(1).Snapshot->PixelFormat(), ie8g);  // converted first
  EXPECT_EQ(view.Bitmap.PixelFormat(), ie8g);
  // Without AutoConvertFormat a refused page is left alone.
  proc.AutoConvertFormat = false;
  EXPECT_FALSE(proc.Run({FormatBit(ie1g), false, false, TSnapshotPoint::AfterAdmission, "No"},
                        [&](TIEBitmap&, TIOProgress&) { ++called; }));
  EXPECT_EQ(called, 2);
  EXPECT_EQ(proc.History().UndoCount(), 2);
}

TEST_F(Frame, SelectionRegionCopiesBackOnlyTheMask) {
  TIEBitmap before;
  before.Assign(view.Bitmap);
  view.Select({4, 3, 10, 9});
  TIEBitmap& mask = view.SelectionMask();
  mask.Allocate(30, 20, ie1g);
  mask.Fill(0);
  for (int y = 3; y < 9; ++y) mask.GetScanline(y)[0] |= 0x80 >> 5;  // column 5 only
  proc.Run({0, true, false, TSnapshotPoint::BeforeAdmission, "Paint"},
           [&](TIEBitmap& region, TIOProgress&) {
             EXPECT_EQ(region.Width(), 6);
             EXPECT_EQ(region.Height(), 6);
             region.Fill(0xFFFFFF);
           });
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool changed = x == 5 && y >= 3 && y < 9;
      const uint8_t* p = view.Bitmap.GetScanline(y) + 3 * x;
      const uint8_t* q = before.GetScanline(y) + 3 * x;
      if (changed)
        ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255) << x << ',' << y;
      else
        ASSERT_EQ(0, std::memcmp(p, q, 3)) << x << ',' << y;
    }
}

TEST_F(Frame, ProgressEndsAtHundredAndFinishFires) {
  std::vector<int> seen;
  int finished = 0, refreshed = 0;
  proc.OnProgress = [&](void* sender, int percent) {
    EXPECT_EQ(sender, &proc);
    seen.push_back(percent);
  };
  proc.OnFinishWork = [&] { ++finished; };
  view.OnChanged = [&] { ++refreshed; };
  proc.Rotate(3);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  EXPECT_GE(seen.size(), 20u + 20u);  // at least a report per row of a pass
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(refreshed, 1);
}

TEST_F(Frame, UndoRestoresEveryOperationAndRedoReapplies) {
  const std::function<void(TImageProc&)> ops[] = {
      [](TImageProc& p) { p.Rotate(90); },
      [](TImageProc& p) { p.Rotate(-7.25); },
      [](TImageProc& p) { p.Flip(0); },
      [](TImageProc& p) { p.Flip(1); },
      [](TImageProc& p) { p.ImageResize(40, 11, 1, 2); },
      [](TImageProc& p) { p.Clear(); },
      [](TImageProc& p) { p.Resample(13, -1, rfLanczos3); },
      [](TImageProc& p) { p.Resample(50, 50, rfProjectBW); },
      [](TImageProc& p) { p.RotateAndCrop(1.5); },
      [](TImageProc& p) {
        p.AttachedView().Select({2, 2, 9, 7});
        p.CropSel();
      },
  };
  for (TPagePixelFormat format : {ie24RGB, ie1g}) {
    for (size_t i = 0; i < std::size(ops); ++i) {
      SCOPED_TRACE(std::to_string(i) + " " + PixelFormatName(format));
      TViewState v;
      TImageProc p(v);
      p.SetUndoLimit(5);
      MakeRandom(v.Bitmap, 30, 20, format, static_cast<unsigned>(i));
      TIEBitmap original;
      original.Assign(v.Bitmap);
      ops[i](p);
      TIEBitmap after;
      after.Assign(v.Bitmap);
      while (p.History().UndoCount() > 0) p.Undo();
      EXPECT_TRUE(SamePixels(v.Bitmap, original));
      while (p.History().RedoCount() > 0) p.Redo();
      EXPECT_TRUE(SamePixels(v.Bitmap, after));
    }
  }
}

TEST_F(Frame, UndoListKeepsTheNewestEntries) {
  proc.SetUndoLimit(2);
  proc.Flip(0);
  proc.Rotate(90);
  proc.Flip(1);
  ASSERT_EQ(proc.History().UndoCount(), 2);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "Rotate 90");
  EXPECT_EQ(proc.History().UndoEntry(1).Caption, "Flip");
  proc.SetUndoLimit(0);
  proc.Flip(1);
  EXPECT_EQ(proc.History().UndoCount(), 2);
  // Pages under 2 pixels leave no entry.
  proc.SetUndoLimit(5);
  view.Bitmap.Allocate(1, 40, ie24RGB);
  proc.Flip(1);
  EXPECT_EQ(proc.History().UndoCount(), 2);
  // A new operation leaves the redo list as it is.
  view.Bitmap.Allocate(5, 5, ie24RGB);
  proc.Flip(1);
  proc.Undo();
  EXPECT_EQ(proc.History().RedoCount(), 1);
  proc.Flip(0);
  EXPECT_EQ(proc.History().RedoCount(), 1);
}

TEST_F(Frame, Captions) {
  proc.Rotate(2.5);
  proc.Rotate(-0.1 - 0.2);
  proc.Rotate(0);  // nothing, no entry
  proc.ImageResize(31, 21, 0, 0);
  proc.Resample(-1, 10, rfBicubic);
  proc.SetUndoLimit(10);
  proc.CropSel();  // no selection: the entry is there, the page unchanged
  const std::vector<std::string> want = {"Rotate 2.5", "Rotate -0.3", "ImageResize 31,21",
                                         "Resample -1,10", "CropSel"};
  ASSERT_EQ(proc.History().UndoCount(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(proc.History().UndoEntry(i).Caption, want[i]);
  EXPECT_TRUE(SamePixels(view.Bitmap, *proc.History().UndoEntry(4).Snapshot));
}

TEST_F(Frame, CropSelKeepsTheMaskAndFillsTheRest) {
  MakeRandom(view.Bitmap, 20, 10, ie24RGB, 3);
  view.Select({3, 2, 8, 6});
  TIEBitmap& mask = view.SelectionMask();
  mask.Allocate(20, 10, ie1g);
  mask.Fill(1);
  mask.GetScanline(2)[0] &= static_cast<uint8_t>(~(0x80 >> 3));  // (3, 2) outside
  TIEBitmap before;
  before.Assign(view.Bitmap);
  proc.CropSel();
  ASSERT_EQ(view.Bitmap.Width(), 5);
  ASSERT_EQ(view.Bitmap.Height(), 4);
  const uint8_t* corner = view.Bitmap.GetScanline(0);
  EXPECT_EQ(corner[0], 0xA4);  // background, blue first
  EXPECT_EQ(corner[2], 0xA0);
  EXPECT_EQ(0, std::memcmp(view.Bitmap.GetScanline(3) + 3 * 4, before.GetScanline(5) + 3 * 7, 3));
}

TEST_F(Frame, ResampleKeepsAlphaAndGraysTransparentPixels) {
  MakeRandom(view.Bitmap, 8, 4, ie24RGB, 4);
  TIEBitmap* a = view.Bitmap.AlphaChannel();
  a->Fill(0);
  proc.Resample(4, 2, rfFastLinear);
  ASSERT_TRUE(view.Bitmap.HasAlphaChannel());
  EXPECT_EQ(view.Bitmap.AlphaChannelIfAny()->Width(), 4);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(view.Bitmap.GetScanline(1)[3 * x + 1], 128);
  EXPECT_EQ(view.Bitmap.AlphaChannelIfAny()->GetScanline(1)[2], 0);
}

TEST_F(Frame, RotateAndCropAtZeroDropsOneColumnAndRow) {
  TIEBitmap before;
  before.Assign(view.Bitmap);
  proc.RotateAndCrop(0);
  EXPECT_EQ(view.Bitmap.Width(), 29);
  EXPECT_EQ(view.Bitmap.Height(), 19);
  ASSERT_EQ(proc.History().UndoCount(), 2);
  EXPECT_EQ(proc.History().UndoEntry(0).Caption, "RotateAndCrop");
  EXPECT_EQ(proc.History().UndoEntry(1).Caption, "ImageResize 29,19");
  EXPECT_EQ(0, std::memcmp(view.Bitmap.GetScanline(0), before.GetScanline(0), 29 * 3));
  proc.RotateAndCrop(2);
  ASSERT_EQ(proc.History().UndoCount(), 5);
  EXPECT_EQ(proc.History().UndoEntry(3).Caption, "Rotate 2");
}

TEST(CropSearch, MatchesTheFullSearch) {
  for (double angle : {0.0, 0.5, -1.5, 3.0, 10.0, -44.0, 89.0}) {
    for (auto [w, h] : {std::pair{30, 20}, {64, 200}, {123, 77}}) {
      int j = 0, i = 0, bj = 0, bi = 0;
      const bool got = RotateAndCropSize(w, h, angle, j, i);
      // The search as written: every (j, i) in order.
      const double r = std::fabs(angle * 3.1415926535897932385 / 180);
      const double cr = std::cos(r), sr = std::sin(r);
      const int n = static_cast<int>(std::trunc(std::sqrt(double(w) * w + double(h) * h)));
      bool found = false;
      for (int jj = 1; jj <= n && !found; ++jj)
        for (int ii = 1; ii <= n && !found; ++ii) {
          const double q = double(jj) / ii;
          const int m = static_cast<int>(std::trunc(jj * cr + (jj / q) * sr));
          const int o = static_cast<int>(std::trunc(ii * cr + (ii * q) * sr));
          if (m >= w - 1 && m <= w + 1 && o >= h - 1 && o <= h + 1) {
            found = true;
            bj = jj;
            bi = ii;
          }
        }
      ASSERT_EQ(got, found) << angle << ' ' << w << 'x' << h;
      if (found) {
        EXPECT_EQ(std::pair(j, i), std::pair(bj, bi)) << angle << ' ' << w << 'x' << h;
      }
    }
  }
}

TEST(FitPageSize, SidesAndOptions) {
  struct {
    int w, h, side, option, size;
    bool runs;
    int nw, nh;
  } cases[] = {
      {2480, 3508, 0, 0, 1280, true, 904, 1280}, {2480, 3508, 1, 0, 1280, true, 1280, 1810},
      {800, 600, 0, 1, 1280, false, 0, 0},       {800, 600, 0, 2, 1280, true, 1280, 960},
      {3000, 100, 2, 0, 1500, true, 1500, 50},   {3000, 100, 3, 0, 50, true, 1500, 50},
      {640, 480, 4, 0, 100, true, 100, 100},     {640, 480, 0, 0, 640, false, 0, 0},
  };
  for (const auto& c : cases) {
    int nw = 0, nh = 0;
    const bool runs = FitSize(c.w, c.h, c.side, c.option, c.size, c.size, nw, nh);
    ASSERT_EQ(runs, c.runs) << c.w << 'x' << c.h << " side " << c.side;
    if (runs) {
      EXPECT_EQ(std::pair(nw, nh), std::pair(c.nw, c.nh)) << c.w << 'x' << c.h;
    }
  }
  TViewState v;
  TImageProc p(v);
  MakeRandom(v.Bitmap, 60, 30, ie1g, 1);
  EXPECT_FALSE(FitPageSize(p, 0, 0, 20, 20, 13));  // index above 12
  EXPECT_TRUE(FitPageSize(p, 0, 1, 20, 20, 12));
  EXPECT_EQ(v.Bitmap.Width(), 20);
  EXPECT_EQ(v.Bitmap.Height(), 10);
  EXPECT_EQ(v.Bitmap.PixelFormat(), ie1g);
}

}  // namespace
}  // namespace folivo
