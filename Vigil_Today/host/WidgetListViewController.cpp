#include "host/WidgetListViewController.h"

#include <algorithm>

namespace vigil {

WidgetListViewController::WidgetListViewController(QObject* parent) : ViewController(parent) {}

WidgetListViewController::~WidgetListViewController() {
    // The rows' views belong to their controllers: hand them back before the list's view goes.
    for (const auto& row : rowViews_) {
        if (!row)
            continue;
        row->hide();
        row->setParent(nullptr);
    }
}

QWidget* WidgetListViewController::loadView() {
    auto* widget = new QWidget();
    widget->setObjectName(QStringLiteral("widgetList"));
    layout_ = new QVBoxLayout(widget);
    layout_->setSpacing(0);
    layout_->setContentsMargins(margins_);
    layout_->setSizeConstraint(QLayout::SetMinimumSize);
    return widget;
}

QList<ViewController*> WidgetListViewController::contents() const {
    QList<ViewController*> result;
    for (const auto& controller : contents_) {
        if (controller)
            result.append(controller.data());
    }
    return result;
}

void WidgetListViewController::setContents(const QList<ViewController*>& contents) {
    QList<ViewController*> next;
    for (ViewController* controller : contents) {
        if (controller && controller != this && !next.contains(controller))
            next.append(controller);
    }
    const QList<ViewController*> previous = this->contents();

    QList<ViewController*> leaving;
    for (ViewController* controller : previous) {
        if (!next.contains(controller))
            leaving.append(controller);
    }
    QList<ViewController*> arriving;
    for (ViewController* controller : next) {
        if (!previous.contains(controller))
            arriving.append(controller);
    }

    for (ViewController* controller : leaving)
        controller->viewWillDisappear();
    for (ViewController* controller : arriving)
        controller->viewWillAppear();

    view();  // the list's own view must exist before rows go into it
    for (ViewController* controller : leaving) {
        if (!controller->isViewLoaded())
            continue;
        QWidget* row = controller->view();
        layout_->removeWidget(row);
        row->hide();
        row->setParent(nullptr);
    }
    contents_.clear();
    for (ViewController* controller : next)
        contents_.append(controller);
    relayout();

    for (ViewController* controller : arriving)
        controller->viewDidAppear();
    if (onContentsChanged)
        onContentsChanged();
}

void WidgetListViewController::relayout() {
    while (QLayoutItem* item = layout_->takeAt(0))
        delete item;
    qDeleteAll(dividers_);
    dividers_.clear();
    rowViews_.clear();

    QWidget* list = view();
    bool first = true;
    for (const auto& controller : contents_) {
        if (!controller)
            continue;
        if (!first && hasDividerLines_) {
            auto* divider = new QFrame(list);
            divider->setObjectName(QStringLiteral("dividerLine"));
            divider->setFrameShape(QFrame::NoFrame);
            divider->setFixedHeight(1);
            divider->setAutoFillBackground(true);
            QPalette palette = divider->palette();
            palette.setColor(QPalette::Window, QColor(127, 127, 127, 90));
            divider->setPalette(palette);
            layout_->addWidget(divider);
            divider->show();
            dividers_.append(divider);
        }
        QWidget* row = controller->view();
        row->setParent(list);
        layout_->addWidget(row);
        row->show();
        rowViews_.append(row);
        first = false;
    }
    layout_->addStretch(1);
    updateMinimumHeight();
}

void WidgetListViewController::updateMinimumHeight() {
    if (!layout_)
        return;
    int height = margins_.top() + margins_.bottom();
    int shown = 0;
    for (const auto& row : rowViews_) {
        if (!row || shown >= minimumVisibleRowCount_)
            break;
        if (shown > 0 && hasDividerLines_)
            height += 1;
        height += std::max(row->sizeHint().height(), row->minimumHeight());
        ++shown;
    }
    view()->setMinimumHeight(height);
}

void WidgetListViewController::setMinimumVisibleRowCount(int count) {
    minimumVisibleRowCount_ = std::max(0, count);
    updateMinimumHeight();
}

void WidgetListViewController::setHasDividerLines(bool on) {
    if (on == hasDividerLines_)
        return;
    hasDividerLines_ = on;
    if (layout_)
        relayout();
}

void WidgetListViewController::setMargins(const QMargins& margins) {
    margins_ = margins;
    view();
    layout_->setContentsMargins(margins);
    updateMinimumHeight();
}

QList<QFrame*> WidgetListViewController::dividers() const {
    return dividers_;
}

}  // namespace vigil
