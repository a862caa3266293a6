// Folivo — multi-page TIFF editor.
#include "processing/imageproc.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "processing/deskew.h"
#include "processing/geometry.h"

namespace folivo {

namespace {

// Candidates of the conversion, first acceptable entry wins.
constexpr TPagePixelFormat kPreferences[10][6] = {
    {},
    {ie8g, ie16g, ie32f, ie24RGB},                   // ie1g
    {ie24RGB, ieCMYK, ieRGB48, ieCIELab},            // ie8p
    {ie16g, ie32f, ie24RGB, ieCMYK, ieRGB48},        // ie8g
    {ie32f, ie8g, ieRGB48, ie24RGB, ieCMYK},         // ie16g
    {ieCMYK, ieCIELab, ieRGB48, ie8p, ie16g, ie8g},  // ie24RGB
    {ie16g, ie8g, ie24RGB, ieRGB48, ieCIELab},       // ie32f
    {ie24RGB, ieRGB48, ieCIELab, ie8g},              // ieCMYK
    {ie24RGB, ieCMYK, ieCIELab, ie16g},              // ieRGB48
    {ie24RGB, ieCMYK, ieRGB48, ie8g},                // ieCIELab
};

bool Accepted(TPagePixelFormat f, TFormatSet set) {
  return set == 0 || (set & FormatBit(f));
}

// The region: a copy of the selection's bounding rectangle, alpha included.
void CopyRegion(const TIEBitmap& page, const TRect& r, TIEBitmap& region) {
  region.SetLocation(page.Location());
  region.Allocate(r.Width(), r.Height(), page.PixelFormat());
  if (page.PixelFormat() == ie8p) {
    region.SetPaletteLength(page.PaletteLength());
    for (int i = 0; i < page.PaletteLength(); ++i)
      region.SetPaletteColor(i, page.GetPaletteColor(i));
  }
  CopyRect(page, r.Left, r.Top, region, 0, 0, r.Width(), r.Height());
  if (const TIEBitmap* a = page.AlphaChannelIfAny())
    CopyRect(*a, r.Left, r.Top, *region.AlphaChannel(), 0, 0, r.Width(), r.Height());
}

void CopyPixel(const TIEBitmap& from, int fx, int fy, TIEBitmap& to, int tx, int ty) {
  if (from.PixelFormat() == ie1g) {
    const bool on = (from.GetScanline(fy)[fx >> 3] >> (7 - (fx & 7))) & 1;
    uint8_t* row = to.GetScanline(ty);
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (tx & 7));
    row[tx >> 3] = on ? (row[tx >> 3] | mask) : (row[tx >> 3] & static_cast<uint8_t>(~mask));
    return;
  }
  const int bpp = from.BitCount() / 8;
  std::memcpy(to.GetScanline(ty) + static_cast<size_t>(tx) * bpp,
              from.GetScanline(fy) + static_cast<size_t>(fx) * bpp, bpp);
}

// Only the pixels inside the selection go back.
void CopyBack(const TViewState& view, TIEBitmap& region, TIEBitmap& page) {
  const TRect& r = view.Selection();
  if (region.PixelFormat() != page.PixelFormat()) region.ConvertTo(page.PixelFormat());
  const int w = std::min(region.Width(), r.Width()), h = std::min(region.Height(), r.Height());
  TIEBitmap* pageAlpha =
      region.HasAlphaChannel() || page.HasAlphaChannel() ? page.AlphaChannel() : nullptr;
  TIEBitmap* regionAlpha = pageAlpha ? region.AlphaChannel() : nullptr;
  if (view.SelectionMask().IsEmpty()) {
    CopyRect(region, 0, 0, page, r.Left, r.Top, w, h);
    if (pageAlpha) CopyRect(*regionAlpha, 0, 0, *pageAlpha, r.Left, r.Top, w, h);
    return;
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (!view.InSelection(r.Left + x, r.Top + y)) continue;
      CopyPixel(region, x, y, page, r.Left + x, r.Top + y);
      if (pageAlpha) CopyPixel(*regionAlpha, x, y, *pageAlpha, r.Left + x, r.Top + y);
    }
}

// A selection counts when some pixel of it lies inside the mask.
bool SelectionUsable(const TViewState& view) {
  if (!view.HasSelection()) return false;
  if (view.SelectionMask().IsEmpty()) return true;
  const TRect& r = view.Selection();
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x)
      if (view.InSelection(x, y)) return true;
  return false;
}

}  // namespace

