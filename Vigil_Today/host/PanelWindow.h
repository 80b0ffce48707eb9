#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <memory>

#include "host/PanelPlaceStore.h"
#include "host/WidgetProviding.h"

namespace vigil {

class PanelMenu;

// The compact, frameless, always-on-top panel that hosts the widget: a header with the title, the
// Edit / Done button and a hide button, and below it the controller's list. A right click on the
// header, the Menu key or Shift+F10 opens the panel's menu (show / hide, edit, quit); Escape closes
// the open details. It opens at its remembered place (or
// the top-right corner of the screen) and remembers where the user drags it. On Wayland the
// compositor places it. Its colours are the controller's (widgetPanelColors).
class PanelWindow : public QWidget {
  public:
    static constexpr int kWidth = 320;
    static constexpr int kScreenMargin = 12;
    // What the panel proposes as the list's margins before the controller answers.
    static constexpr QMargins kProposedMargins{12, 6, 12, 6};
    static constexpr int kSaveDelayMs = 400;

    // The controller (and its list) must outlive the panel.
    PanelWindow(WidgetProviding& controller, PanelPlaceStore& places, QWidget* parent = nullptr);
    ~PanelWindow() override;

    bool isEditing() const { return editing_; }
    void beginEditing();
    void endEditing();
    void toggleEditing();

    // Shows the panel at its place and raises it, or hides it.
    void setPanelVisible(bool visible);
    void togglePanel();

    // Fits the height to the list (up to the screen's height; beyond that the list scrolls).
    void fitToContents();

    QPushButton* editButton() const { return editButton_; }
    QToolButton* hideButton() const { return hideButton_; }
    QWidget* header() const { return header_; }
    PanelMenu& panelMenu() const { return *menu_; }
    // Opens the panel's menu at a point of the header.
    void openMenuAt(const QPoint& headerPoint);
    QScrollArea* scrollArea() const { return scroll_; }

    // True where a window cannot place itself (Wayland).
    static bool compositorPlacesWindows();
    // Where the panel would open: the remembered place when it still lies on a screen, else
    // the top-right corner of the primary screen.
    QPoint startPlace() const;
    // Stores the current place now instead of when the move comes to rest.
    void savePlaceNow();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void applyMargins();
    void applyColors();
    QWidget* makeHeader();

    WidgetProviding& controller_;
    PanelPlaceStore& places_;
    QPointer<QPushButton> editButton_;
    QPointer<QScrollArea> scroll_;
    QPointer<QToolButton> hideButton_;
    QPointer<QWidget> header_;
    std::unique_ptr<PanelMenu> menu_;
    bool editing_ = false;
    bool placing_ = false;
    bool placed_ = false;
    std::optional<QPoint> dragOffset_;
    QTimer saveTimer_;
};

}  // namespace vigil
