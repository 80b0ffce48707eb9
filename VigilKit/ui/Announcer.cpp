#include "ui/Announcer.h"

#include <QAccessible>
#include <QTimerEvent>

#include "ui/AccessibleViews.h"

namespace vigil {

namespace {
constexpr const char* kAnnouncerName = "vigilAnnouncer";
}

Announcer* Announcer::of(const QWidget& view) {
    const QWidget* window = view.window();
    for (QObject* child : window->children()) {
        if (child->objectName() == QLatin1String(kAnnouncerName))
            return static_cast<Announcer*>(child);
    }
    return nullptr;
}

void Announcer::announce(QWidget& view, const QString& message) {
    Announcer* announcer = of(view);
    if (!announcer)
        announcer = new Announcer(*view.window());
    announcer->say(message);
}

Announcer::Announcer(QWidget& window) : QWidget(&window) {
    registerAccessibleViews();
    setObjectName(QLatin1String(kAnnouncerName));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    hide();
}

void Announcer::say(const QString& message) {
    if (message.isEmpty() || (isVisible() && message == message_))
        return;
    message_ = message;
    setAccessibleName(message);
    if (hideTimer_)
        killTimer(hideTimer_);
    hide();
    show();
    hideTimer_ = startTimer(kShownMs);
    if (QAccessible::isActive()) {
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void Announcer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hideTimer_)
        return;
    killTimer(hideTimer_);
    hideTimer_ = 0;
    hide();
}

}  // namespace vigil
