// Folivo — multi-page TIFF editor.
// TImageProc: the processing component attached to a view state. Every image
// operation enters through one frame: admission of pixel formats (with
// conversion by preference lists), the undo snapshot, the selection-limited
// region with the mask copied back, progress and the finish events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/bitmap.h"
#include "formats/params.h"
#include "processing/resample.h"
#include "processing/undo.h"
#include "processing/viewstate.h"

namespace folivo {

// Bit f set: pixel format f accepted. 0 accepts every format.
using TFormatSet = uint32_t;
constexpr TFormatSet FormatBit(TPagePixelFormat f) {
  return 1u << f;
}

// Where an operation's undo snapshot is taken.
enum class TSnapshotPoint : uint8_t { None, BeforeAdmission, AfterAdmission };

struct TOperationFrame {
  TFormatSet Accepts = 0;
  bool SelectionLimited = false;
  bool ReadsOnly = false;  // a selection-limited operation that does not write back
  TSnapshotPoint Snapshot = TSnapshotPoint::AfterAdmission;
  std::string Caption;
};

// The format a page of format page becomes for an operation accepting
// accepts: the page's own when accepted, else the first of its preference
// list that is accepted, else the highest-numbered accepted format.
TPagePixelFormat AdmissionFormat(TPagePixelFormat page, TFormatSet accepts);

// "Rotate " and the like: the angle in shortest general form, up to 15
// significant digits.
std::string FormatAngle(double angleDeg);

class TImageProc {
 public:
  explicit TImageProc(TViewState& view) : view_(&view) {}
  TImageProc(const TImageProc&) = delete;
  TImageProc& operator=(const TImageProc&) = delete;

  TViewState& AttachedView() { return *view_; }
  void Attach(TViewState& view) { view_ = &view; }
  // Fill colour of uncovered areas: the attached view's background.
  uint32_t Background() const { return view_->BackgroundColor; }

  bool AutoUndo = true;
  bool AutoConvertFormat = true;
  int UndoLimit() const { return history_.UndoLimit; }
  void SetUndoLimit(int limit) { history_.UndoLimit = limit; }
  TUndoHistory& History() { return history_; }
  bool Undo() { return history_.Undo(*view_); }
  bool Redo() { return history_.Redo(*view_); }

  TIEProgressEvent OnProgress;         // (sender = this, percent 0..100)
  std::function<void()> OnFinishWork;  // after every operation that ran

  // Runs body inside the frame on the region (the page, or a copy of the
  // selection's bounding rectangle). Returns false, with nothing changed,
  // when the page is empty or its format is refused without
  // AutoConvertFormat.
  bool Run(const TOperationFrame& frame,
           const std::function<void(TIEBitmap& region, TIOProgress& progress)>& body);

  // Counter-clockwise for positive angles; 0 and non-finite angles do
  // nothing.
  void Rotate(double angleDeg);
  // 0 left to right, 1 top to bottom.
  void Flip(int direction);
  // The page becomes the selection's bounding rectangle (pixels outside the
  // mask get the background); without a selection only the snapshot is taken.
  void CropSel();
  // Canvas size without scaling; align 0 keeps the left/top edge, 1 centres,
  // 2 keeps the right/bottom edge. A size <= 0 does nothing.
  void ImageResize(int newWidth, int newHeight, int hAlign, int vAlign);
  void Clear();
  // See ResampleTargetSize for the sizes; both negative leaves the page
  // as it is (after the snapshot). An unknown filter does nothing.
  void Resample(int newWidth, int newHeight, TResampleFilter filter);
  // The skew in degrees of the page or the selection (see deskew.h); the
  // page is only converted when it is neither 1-bit nor 24-bit.
  double DetectSkewAngle(int angleRange, bool useAsGiven, double angleStep, double startAngle);
  // Rotates by angleDeg and crops to the largest centred rectangle free of
  // fill; up to three undo entries.
  void RotateAndCrop(double angleDeg);

 private:
  void Snapshot(const std::string& caption);
  void Finish(TIOProgress& progress);

  TViewState* view_;
  TUndoHistory history_;
};

}  // namespace folivo
