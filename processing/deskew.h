// Folivo — multi-page TIFF editor.
// Skew detection by horizontal projection profiles over candidate angles,
// and the crop search that follows a straightening rotation.
#pragma once

#include <vector>

#include "formats/bitmap.h"

namespace folivo {

// Candidate offsets in the order they are tried: 0, then -step, -2 step ...
// while the magnitude stays below angleRange / 2, then +step, +2 step ...
// Each offset is the running sum of step. Empty for a step that is not
// positive and finite, or when more than kMaxSkewCandidates would result.
constexpr int kMaxSkewCandidates = 100001;
std::vector<double> SkewCandidates(int angleRange, double angleStep);

// The score of a bitmap as it stands (1-bit: white pixels per row; 24-bit:
// luminance per row; other formats score 0): the row profile scaled to
// 0..1000 of its largest value, then the sum of squared differences of
// neighbouring rows, truncated.
double SkewScore(const TIEBitmap& bitmap);

// The score of working rotated by angleDeg without antialiasing and with
// black fill, computed from where the pixels land rather than from a rotated
// copy (the result is the same). working is ie1g or ie24RGB.
double RotatedSkewScore(const TIEBitmap& working, double angleDeg);

// The skew angle in degrees: startAngle plus the candidate offset whose
// rotated copy scores highest (the earlier on equal scores; 0 when every
// score is 0). With useAsGiven the bitmap is measured as it is, otherwise a
// 24-bit copy reduced with rfFastLinear to max(W div 8, 256) wide. threads
// 0 picks the machine's count; the answer does not depend on it. bitmap
// must be ie1g or ie24RGB; anything else, or no candidates, gives startAngle.
double DetectSkew(const TIEBitmap& bitmap, int angleRange, bool useAsGiven, double angleStep,
                  double startAngle, int threads = 0);

// The crop after rotating a W0 x H0 page by angleDeg: the first (j, i) in
// the search order whose turned bounding box is within one pixel of the
// page size. False when none matches.
bool RotateAndCropSize(int W0, int H0, double angleDeg, int& cropWidth, int& cropHeight);

}  // namespace folivo
