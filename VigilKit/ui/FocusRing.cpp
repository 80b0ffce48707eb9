#include "ui/FocusRing.h"

#include <QEvent>
#include <QPainter>

namespace vigil {

namespace {
constexpr const char* kRingName = "vigilFocusRing";
}

FocusRing& FocusRing::attach(QWidget& view) {
    if (FocusRing* ring = of(view))
        return *ring;
    return *new FocusRing(view);
}

FocusRing* FocusRing::of(const QWidget& view) {
    for (QObject* child : view.children()) {
        if (child->objectName() == QLatin1String(kRingName))
            return static_cast<FocusRing*>(child);
    }
    return nullptr;
}

FocusRing::FocusRing(QWidget& view) : QWidget(&view), view_(view) {
    setObjectName(QLatin1String(kRingName));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    // Not part of what a screen reader walks: it is decoration.
    setAccessibleName(QString());
    view.installEventFilter(this);
    follow();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &view_) {
        switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::FocusOut:
            case QEvent::Resize:
            case QEvent::ChildAdded:
                follow();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::follow() {
    setGeometry(view_.rect());
    setVisible(view_.hasFocus());
    if (view_.hasFocus())
        raise();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(view_.palette().color(QPalette::WindowText), kLineWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const double inset = kLineWidth / 2;
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), kRadius,
                            kRadius);
}

}  // namespace vigil
