#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

#include "host/PanelWindow.h"

namespace vigil {

// The tray icon: a click shows or hides the panel; its menu also begins and ends editing and
// quits. Without a system tray the panel simply stays shown (said once on stderr).
class PanelTray : public QObject {
  public:
    PanelTray(PanelWindow& panel, const QIcon& icon);
    ~PanelTray() override;

    bool isAvailable() const { return available_; }
    QMenu* menu() const { return menu_.get(); }
    QAction* showAction() const { return showAction_; }
    QAction* editAction() const { return editAction_; }

    // Brings the menu texts in line with the panel's state.
    void refreshMenu();

  private:
    PanelWindow& panel_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QSystemTrayIcon> icon_;
    QPointer<QAction> showAction_;
    QPointer<QAction> editAction_;
    bool available_ = false;
};

}  // namespace vigil
