#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

#include "host/PanelPlaceStore.h"
#include "host/WidgetProviding.h"

namespace vigil {

// The compact, frameless, always-on-top panel that hosts the widget: a header with the title and
// the Edit / Done button, and below it the controller's list. It opens at its remembered place
// (or the top-right corner of the screen) and remembers where the user drags it. On Wayland the
// compositor places it.
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
    void paintEvent(QPaintEvent* event) override;

  private:
    void applyMargins();

    WidgetProviding& controller_;
    PanelPlaceStore& places_;
    QPointer<QPushButton> editButton_;
    QPointer<QScrollArea> scroll_;
    QPointer<QWidget> header_;
    bool editing_ = false;
    bool placing_ = false;
    bool placed_ = false;
    std::optional<QPoint> dragOffset_;
    QTimer saveTimer_;
};

}  // namespace vigil
