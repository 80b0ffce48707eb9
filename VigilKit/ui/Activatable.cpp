#include "ui/Activatable.h"

#include <QKeyEvent>
#include <QWidget>

#include "ui/AccessibleViews.h"
#include "ui/FocusRing.h"

namespace vigil {

namespace {

// QWidget::focusNextPrevChild is protected: ask the window, which moves along the focus chain.
bool moveFocus(QWidget& view, bool next) {
    QWidget* start = &view;
    QWidget* candidate = next ? start->nextInFocusChain() : start->previousInFocusChain();
    while (candidate && candidate != start) {
        const bool tabStop = (candidate->focusPolicy() & Qt::TabFocus) != 0;
        if (tabStop && candidate->isVisibleTo(view.window()) && candidate->isEnabled() &&
            candidate->window() == view.window()) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
    }
    return false;
}

}  // namespace

void makeKeyboardStop(QWidget& view) {
    registerAccessibleViews();
    view.setFocusPolicy(Qt::TabFocus);
    FocusRing::attach(view);
}

bool handleActivationKey(QWidget& view, QKeyEvent& event, Activatable& target) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (event.isAutoRepeat())
                return true;
            if (target.canActivate())
                target.activate();
            return true;
        case Qt::Key_Left:
        case Qt::Key_Up:
            return moveFocus(view, false);
        case Qt::Key_Right:
        case Qt::Key_Down:
            return moveFocus(view, true);
        default:
            return false;
    }
}

}  // namespace vigil
