#include "host/PanelMenu.h"

#include <QCoreApplication>

#include "host/PanelWindow.h"

namespace vigil {

PanelMenu::PanelMenu(PanelWindow& panel) : panel_(panel), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("panelMenu"));
    showAction_ = menu_->addAction(QStringLiteral("Show Vigil"));
    QObject::connect(showAction_, &QAction::triggered, this, [this] {
        panel_.togglePanel();
        refresh();
    });
    editAction_ = menu_->addAction(QStringLiteral("Edit"));
    QObject::connect(editAction_, &QAction::triggered, this, [this] {
        if (!panel_.isVisible())
            panel_.setPanelVisible(true);
        panel_.toggleEditing();
        refresh();
    });
    menu_->addSeparator();
    quitAction_ = menu_->addAction(QStringLiteral("&Quit Vigil"));
    QObject::connect(quitAction_, &QAction::triggered, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(menu_.get(), &QMenu::aboutToShow, this, [this] { refresh(); });
    refresh();
}

PanelMenu::~PanelMenu() = default;

void PanelMenu::refresh() {
    showAction_->setText(panel_.isVisible() ? QStringLiteral("&Hide Vigil")
                                            : QStringLiteral("&Show Vigil"));
    editAction_->setVisible(!panel_.editButton()->isHidden());
    editAction_->setText(panel_.isEditing() ? QStringLiteral("&Done") : QStringLiteral("&Edit"));
}

}  // namespace vigil
