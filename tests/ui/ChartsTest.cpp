#include <QLabel>
#include <QPainter>

#include <cmath>
#include <limits>

#include "support/QtTestApp.h"
#include "ui/Bar.h"
#include "ui/CircleChart.h"
#include "ui/FUIColor.h"
#include "ui/PieChart.h"
#include "ui/RingImage.h"
#include "ui/Shape.h"

namespace vigil {
namespace {

using test::colorDistance;
using test::render;

class ChartsTest : public test::QtTest {};

// A chart that counts its paints.
template <typename Chart>
struct PaintCounting : Chart {
    int paints = 0;
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        Chart::paintEvent(event);
    }
};

// Is this pixel close to `color` drawn opaque (alpha ignored below 0.5 of `minAlpha`)?
bool near(QColor pixel, QColor color, int tolerance = 40) {
    return std::abs(pixel.red() - color.red()) + std::abs(pixel.green() - color.green()) +
               std::abs(pixel.blue() - color.blue()) <=
           tolerance;
}

TEST_F(ChartsTest, CircleChartArcSpan) {
    CircleChart chart;
    EXPECT_EQ(chart.arcSpanDegrees(), 0);
    chart.setPercent(0.4);
    EXPECT_EQ(chart.arcSpanDegrees(), 0);
    chart.setPercent(0.5);
    EXPECT_NEAR(chart.arcSpanDegrees(), 1.8, 1e-9);
    chart.setPercent(50);
    EXPECT_NEAR(chart.arcSpanDegrees(), 180, 1e-9);
    chart.setPercent(100);
    EXPECT_NEAR(chart.arcSpanDegrees(), 360, 1e-9);
    chart.setPercent(250);
    EXPECT_NEAR(chart.arcSpanDegrees(), 360, 1e-9);
    chart.setPercent(std::nan(""));
    EXPECT_EQ(chart.percent(), 0);
    EXPECT_EQ(chart.arcSpanDegrees(), 0);
    chart.setPercent(std::numeric_limits<double>::infinity());
    EXPECT_NEAR(chart.arcSpanDegrees(), 360, 1e-9);
    chart.setPercent(-20);
    EXPECT_EQ(chart.arcSpanDegrees(), 0);
}

TEST_F(ChartsTest, CircleChartLabelFollowsTheWholeNumber) {
    CircleChart chart;
    QLabel label;
    chart.myLabel = &label;
    chart.setPercent(42.6);
    EXPECT_EQ(label.text(), QStringLiteral("43%"));
    chart.setPercent(3);
    chart.setPercent(0.4);
    EXPECT_EQ(label.text(), QStringLiteral("0%"));
    chart.setPercent(50.2);
    EXPECT_EQ(label.text(), QStringLiteral("50%"));
    label.setText(QStringLiteral("untouched"));
    chart.setPercent(49.8);  // also 50 when rounded: nothing is redrawn or relabelled
    EXPECT_EQ(label.text(), QStringLiteral("untouched"));
    EXPECT_DOUBLE_EQ(chart.percent(), 49.8);
    chart.setPercent(2.5);  // halves round away from zero
    EXPECT_EQ(label.text(), QStringLiteral("3%"));
    chart.setPercent(std::nan(""));
    EXPECT_EQ(label.text(), QStringLiteral("0%"));
}

TEST_F(ChartsTest, GaugeThresholdBands) {
    GaugeCircleChart gauge;
    const QColor green = colorRGBA(46, 204, 113);
    const QColor yellow = colorRGBA(241, 196, 15);
    const QColor red = colorRGBA(231, 76, 60);
    gauge.setPercent(80.9);
    EXPECT_EQ(gauge.color(), green);
    gauge.setPercent(81.0);
    EXPECT_EQ(gauge.color(), yellow);
    gauge.setPercent(90.9);
    EXPECT_EQ(gauge.color(), yellow);
    gauge.setPercent(91.0);
    EXPECT_EQ(gauge.color(), red);
    gauge.setPercent(std::nan(""));
    EXPECT_EQ(gauge.color(), green);
    // New thresholds apply at the next value, not at once.
    gauge.setPercent(50);
    gauge.setSuccess(40);
    EXPECT_EQ(gauge.color(), green);
    gauge.setPercent(50);
    EXPECT_EQ(gauge.color(), yellow);
    // A firing alert turns the gauge red at once and for every value, until it clears.
    gauge.setAlarmed(true);
    EXPECT_EQ(gauge.color(), red);
    gauge.setPercent(10);
    EXPECT_EQ(gauge.color(), red);
    gauge.setAlarmed(false);
    EXPECT_EQ(gauge.color(), green);

    GaugeBar bar;
    bar.setPercent(90.9);
    EXPECT_EQ(bar.color(), green);
    bar.setPercent(91.0);
    EXPECT_EQ(bar.color(), yellow);
    bar.setPercent(98.9);
    EXPECT_EQ(bar.color(), yellow);
    bar.setPercent(99.0);
    EXPECT_EQ(bar.color(), red);
    bar.setPercent(20);
    bar.setAlarmed(true);
    EXPECT_EQ(bar.color(), red);
    bar.setAlarmed(false);
    EXPECT_EQ(bar.color(), green);
    bar.setColorize(false);
    bar.setColor(FUIColor::amethyst());
    bar.setPercent(10);
    EXPECT_EQ(bar.color(), FUIColor::amethyst());
    EXPECT_DOUBLE_EQ(bar.percent(), 10);
}

TEST_F(ChartsTest, GaugeAtHalfPaintsTheRightHalfOfTheRing) {
    GaugeCircleChart gauge;
    gauge.resize(100, 100);
    gauge.setPercent(50);
    const QImage image = render(gauge);
    // Ring radius: (100 - 2 * 4) / 2 = 46 around (50, 50), 4 points wide.
    const QColor arc = colorRGBA(46, 204, 113);
    EXPECT_TRUE(near(image.pixelColor(96, 50), arc)) << "three o'clock is not the arc colour";
    EXPECT_GT(image.pixelColor(96, 50).alpha(), 200);
    EXPECT_GT(image.pixelColor(83, 17).alpha(), 200);  // one thirty, on the arc
    // Nine o'clock is only the faint ring: same hue, alpha about 0.2.
    const QColor faint = image.pixelColor(4, 50);
    EXPECT_GT(faint.alpha(), 20);
    EXPECT_LT(faint.alpha(), 90);
    EXPECT_EQ(image.pixelColor(50, 50).alpha(), 0);  // the middle stays clear

    gauge.setPercent(95);
    const QImage danger = render(gauge);
    EXPECT_TRUE(near(danger.pixelColor(4, 50), colorRGBA(231, 76, 60)));
    EXPECT_GT(danger.pixelColor(4, 50).alpha(), 200);

    gauge.setPercent(0.4);
    const QImage empty = render(gauge);
    EXPECT_LT(empty.pixelColor(96, 50).alpha(), 90);
}

// The ring as the raster engine strokes it: the track as an ellipse, the arc with flat caps.
QImage strokedRing(const RingLook& ring) {
    QImage image(ring.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(ring.size.width() / 2.0 - ring.diameter / 2,
                        ring.size.height() / 2.0 - ring.diameter / 2, ring.diameter, ring.diameter);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(strokePen(ring.track, ring.lineWidth, Qt::FlatCap));
    painter.drawEllipse(circle);
    if (ring.spanDegrees > 0) {
        painter.setPen(strokePen(ring.arc, ring.lineWidth, Qt::FlatCap));
        painter.drawArc(circle, 90 * 16, -static_cast<int>(std::lround(ring.spanDegrees * 16)));
    }
    return image;
}

struct PixelDifference {
    int largest = 0;     // in any channel, 0 to 255
    int beyondEdge = 0;  // pixels off by more than an antialiased edge pixel may be
};

PixelDifference compare(const QImage& a, const QImage& b) {
    PixelDifference difference;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int worst =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            difference.largest = std::max(difference.largest, worst);
            difference.beyondEdge += worst > 96;
        }
    return difference;
}

TEST_F(ChartsTest, RingPixelsMatchThePaintersStroke) {
    const QColor green = colorRGBA(46, 204, 113);
    QColor faint = green;
    faint.setAlphaF(0.2f);
    // Sizes and line widths of the panel's gauges at one and two device pixels per point, a wide
    // widget, and spans from none through a sliver to the full turn.
    const RingLook looks[] = {
        {QSize(44, 44), 36, 4, faint, green, 0},
        {QSize(44, 44), 36, 4, faint, green, 3.6},
        {QSize(44, 44), 36, 4, faint, green, 90},
        {QSize(44, 44), 36, 4, faint, green, 187.2},
        {QSize(88, 88), 72, 8, faint, colorRGBA(231, 76, 60), 301},
        {QSize(120, 60), 50, 5, faint, green, 359},
        {QSize(60, 60), 52, 4, faint, green, 360},
    };
    for (const RingLook& look : looks) {
        SCOPED_TRACE(testing::Message() << look.size.width() << "x" << look.size.height()
                                        << " span " << look.spanDegrees);
        const QImage drawn = drawRing(look);
        ASSERT_EQ(drawn.size(), look.size);
        const PixelDifference difference = compare(drawn, strokedRing(look));
        // The two antialias edges a little differently (up to 81 of 255 here); a ring half a
        // pixel too wide, or an arc turned the wrong way, differs by far more.
        EXPECT_EQ(difference.beyondEdge, 0);
        EXPECT_LE(difference.largest, 100);
    }
}

TEST_F(ChartsTest, GaugeWidgetShowsItsRingAndRedrawsForANewLook) {
    GaugeCircleChart gauge;
    gauge.resize(44, 44);
    gauge.setPercent(30);
    const std::optional<RingLook> look = gauge.look(1.0);
    ASSERT_TRUE(look);
    EXPECT_EQ(
        compare(render(gauge), drawRing(*look).convertToFormat(QImage::Format_ARGB32)).largest, 0);
    gauge.setPercent(95);
    const QImage red = render(gauge);
    EXPECT_EQ(
        compare(red, drawRing(*gauge.look(1.0)).convertToFormat(QImage::Format_ARGB32)).largest, 0);
    EXPECT_GT(compare(red, drawRing(*look).convertToFormat(QImage::Format_ARGB32)).largest, 100);

    gauge.setLineWidth(0);
    EXPECT_FALSE(gauge.look(1.0));
    gauge.setLineWidth(30);  // no room left for the circle
    EXPECT_FALSE(gauge.look(1.0));
}

TEST_F(ChartsTest, BarFillsItsShare) {
    Bar bar;
    bar.resize(100, 10);
    bar.setLineWidth(4);
    bar.setRounded(false);
    bar.setPercent(50);
    const QImage image = render(bar);
    EXPECT_GT(image.pixelColor(25, 5).alpha(), 200);
    EXPECT_TRUE(near(image.pixelColor(25, 5), FUIColor::peterRiver()));
    const QColor track = image.pixelColor(75, 5);
    EXPECT_GT(track.alpha(), 20);
    EXPECT_LT(track.alpha(), 90);
    bar.setPercent(std::nan(""));
    EXPECT_EQ(bar.percent(), 0);
    EXPECT_LT(render(bar).pixelColor(25, 5).alpha(), 90);
    bar.setPercent(250);  // draws past the end; the widget clips it
    EXPECT_GT(render(bar).pixelColor(98, 5).alpha(), 200);
}

TEST_F(ChartsTest, BarRepaintsOnlyForChangesThatShow) {
    PaintCounting<Bar> bar;
    bar.resize(100, 10);
    bar.setPercent(50);
    bar.show();
    ASSERT_TRUE(test::qtWaitUntil([&] { return bar.paints > 0; }));
    const auto paintsAfter = [&](double percent) {
        const int before = bar.paints;
        bar.setPercent(percent);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return bar.paints - before;
    };
    // A twentieth of a pixel, then another: nothing to see.
    EXPECT_EQ(paintsAfter(50.05), 0);
    EXPECT_EQ(paintsAfter(50.10), 0);
    EXPECT_DOUBLE_EQ(bar.percent(), 50.10);
    // Small steps add up from where the bar was painted, not from the last value.
    EXPECT_EQ(paintsAfter(50.15), 1);
    EXPECT_EQ(paintsAfter(50.20), 0);
    EXPECT_EQ(paintsAfter(51), 1);
    EXPECT_EQ(paintsAfter(std::nan("")), 1);
}

TEST_F(ChartsTest, PieSlices) {
    PieChart pie;
    pie.setDataPoints({1, 1, 2});
    pie.setColorPoints(
        std::vector<QColor>{FUIColor::alizarin(), FUIColor::emerald(), FUIColor::peterRiver()});
    const auto slices = pie.slices();
    ASSERT_EQ(slices.size(), 3u);
    EXPECT_DOUBLE_EQ(slices[0].startDegrees, 0);
    EXPECT_DOUBLE_EQ(slices[0].spanDegrees, 90);
    EXPECT_DOUBLE_EQ(slices[1].startDegrees, 90);
    EXPECT_DOUBLE_EQ(slices[2].spanDegrees, 180);

    pie.resize(100, 100);
    const QImage image = render(pie);
    EXPECT_TRUE(near(image.pixelColor(75, 25), FUIColor::alizarin()));    // top right
    EXPECT_TRUE(near(image.pixelColor(75, 75), FUIColor::emerald()));     // bottom right
    EXPECT_TRUE(near(image.pixelColor(25, 50), FUIColor::peterRiver()));  // left half

    pie.setColorPoints(std::vector<QColor>{FUIColor::alizarin(), FUIColor::emerald()});
    EXPECT_TRUE(pie.slices().empty());
    pie.setColorPoints(std::nullopt);
    EXPECT_TRUE(pie.slices().empty());

    pie.setDataPoints({});
    EXPECT_FALSE(pie.toPercent().has_value());
    pie.setDataPoints({0, 0});
    EXPECT_FALSE(pie.toPercent().has_value());
    pie.setDataPoints({std::nan(""), 3, -2, 1});
    const auto shares = pie.toPercent();
    ASSERT_TRUE(shares.has_value());
    EXPECT_DOUBLE_EQ((*shares)[0], 0);
    EXPECT_DOUBLE_EQ((*shares)[1], 0.75);
    EXPECT_DOUBLE_EQ((*shares)[2], 0);
    EXPECT_DOUBLE_EQ((*shares)[3], 0.25);
}

TEST_F(ChartsTest, PieRepaintsOnlyForChangesThatShow) {
    PaintCounting<PieChart> pie;
    pie.resize(76, 76);
    pie.setColorPoints(std::vector<QColor>{FUIColor::alizarin(), FUIColor::emerald()});
    pie.setDataPoints({1000, 3000});
    pie.show();
    ASSERT_TRUE(test::qtWaitUntil([&] { return pie.paints > 0; }));
    const auto paintsAfter = [&](std::vector<double> points) {
        const int before = pie.paints;
        pie.setDataPoints(std::move(points));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return pie.paints - before;
    };
    // 0.1 degree, then 0.2 from where the pie was painted: nothing to see.
    EXPECT_EQ(paintsAfter({1000 + 4000 * 0.1 / 360, 3000 - 4000 * 0.1 / 360}), 0);
    EXPECT_EQ(paintsAfter({1000 + 4000 * 0.2 / 360, 3000 - 4000 * 0.2 / 360}), 0);
    EXPECT_DOUBLE_EQ(pie.dataPoints()[0], 1000 + 4000 * 0.2 / 360);
    // The small steps add up to a quarter of a degree.
    EXPECT_EQ(paintsAfter({1000 + 4000 * 0.3 / 360, 3000 - 4000 * 0.3 / 360}), 1);
    EXPECT_EQ(paintsAfter({2000, 2000}), 1);
    EXPECT_EQ(paintsAfter({2000, 2000, 1}), 1);  // another slice
    EXPECT_EQ(paintsAfter({0, 0, 0}), 1);        // nothing to draw
    EXPECT_EQ(paintsAfter({std::nan(""), 1, 1}), 1);
}

TEST_F(ChartsTest, LineChartGeometry) {
    LineChart chart;
    const auto points = chart.graphPoints(300, 250);
    ASSERT_EQ(points.size(), 9u);
    EXPECT_DOUBLE_EQ(points[7].y(), 60);  // the largest sample touches the top guide
    EXPECT_DOUBLE_EQ(points[0].x(), 22);
    EXPECT_DOUBLE_EQ(points[8].x(), 300 - 44 + 22);
    chart.setDataPoints({0, 5});
    EXPECT_DOUBLE_EQ(chart.graphPoints(300, 250)[0].y(), 250 - 50);
    chart.setDataPoints({0, 0, 0});
    for (const QPointF& p : chart.graphPoints(300, 250))
        EXPECT_DOUBLE_EQ(p.y(), 200);
    chart.setDataPoints({7});
    ASSERT_EQ(chart.graphPoints(300, 250).size(), 1u);
    EXPECT_DOUBLE_EQ(chart.graphPoints(300, 250)[0].x(), 22);
    chart.setDataPoints({});
    EXPECT_TRUE(chart.graphPoints(300, 250).empty());
    chart.resize(300, 250);
    EXPECT_FALSE(render(chart).isNull());
}

TEST_F(ChartsTest, ShapesDrawWhereTheyShould) {
    Circle ring;
    ring.resize(10, 10);
    ring.setFill(false);
    ring.setColor(FUIColor::black());
    const QImage ringImage = render(ring);
    EXPECT_GT(ringImage.pixelColor(5, 2).alpha(), 100);  // top of the 6 x 6 oval at (2, 2)
    EXPECT_EQ(ringImage.pixelColor(0, 0).alpha(), 0);
    EXPECT_LT(ringImage.pixelColor(5, 5).alpha(), 60);

    Triangle triangle;
    triangle.resize(20, 20);
    triangle.setColor(FUIColor::black());
    const QImage up = render(triangle);
    EXPECT_EQ(triangle.lineWidth(), 0);             // a filled triangle drops its outline width
    EXPECT_GT(up.pixelColor(10, 17).alpha(), 200);  // wide base at the bottom
    EXPECT_GT(up.pixelColor(2, 18).alpha(), 100);
    EXPECT_EQ(up.pixelColor(2, 2).alpha(), 0);  // narrow apex at the top
    triangle.setFlip(true);
    const QImage down = render(triangle);
    EXPECT_GT(down.pixelColor(2, 1).alpha(), 100);
    EXPECT_EQ(down.pixelColor(2, 18).alpha(), 0);
    triangle.setFill(false);  // outline of width 0 draws nothing until a width is set
    EXPECT_EQ(render(triangle).pixelColor(10, 1).alpha(), 0);

    Square square;
    square.resize(20, 10);
    square.setColor(FUIColor::black());
    EXPECT_GT(render(square).pixelColor(0, 0).alpha(), 200);  // corner radius 0 is sharp
    square.setCornerRadius(5);
    EXPECT_LT(render(square).pixelColor(0, 0).alpha(), 100);

    HorizontalLine line;
    line.resize(40, 10);
    line.setLineWidth(2);
    EXPECT_GT(render(line).pixelColor(20, 5).alpha(), 200);
}

}  // namespace
}  // namespace vigil
