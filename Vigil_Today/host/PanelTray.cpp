#include "host/PanelTray.h"

#include <QApplication>

#include <cstdio>

namespace vigil {

PanelTray::PanelTray(PanelWindow& panel, const QIcon& icon)
    : panel_(panel), menu_(std::make_unique<QMenu>()) {
    showAction_ = menu_->addAction(QStringLiteral("Show Vigil"));
    QObject::connect(showAction_, &QAction::triggered, this, [this] {
        panel_.togglePanel();
        refreshMenu();
    });
    editAction_ = menu_->addAction(QStringLiteral("Edit"));
    QObject::connect(editAction_, &QAction::triggered, this, [this] {
        if (!panel_.isVisible())
            panel_.setPanelVisible(true);
        panel_.toggleEditing();
        refreshMenu();
    });
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit Vigil"));
    QObject::connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);
    QObject::connect(menu_.get(), &QMenu::aboutToShow, this, [this] { refreshMenu(); });
    refreshMenu();

    available_ = QSystemTrayIcon::isSystemTrayAvailable();
    if (!available_) {
        std::fprintf(stderr, "Vigil: no system tray here; the panel stays shown\n");
        return;
    }
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setToolTip(QStringLiteral("Vigil"));
    icon_->setContextMenu(menu_.get());
    QObject::connect(icon_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason != QSystemTrayIcon::Trigger)
                             return;
                         panel_.togglePanel();
                         refreshMenu();
                     });
    icon_->show();
}

PanelTray::~PanelTray() {
    if (icon_)
        icon_->setContextMenu(nullptr);
}

void PanelTray::refreshMenu() {
    showAction_->setText(panel_.isVisible() ? QStringLiteral("Hide Vigil")
                                            : QStringLiteral("Show Vigil"));
    editAction_->setVisible(!panel_.editButton()->isHidden());
    editAction_->setText(panel_.isEditing() ? QStringLiteral("Done") : QStringLiteral("Edit"));
}

}  // namespace vigil
