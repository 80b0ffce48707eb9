#include "ui/RingImage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vigil {
namespace {

constexpr double kFullTurn = 2 * std::numbers::pi;

double clamp01(double value) {
    return std::clamp(value, 0.0, 1.0);
}

// The share of a pixel between two edges, from the signed distances (positive inside) of its
// centre to each: a pixel one unit wide is covered by half where its centre sits on an edge.
double coverageBetween(double distanceToFirst, double distanceToSecond) {
    return clamp01(clamp01(0.5 + distanceToFirst) + clamp01(0.5 + distanceToSecond) - 1);
}

// How much of a pixel at `angle` (clockwise from twelve o'clock, [0, 2π)) and `radius` lies on
// the arc, measuring its distance to each flat end along the circle through it.
double arcCoverage(double angle, double radius, double span) {
    if (span >= kFullTurn)
        return 1;
    if (span <= 0)
        return 0;
    // Angles past the middle of the gap are nearer the start, from its counter-clockwise side.
    const double unwrapped = angle > (span + kFullTurn) / 2 ? angle - kFullTurn : angle;
    return coverageBetween(radius * unwrapped, radius * (span - unwrapped));
}

struct Premultiplied {
    double red = 0, green = 0, blue = 0, alpha = 0;

    static Premultiplied of(const QColor& color) {
        const double alpha = color.alphaF();
        return {color.redF() * alpha, color.greenF() * alpha, color.blueF() * alpha, alpha};
    }

    Premultiplied times(double coverage) const {
        return {red * coverage, green * coverage, blue * coverage, alpha * coverage};
    }

    // `this` drawn over `below`.
    Premultiplied over(const Premultiplied& below) const {
        const double rest = 1 - alpha;
        return {red + below.red * rest, green + below.green * rest, blue + below.blue * rest,
                alpha + below.alpha * rest};
    }

    QRgb toRgb() const {
        auto channel = [](double value) {
            return static_cast<int>(std::lround(clamp01(value) * 255));
        };
        return qRgba(channel(red), channel(green), channel(blue), channel(alpha));
    }
};

}  // namespace

void drawRing(const RingLook& ring, QImage& image) {
    if (image.size() != ring.size || image.format() != QImage::Format_ARGB32_Premultiplied)
        image = QImage(ring.size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    image.fill(Qt::transparent);
    const double outer = (ring.diameter + ring.lineWidth) / 2;
    const double inner = std::max(0.0, (ring.diameter - ring.lineWidth) / 2);
    // Pixels whose centres lie this far outside either edge are not touched at all.
    const double reachOut = (outer + 0.5) * (outer + 0.5);
    const double reachIn = inner > 0.5 ? (inner - 0.5) * (inner - 0.5) : -1;
    const double span = std::clamp(ring.spanDegrees, 0.0, 360.0) / 360.0 * kFullTurn;
    const bool partArc = span > 0 && span < kFullTurn;
    const Premultiplied arc = Premultiplied::of(ring.arc);
    const Premultiplied track = Premultiplied::of(ring.track);
    const double centreX = ring.size.width() / 2.0;
    const double centreY = ring.size.height() / 2.0;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double dy = y + 0.5 - centreY;
        for (int x = 0; x < image.width(); ++x) {
            const double dx = x + 0.5 - centreX;
            const double squared = dx * dx + dy * dy;
            if (squared >= reachOut || squared <= reachIn)
                continue;
            const double radius = std::sqrt(squared);
            const double onRing = coverageBetween(radius - inner, outer - radius);
            double onArc = span > 0 ? onRing : 0;
            if (partArc && onArc > 0) {
                double angle = std::atan2(dx, -dy);
                if (angle < 0)
                    angle += kFullTurn;
                onArc *= arcCoverage(angle, radius, span);
            }
            line[x] = arc.times(onArc).over(track.times(onRing)).toRgb();
        }
    }
}

QImage drawRing(const RingLook& ring) {
    QImage image;
    drawRing(ring, image);
    return image;
}

}  // namespace vigil
