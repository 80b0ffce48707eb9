#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include "ui/FUIFont.h"

namespace vigil::test {

// The one QApplication of a test program, made on first use, with the fonts registered.
inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "vigil-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Views are rendered offscreen, whatever display the shell that runs the tests has.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* created = new QApplication(argc, argv);
        FUIFont::registerFonts();
        return created;
    }();
    return *app;
}

class QtTest : public ::testing::Test {
  protected:
    void SetUp() override { qtApp(); }
};

// Runs the Qt event loop until the condition holds or the deadline passes.
inline bool qtWaitUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > deadline.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// What a widget shows, at one device pixel per point.
inline QImage render(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Pointer events as the window system would deliver them.
inline void sendEnter(QWidget& widget, QPointF at = {1, 1}) {
    QEnterEvent event(at, widget.mapToGlobal(at), widget.mapToGlobal(at));
    QApplication::sendEvent(&widget, &event);
}
inline void sendLeave(QWidget& widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&widget, &event);
}
inline void sendMouse(QWidget& widget, QEvent::Type type, QPointF at,
                      Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::MouseButtons();
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}
inline void click(QWidget& widget, QPointF at) {
    sendMouse(widget, QEvent::MouseButtonPress, at);
    sendMouse(widget, QEvent::MouseButtonRelease, at);
}

// Where the gallery pictures go: $VIGIL_GALLERY_DIR when set (kept), else a folder under the
// temporary directory.
inline QString galleryDir(const char* sub) {
    QString base = qEnvironmentVariable("VIGIL_GALLERY_DIR");
    if (base.isEmpty())
        base = QDir::temp().filePath(QStringLiteral("vigil-gallery"));
    const QString dir = QDir(base).filePath(QString::fromLatin1(sub));
    QDir().mkpath(dir);
    return dir;
}

// Colour distance over the four channels (0 = same).
inline int colorDistance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue()) + std::abs(a.alpha() - b.alpha());
}

}  // namespace vigil::test
