#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "host/PanelWindow.h"

namespace vigil {

// The tray icon, where the desktop has a tray: a click shows or hides the panel, and its menu is
// the panel's own (the one a right click on the header opens). Without a tray the panel's header
// does it all.
class PanelTray : public QObject {
  public:
    PanelTray(PanelWindow& panel, const QIcon& icon);
    ~PanelTray() override;

    bool isAvailable() const { return icon_ != nullptr; }

  private:
    PanelWindow& panel_;
    QPointer<QSystemTrayIcon> icon_;
};

}  // namespace vigil
