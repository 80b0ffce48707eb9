#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPointer>

#include <memory>

namespace vigil {

class PanelWindow;

// The panel's menu: Show / Hide Vigil, Edit / Done, Quit Vigil. The tray icon and a right click
// on the panel's header open the same menu.
class PanelMenu : public QObject {
  public:
    explicit PanelMenu(PanelWindow& panel);
    ~PanelMenu() override;

    QMenu* menu() const { return menu_.get(); }
    QAction* showAction() const { return showAction_; }
    QAction* editAction() const { return editAction_; }
    QAction* quitAction() const { return quitAction_; }

    // Brings the texts in line with the panel's state.
    void refresh();

  private:
    PanelWindow& panel_;
    std::unique_ptr<QMenu> menu_;
    QPointer<QAction> showAction_;
    QPointer<QAction> editAction_;
    QPointer<QAction> quitAction_;
};

}  // namespace vigil
