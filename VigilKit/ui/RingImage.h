#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

namespace vigil {

// A ring gauge as pixels: a full ring in `track` and over it an arc in `arc` that runs clockwise
// from twelve o'clock for `spanDegrees`, with flat ends. The ring is `lineWidth` wide, centred on
// a circle of `diameter` in the middle of an image of `size`. Lengths are in device pixels.
struct RingLook {
    QSize size;
    double diameter = 0;
    double lineWidth = 0;
    QColor track;
    QColor arc;
    double spanDegrees = 0;

    bool operator==(const RingLook&) const = default;
};

// Draws the ring with each pixel's coverage worked out from its distance to the ring's edges and
// the arc's ends. A stroked path would go through the raster engine's span filler, which splits
// the fill of a ring across Qt's GUI thread pool and waits for it; this stays on the caller's
// thread. Premultiplied ARGB; transparent where nothing is drawn.
QImage drawRing(const RingLook& ring);
// The same into `image`, whose pixels are reused when it already has the ring's size.
void drawRing(const RingLook& ring, QImage& image);

}  // namespace vigil
