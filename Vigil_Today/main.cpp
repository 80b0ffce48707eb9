#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMetaObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "SystemManager.h"
#include "TodayViewController.h"
#include "host/MainEventLoop.h"
#include "host/PanelTray.h"
#include "host/PanelWindow.h"
#include "host/WidgetListViewController.h"
#include "host/Workspace.h"
#include "platform/NetworkLinks.h"
#include "settings/Defaults.h"
#include "settings/SettingsPanelPlaceStore.h"
#include "system/Queue.h"
#include "ui/FUIFont.h"
#include "ui/LeakSuppressions.h"

namespace {

// Two refresh ticks (1.1 s each) and a little more, so the rows show measured rates.
constexpr int kHeadlessRenderMs = 2400;

bool hasDisplay() {
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
           std::getenv("QT_QPA_PLATFORM") != nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool headless = !hasDisplay();
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vigil");
    QApplication::setQuitOnLastWindowClosed(false);
    vigil::runMainQueueOnEventLoop(app);
    vigil::FUIFont::registerFonts();
    // Links without a device behind them (bridges, veth, dummy, VPN tunnels) are listed only
    // when the setting asks for them.
    vigil::platform::NetworkLinks::setListVirtualLinks(
        vigil::Defaults::shared()["listVirtualLinks"].boolValue());

    int status = 0;
    {
        vigil::DesktopWorkspace workspace;
        // The shared System's first samples must be taken here, on the main thread.
        vigil::TodayViewController widget;
        widget.view();
        vigil::SettingsPanelPlaceStore places(vigil::Defaults::shared());
        vigil::PanelWindow panel(widget, places);
        vigil::PanelTray tray(panel, workspace.imageNamed(QStringLiteral("vigil")));
        panel.setPanelVisible(true);
        if (headless) {
            // Nothing can show the panel: after two refresh ticks, render it into a picture and
            // stop (with status 1 when the picture cannot be written).
            QTimer::singleShot(kHeadlessRenderMs, &panel, [&panel] {
                const QString path = QDir::current().filePath(QStringLiteral("vigil-panel.png"));
                if (panel.grab().save(path)) {
                    std::printf("Vigil: no display; the panel is rendered in %s\n",
                                qPrintable(path));
                    std::fflush(stdout);
                    QApplication::exit(0);
                } else {
                    std::fprintf(stderr, "Error: save %s -- could not write the picture\n",
                                 qPrintable(path));
                    QApplication::exit(1);
                }
            });
        }

        if (qEnvironmentVariableIsSet("VIGIL_EXIT_AFTER_MS")) {
            QTimer::singleShot(qEnvironmentVariableIntValue("VIGIL_EXIT_AFTER_MS"), &app,
                               &QApplication::quit);
        }
        status = app.exec();
    }
    vigil::stopRunningMainQueueOnEventLoop();
    vigil::SystemManager::shared().shutdown();
    vigil::Queue::shutdown();
    return status;
}
