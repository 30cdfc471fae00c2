#pragma once
// Smooth scaling of 24-bit pictures, used for the scaled images of the web interface.
#include "common/TBitmap24.h"

// Scales the source rectangle into the target rectangle: each target pixel is the average
// of the source area it covers, weighted by how much of each source pixel lies inside.
// Pixels of the source's transparent colour do not count; the background colour fills
// the share they leave. Equal sizes with an opaque source copy the pixels. Rectangles are
// clipped to their pictures; an empty one changes nothing.
void StretchSmooth(const TBitmap24& source, TPixelRect sourceRect, TBitmap24& target,
                   TPixelRect targetRect, TRgb background);
