// Renders every view of the library offscreen into PNG files (VIGIL_GALLERY_DIR, else
// $TMPDIR/vigil-gallery/ui) so a person can look at them, and checks each picture drew something.

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cstdio>

#include "support/QtTestApp.h"
#include "ui/Bar.h"
#include "ui/CircleChart.h"
#include "ui/Controls.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/Glyph.h"
#include "ui/PieChart.h"
#include "ui/Shape.h"
#include "ui/Thermometer.h"

namespace vigil {
namespace {

class GalleryTest : public test::QtTest {
  protected:
    // A dark card like the panel's background, holding the view under test.
    static std::unique_ptr<QWidget> card(int w, int h) {
        auto widget = std::make_unique<QWidget>();
        widget->resize(w, h);
        widget->setAutoFillBackground(true);
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, FUIColor::midnightBlue());
        palette.setColor(QPalette::WindowText, FUIColor::clouds());
        widget->setPalette(palette);
        return widget;
    }

    static void save(QWidget& widget, const char* name) {
        widget.ensurePolished();
        if (widget.layout())
            widget.layout()->activate();
        const QImage image = test::render(widget);
        const QString path =
            test::galleryDir("ui") + QStringLiteral("/") + name + QStringLiteral(".png");
        ASSERT_TRUE(image.save(path)) << qPrintable(path);
        std::printf("gallery: %s\n", qPrintable(path));
        // Something other than the background was drawn.
        const QRgb background = image.pixel(0, 0);
        int differing = 0;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2)
                differing += image.pixel(x, y) != background;
        }
        EXPECT_GT(differing, 10) << name << " looks empty";
    }

    static QLabel* label(const QString& text, QWidget* parent, double size = 13) {
        auto* result = new QLabel(text, parent);
        result->setFont(FUIFont::normal(size).value_or(result->font()));
        result->setAlignment(Qt::AlignCenter);
        return result;
    }
};

TEST_F(GalleryTest, Gauges) {
    auto widget = card(320, 110);
    auto* row = new QHBoxLayout(widget.get());
    const double values[] = {0, 42.6, 85, 100};
    const char* names[] = {"CPU", "MEM", "DISK", "BAT"};
    for (int i = 0; i < 4; ++i) {
        auto* column = new QVBoxLayout();
        CircleChart* chart =
            i == 3 ? new CircleChart(widget.get()) : new GaugeCircleChart(widget.get());
        chart->setFixedSize(56, 56);
        auto* inside = label(QString(), chart, 12);
        inside->setGeometry(0, 0, 56, 56);
        chart->myLabel = inside;
        chart->setPercent(values[i] + 0.001);
        chart->setPercent(values[i]);
        if (i == 0)
            inside->setText(QStringLiteral("0%"));
        column->addWidget(chart, 0, Qt::AlignHCenter);
        column->addWidget(label(QString::fromLatin1(names[i]), widget.get(), 11));
        row->addLayout(column);
    }
    save(*widget, "gauges");
}

TEST_F(GalleryTest, GaugeBands) {
    auto widget = card(320, 80);
    auto* row = new QHBoxLayout(widget.get());
    for (double value : {50.0, 81.0, 91.0, 150.0}) {
        auto* chart = new GaugeCircleChart(widget.get());
        chart->setFixedSize(60, 60);
        chart->setLineWidth(6);
        chart->setPercent(value);
        row->addWidget(chart);
    }
    save(*widget, "gauge-bands");
}

TEST_F(GalleryTest, Bars) {
    auto widget = card(320, 120);
    auto* column = new QVBoxLayout(widget.get());
    for (double value : {0.0, 35.0, 92.0, 99.5}) {
        auto* bar = new GaugeBar(widget.get());
        bar->setFixedHeight(14);
        bar->setLineWidth(6);
        bar->setPercent(value);
        column->addWidget(bar);
    }
    auto* plain = new Bar(widget.get());
    plain->setFixedHeight(14);
    plain->setLineWidth(6);
    plain->setRounded(false);
    column->addWidget(plain);
    save(*widget, "bars");
}