TPagePixelFormat AdmissionFormat(TPagePixelFormat page, TFormatSet accepts) {
  if (Accepted(page, accepts)) return page;
  if (page >= ie1g && page <= ieCIELab)
    for (TPagePixelFormat f : kPreferences[page])
      if (f != ieNoPixels && (accepts & FormatBit(f))) return f;
  for (int f = ieCIELab; f >= ie1g; --f)
    if (accepts & FormatBit(static_cast<TPagePixelFormat>(f)))
      return static_cast<TPagePixelFormat>(f);
  return page;
}

std::string FormatAngle(double angleDeg) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", angleDeg);
  return text;
}

void TImageProc::Snapshot(const std::string& caption) {
  if (AutoUndo) history_.PushUndo(view_->Bitmap, caption);
}

void TImageProc::Finish(TIOProgress& progress) {
  if (view_->OnChanged) view_->OnChanged();
  if (OnProgress) OnProgress(this, 100);
  if (OnFinishWork) OnFinishWork();
}

bool TImageProc::Run(const TOperationFrame& frame,
                     const std::function<void(TIEBitmap&, TIOProgress&)>& body) {
  TIEBitmap& page = view_->Bitmap;
  if (page.IsEmpty()) return false;
  const TPagePixelFormat target = AdmissionFormat(page.PixelFormat(), frame.Accepts);
  if (target != page.PixelFormat() && !AutoConvertFormat) return false;
  if (frame.Snapshot == TSnapshotPoint::BeforeAdmission) Snapshot(frame.Caption);
  if (target != page.PixelFormat()) page.ConvertTo(target);
  if (frame.Snapshot == TSnapshotPoint::AfterAdmission) Snapshot(frame.Caption);

  TIOProgress progress;
  progress.Sender = this;
  if (OnProgress) progress.OnProgress = [this](void*, int percent) { OnProgress(this, percent); };
  if (frame.SelectionLimited && SelectionUsable(*view_)) {
    TIEBitmap region;
    CopyRegion(page, view_->Selection(), region);
    body(region, progress);
    if (!frame.ReadsOnly) CopyBack(*view_, region, page);
  } else {
    body(page, progress);
  }
  Finish(progress);
  return true;
}

void TImageProc::Rotate(double angleDeg) {
  if (angleDeg == 0 || !std::isfinite(angleDeg)) return;
  Run({0, false, false, TSnapshotPoint::AfterAdmission, "Rotate " + FormatAngle(angleDeg)},
      [&](TIEBitmap& page, TIOProgress& progress) {
        RotatePage(page, angleDeg, Background(), &progress);
      });
}

void TImageProc::Flip(int direction) {
  Run({0, false, false, TSnapshotPoint::AfterAdmission, "Flip"},
      [&](TIEBitmap& page, TIOProgress&) { FlipBitmap(page, direction); });
}

void TImageProc::CropSel() {
  Run({0, false, false, TSnapshotPoint::BeforeAdmission, "CropSel"},
      [&](TIEBitmap& page, TIOProgress&) {
        if (!SelectionUsable(*view_)) return;
        const TRect r = view_->Selection();
        TIEBitmap result;
        result.SetLocation(page.Location());
        result.Allocate(r.Width(), r.Height(), page.PixelFormat());
        if (page.PixelFormat() == ie8p) {
          result.SetPaletteLength(page.PaletteLength());
          for (int i = 0; i < page.PaletteLength(); ++i)
            result.SetPaletteColor(i, page.GetPaletteColor(i));
        }
        FillColor(result, Background());
        if (view_->SelectionMask().IsEmpty()) {
          CopyRect(page, r.Left, r.Top, result, 0, 0, r.Width(), r.Height());
        } else {
          for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x)
              if (view_->InSelection(x, y)) CopyPixel(page, x, y, result, x - r.Left, y - r.Top);
        }
        page.Assign(result);
        // The old selection described the old page.
        view_->Deselect();
      });
}

