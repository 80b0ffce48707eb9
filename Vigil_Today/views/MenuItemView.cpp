#include "views/MenuItemView.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace vigil {

MenuItemView::MenuItemView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
}

QMenu* MenuItemView::menu() const {
    if (!menuItem)
        return nullptr;
    for (QObject* object : menuItem->associatedObjects()) {
        if (auto* owner = qobject_cast<QMenu*>(object))
            return owner;
    }
    return nullptr;
}

bool MenuItemView::isHighlighted() const {
    if (!menuItem)
        return false;
    if (hovered_)
        return true;
    QMenu* owner = menu();
    return owner && owner->activeAction() == menuItem;
}

QWidgetAction* MenuItemView::addTo(QMenu* owner) {
    auto* action = new QWidgetAction(owner);
    action->setDefaultWidget(this);
    owner->addAction(action);
    menuItem = action;
    QObject::connect(owner, &QMenu::hovered, this, [this](QAction*) { update(); });
    return action;
}

void MenuItemView::setLabelColors(const QColor& color) {
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        QPalette palette = label->palette();
        if (palette.color(QPalette::WindowText) == color)
            continue;
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
}

void MenuItemView::paintEvent(QPaintEvent*) {
    if (!menuItem)
        return;
    if (isHighlighted()) {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Active, QPalette::Highlight));
        setLabelColors(Qt::white);
    } else {
        setLabelColors(Qt::black);
    }
}

void MenuItemView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    QMenu* owner = menu();
    if (!menuItem || !owner)
        return;
    QPointer<QAction> item = menuItem;
    owner->close();
    if (item)
        item->trigger();
}

void MenuItemView::enterEvent(QEnterEvent*) {
    hovered_ = true;
    if (QMenu* owner = menu())
        owner->setActiveAction(menuItem);
    update();
}

void MenuItemView::leaveEvent(QEvent*) {
    hovered_ = false;
    update();
}

}  // namespace vigil
