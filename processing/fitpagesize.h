// Folivo — multi-page TIFF editor.
// FitPageSize: resizing the attached view's image to a side length, as the
// resize command and the deskew reduction do.
#pragma once

#include "processing/resample.h"

namespace folivo {

class TImageProc;

// The filter of a filter index: 0 rfHermite, 1 rfBell, 2 rfBSpline,
// 3 rfLanczos3, 4 rfMitchell, 5 rfNearest, 6 rfBilinear, 7 rfBicubic,
// 8 rfTriangle, 9 rfLinear, 10 rfFastLinear, 11 rfProjectBW,
// 12 rfProjectWB; false for any other index.
bool FitFilterFromIndex(int filterIndex, TResampleFilter& filter);

// The new size for side (0 longer, 1 shorter, 2 horizontal, 3 vertical,
// 4 both given) of a w x h image; false when nothing should happen: the same
// size, option 1 (only shrink) without shrinking, option 2 (only enlarge)
// without enlarging, an empty image or an unknown side.
bool FitSize(int w, int h, int side, int option, int targetHeight, int targetWidth, int& newWidth,
             int& newHeight);

// Resamples the view's image of proc to FitSize's size with the indexed
// filter (an index above 12 resamples nothing). Returns whether it resampled.
bool FitPageSize(TImageProc& proc, int side, int option, int targetHeight, int targetWidth,
                 int filterIndex);

}  // namespace folivo