void TImageProc::ImageResize(int newWidth, int newHeight, int hAlign, int vAlign) {
  if (newWidth <= 0 || newHeight <= 0) return;
  Run({0, false, false, TSnapshotPoint::AfterAdmission,
       "ImageResize " + std::to_string(newWidth) + "," + std::to_string(newHeight)},
      [&](TIEBitmap& page, TIOProgress&) {
        if (page.Width() < 2 && page.Height() < 2) FillColor(page, Background());
        ResizeCanvas(page, newWidth, newHeight, hAlign, vAlign, Background());
      });
}

void TImageProc::Clear() {
  Run({0, false, false, TSnapshotPoint::AfterAdmission, "Clear"},
      [&](TIEBitmap& page, TIOProgress&) { FillColor(page, Background()); });
}

void TImageProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
  if (filter >= kResampleFilterCount) return;
  Run({0, false, false, TSnapshotPoint::AfterAdmission,
       "Resample " + std::to_string(newWidth) + "," + std::to_string(newHeight)},
      [&](TIEBitmap& page, TIOProgress& progress) {
        if (newWidth < 0 && newHeight < 0) return;
        int w, h;
        ResampleTargetSize(page.Width(), page.Height(), newWidth, newHeight, w, h);
        std::unique_ptr<TIEBitmap> alpha;
        if (const TIEBitmap* a = page.AlphaChannelIfAny()) {
          if (page.PixelFormat() == ie24RGB)
            for (int y = 0; y < page.Height(); ++y) {
              uint8_t* row = page.GetScanline(y);
              const uint8_t* ar = a->GetScanline(y);
              for (int x = 0; x < page.Width(); ++x)
                if (ar[x] == 0) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 128;
            }
          alpha = std::make_unique<TIEBitmap>();
          alpha->SetLocation(ieMemory);
          ResampleBitmap(*a, *alpha, w, h, filter, nullptr);
          if (alpha->PixelFormat() != ie8g) alpha->ConvertTo(ie8g);
        }
        TIEBitmap result;
        result.SetLocation(page.Location());
        ResampleBitmap(page, result, w, h, filter, &progress);
        if (result.IsEmpty()) return;
        page.Assign(result);
        if (alpha) CopyRect(*alpha, 0, 0, *page.AlphaChannel(), 0, 0, w, h);
        if (view_->HasSelection()) view_->Deselect();
      });
}

double TImageProc::DetectSkewAngle(int angleRange, bool useAsGiven, double angleStep,
                                   double startAngle) {
  double angle = startAngle;
  Run({FormatBit(ie1g) | FormatBit(ie24RGB), true, true, TSnapshotPoint::None, ""},
      [&](TIEBitmap& region, TIOProgress&) {
        angle = DetectSkew(region, angleRange, useAsGiven, angleStep, startAngle);
      });
  return angle;
}

void TImageProc::RotateAndCrop(double angleDeg) {
  int w0 = 0, h0 = 0;
  const bool ran = Run({0, false, false, TSnapshotPoint::AfterAdmission, "RotateAndCrop"},
                       [&](TIEBitmap& page, TIOProgress&) {
                         w0 = page.Width();
                         h0 = page.Height();
                       });
  if (!ran) return;
  Rotate(angleDeg);
  int j, i;
  if (RotateAndCropSize(w0, h0, angleDeg, j, i)) ImageResize(j, i, 1, 1);
}

}  // namespace folivo