TEST_F(GalleryTest, PieAndLine) {
    auto widget = card(320, 260);
    auto* pie = new PieChart(widget.get());
    pie->setGeometry(10, 10, 100, 100);
    pie->setDataPoints({3, 1, 2, 4});
    pie->setColorPoints(std::vector<QColor>{FUIColor::alizarin(), FUIColor::sunflower(),
                                            FUIColor::peterRiver(), FUIColor::emerald()});
    auto* line = new LineChart(widget.get());
    line->setGeometry(120, 10, 190, 240);
    save(*widget, "pie-line");
}

TEST_F(GalleryTest, Shapes) {
    auto widget = card(320, 60);
    auto* row = new QHBoxLayout(widget.get());
    auto* dot = new Circle(widget.get());
    dot->setFixedSize(12, 12);
    dot->setColor(FUIColor::emerald());
    auto* ring = new Circle(widget.get());
    ring->setFixedSize(20, 20);
    ring->setFill(false);
    auto* square = new Square(widget.get());
    square->setFixedSize(40, 20);
    square->setCornerRadius(4);
    square->setColor(FUIColor::alizarin());
    auto* frame = new Square(widget.get());
    frame->setFixedSize(40, 20);
    frame->setFill(false);
    frame->setCornerRadius(4);
    auto* up = new Triangle(widget.get());
    up->setFixedSize(16, 16);
    up->setColor(FUIColor::sunflower());
    auto* down = new Triangle(widget.get());
    down->setFixedSize(16, 16);
    down->setFlip(true);
    down->setColor(FUIColor::sunflower());
    auto* rule = new HorizontalLine(widget.get());
    rule->setFixedSize(60, 10);
    rule->setRounded(true);
    rule->setColor(FUIColor::clouds());
    for (QWidget* shape :
         std::initializer_list<QWidget*>{dot, ring, square, frame, up, down, rule}) {
        row->addWidget(shape);
    }
    save(*widget, "shapes");
}

TEST_F(GalleryTest, Thermometers) {
    auto widget = card(320, 70);
    auto* row = new QHBoxLayout(widget.get());
    for (ThermalState state : {ThermalState::nominal, ThermalState::fair, ThermalState::serious,
                               ThermalState::critical}) {
        auto* thermometer = new Thermometer(widget.get());
        thermometer->setFixedSize(72, 36);
        thermometer->setValue(state);
        row->addWidget(thermometer);
    }
    widget->show();
    ASSERT_TRUE(test::qtWaitUntil([&] {
        for (auto* t : widget->findChildren<Thermometer*>()) {
            if (t->animation())
                return false;
        }
        return true;
    }));
    save(*widget, "thermometers");
}

TEST_F(GalleryTest, Controls) {
    auto widget = card(320, 90);
    auto* button = new FUIButton(widget.get());
    button->setGeometry(10, 10, 120, 34);
    auto* title = label(QStringLiteral("Open"), button, 14);
    title->setGeometry(0, 0, 120, 34);
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    button->title = title;
    auto* hovered = new FUIButton(widget.get());
    hovered->setGeometry(140, 10, 120, 34);
    hovered->setBackgroundColor(hovered->hoverColor());
    auto* link = new FUILink(widget.get());
    link->setText(QStringLiteral("vigil project page"));
    link->setFont(FUIFont::normal(13).value_or(link->font()));
    link->setTextColor(FUIColor::peterRiver());
    link->setGeometry(10, 55, 180, 24);
    auto* on = new FUIIndicator(widget.get());
    on->setGeometry(220, 60, 10, 10);
    on->setIsActive(true);
    auto* off = new FUIIndicator(widget.get());
    off->setGeometry(240, 60, 10, 10);
    save(*widget, "controls");
}

TEST_F(GalleryTest, Glyphs) {
    auto widget = card(320, 220);
    auto* grid = new QGridLayout(widget.get());
    grid->setSpacing(2);
    const QFont face = FUIFont::glyph(16).value_or(widget->font());
    for (size_t i = 0; i < Glyph::count(); ++i) {
        auto* glyph = new QLabel(QString(QChar(Glyph::table()[i].codePoint)), widget.get());
        glyph->setFont(face);
        glyph->setToolTip(QString::fromLatin1(Glyph::table()[i].name));
        grid->addWidget(glyph, static_cast<int>(i / 15), static_cast<int>(i % 15));
    }
    save(*widget, "glyphs");
}

}  // namespace
}  // namespace vigil
