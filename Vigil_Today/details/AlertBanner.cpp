#include "details/AlertBanner.h"

#include <QStringList>

#include "system/Alerts.h"
#include "ui/FUIFont.h"

namespace vigil {

AlertBanner::AlertBanner(Filter shows, QWidget* parent)
    : NoThemeField(parent), shows_(std::move(shows)) {
    setObjectName(QStringLiteral("alertBanner"));
    setWordWrap(true);
    // A long rule text wraps in the panel's width instead of widening it.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    if (auto font = FUIFont::bold(12))
        setFont(*font);
    setVisible(false);
}

void AlertBanner::setAlerts(Alerts* alerts) {
    watch_.setAlerts(alerts);
}

void AlertBanner::setFilter(Filter shows) {
    shows_ = std::move(shows);
    refresh(true);
}

void AlertBanner::refresh(bool force) {
    if (!watch_.changed() && !force)
        return;
    QStringList lines;
    if (shows_) {
        for (const ActiveAlert& alert : watch_.alerts().active()) {
            if (shows_(alert))
                lines << lineFor(alert);
        }
    }
    const QString text = lines.join(QLatin1Char('\n'));
    if (text != this->text()) {
        setText(text);
        setAccessibleName(text);
    }
    setVisible(!lines.isEmpty());
}

QString AlertBanner::lineFor(const ActiveAlert& alert) {
    QString text = QString::fromStdString(alert.text);
    if (alert.kind != AlertKind::temperatureHigh || alert.subject.empty())
        return text;
    // The subject is "<chip>/<label>"; a chip's name holds no slash.
    const std::string& id = alert.subject;
    const auto slash = id.find('/');
    const std::string label = slash == std::string::npos ? id : id.substr(slash + 1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return QString::fromStdString(label) + QStringLiteral(": ") + text;
}

void AlertBanner::apply(const Theme& theme) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, theme.dangerColor);
    setPalette(palette);
}

}  // namespace vigil
