#pragma once

// Shared by the disk, network and battery details tests: readable texts in failure messages and
// the gallery pictures of a view in a theme.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <cstdio>
#include <ostream>

#include "support/QtTestApp.h"
#include "themes/Theme.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vigil::test {

// Lays the view out at the panel's width, paints it over the theme's background (the light theme
// shows the panel's own light grey) and saves it as <gallery>/Vigil_Today/<name>.png.
inline QImage saveDetailPicture(QWidget& view, const Theme& theme, const QString& name) {
    view.setFixedWidth(320);
    view.show();
    QCoreApplication::processEvents();
    view.adjustSize();
    QCoreApplication::processEvents();
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(theme.backgroundColor.value_or(QColor(236, 236, 236)));
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QString path =
        galleryDir("Vigil_Today") + QStringLiteral("/") + name +
        (theme.isDark ? QStringLiteral("-dark.png") : QStringLiteral("-light.png"));
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    std::printf("gallery: %s\n", qPrintable(path));
    view.hide();
    return image;
}

}  // namespace vigil::test
