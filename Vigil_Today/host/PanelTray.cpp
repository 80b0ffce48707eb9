#include "host/PanelTray.h"

#include "host/PanelMenu.h"

namespace vigil {

PanelTray::PanelTray(PanelWindow& panel, const QIcon& icon) : panel_(panel) {
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setToolTip(QStringLiteral("Vigil"));
    icon_->setContextMenu(panel_.panelMenu().menu());
    QObject::connect(icon_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason != QSystemTrayIcon::Trigger)
                             return;
                         panel_.togglePanel();
                         panel_.panelMenu().refresh();
                     });
    icon_->show();
}

PanelTray::~PanelTray() {
    if (icon_)
        icon_->setContextMenu(nullptr);
}

}  // namespace vigil
