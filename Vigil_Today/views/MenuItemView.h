#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <QWidgetAction>

namespace vigil {

// The custom view of a menu item: paints the highlight itself (labels white on the highlight
// colour, black otherwise) and makes a click behave like a click on a plain item: the menu
// closes first, then the item's action runs.
class MenuItemView : public QWidget {
  public:
    explicit MenuItemView(QWidget* parent = nullptr);

    QPointer<QAction> menuItem;

    // The menu the item belongs to, if any.
    QMenu* menu() const;
    bool isHighlighted() const;

    // Puts this view into `menu` as a new item and makes it `menuItem`; returns the item.
    QWidgetAction* addTo(QMenu* menu);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void setLabelColors(const QColor& color);

    bool hovered_ = false;
};

}  // namespace vigil
