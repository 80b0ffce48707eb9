#pragma once

// The floor programs' one refresh: a text that changes every 1.1 s, as the panel's figures do.

#include <QDateTime>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Calls `show` now and then every 1.1 s with a new text; the timer lives as long as `owner`.
inline void showTickingText(QWidget* owner, std::function<void(const QString&)> show) {
    auto ticks = std::make_shared<int>(0);
    const auto refresh = [ticks, show = std::move(show)] {
        show(QStringLiteral("tick %1 at %2")
                 .arg(++*ticks)
                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"))));
    };
    refresh();
    auto* timer = new QTimer(owner);
    timer->setInterval(1100);
    QObject::connect(timer, &QTimer::timeout, owner, refresh);
    timer->start();
}
