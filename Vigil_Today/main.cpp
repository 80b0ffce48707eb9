#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

#include "system/Queue.h"

namespace {

bool hasDisplay() {
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
           std::getenv("QT_QPA_PLATFORM") != nullptr;
}

void installMainExecutor(QApplication& app) {
    vigil::Queue::setMainExecutor([&app](vigil::Queue::Task task) {
        QMetaObject::invokeMethod(&app, std::move(task), Qt::QueuedConnection);
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vigil");
    installMainExecutor(app);

    QWidget panel;
    panel.setWindowTitle("Vigil");
    panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel.resize(320, 200);
    panel.show();

    if (qEnvironmentVariableIsSet("VIGIL_EXIT_AFTER_MS")) {
        QTimer::singleShot(qEnvironmentVariableIntValue("VIGIL_EXIT_AFTER_MS"), &app,
                           &QApplication::quit);
    }
    const int status = app.exec();
    vigil::Queue::setMainExecutor(nullptr);
    vigil::Queue::shutdown();
    return status;
}
