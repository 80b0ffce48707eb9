#include "views/CallbackStackView.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace vigil {

CallbackStackView::CallbackStackView(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent) {
    layout_ = new QBoxLayout(
        orientation == Qt::Vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(4);
}

void CallbackStackView::addView(QWidget* view) {
    if (!view)
        return;
    layout_->addWidget(view);
    view->show();
}

void CallbackStackView::removeView(QWidget* view) {
    if (!view || layout_->indexOf(view) < 0)
        return;
    layout_->removeWidget(view);
    view->hide();
}

void CallbackStackView::setVisibilityPriority(int priority, QWidget* view) {
    if (!view || layout_->indexOf(view) < 0)
        return;
    view->setVisible(priority > 0);
}

QList<QWidget*> CallbackStackView::views() const {
    QList<QWidget*> result;
    for (int i = 0; i < layout_->count(); ++i) {
        if (QWidget* widget = layout_->itemAt(i)->widget())
            result.append(widget);
    }
    return result;
}

void CallbackStackView::activate() {
    if (onclick)
        onclick();
}

void CallbackStackView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    activate();
}

void CallbackStackView::keyPressEvent(QKeyEvent* event) {
    if (!handleActivationKey(*this, *event, *this))
        QWidget::keyPressEvent(event);
}

void CallbackStackView::showEvent(QShowEvent* event) {
    if (onclick && focusPolicy() == Qt::NoFocus)
        makeKeyboardStop(*this);
    QWidget::showEvent(event);
}

}  // namespace vigil
