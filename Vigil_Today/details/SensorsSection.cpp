#include "details/SensorsSection.h"

#include "details/AlertBanner.h"
#include "details/TopApplications.h"
#include "system/Alerts.h"
#include "system/Formatting.h"
#include "themes/Theme.h"

namespace vigil {

using platform::Sensor;
using platform::SensorChip;
using platform::SensorKind;

SensorsSection::SensorsSection(Defaults& defaults, QWidget* parent)
    : QWidget(parent), defaults_(defaults), grid_(new QGridLayout(this)) {
    setObjectName(QStringLiteral("sensorsSection"));
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(10);
    grid_->setVerticalSpacing(1);
    grid_->setColumnStretch(0, 1);
    alertBanner = new AlertBanner(
        [this](const ActiveAlert& alert) {
            return alert.kind == AlertKind::temperatureHigh && alert.subject != saidElsewhere_;
        },
        this);
    setVisible(false);
}

void SensorsSection::showAlerts(Alerts* alerts, const std::string& saidElsewhere) {
    if (alerts != alerts_) {
        alerts_ = alerts;
        alertBanner->setAlerts(alerts);
        watch_.setAlerts(alerts);
    }
    const bool moved = saidElsewhere != saidElsewhere_;
    saidElsewhere_ = saidElsewhere;
    alertBanner->refresh(moved);
    if (!watch_.changed())
        return;
    firing_.clear();
    for (const ActiveAlert& alert : watch_.alerts().active()) {
        if (alert.kind == AlertKind::temperatureHigh)
            firing_.insert(alert.subject);
    }
    colorReadings();
}

void SensorsSection::colorReadings() {
    if (!theme_)
        return;
    for (size_t i = 0; i < values.size() && i < shownIds_.size(); ++i) {
        QPalette palette = values[i]->palette();
        palette.setColor(QPalette::WindowText,
                         firing_.count(shownIds_[i]) ? theme_->dangerColor : theme_->labelColor);
        values[i]->setPalette(palette);
    }
}

QString SensorsSection::readingText(const Sensor& sensor, Defaults& defaults) {
    if (!sensor.value)
        return QStringLiteral("–");
    const double v = *sensor.value;
    QString text;
    switch (sensor.kind) {
        case SensorKind::temperature:
            text = QString::fromStdString(degrees(v, defaults));
            break;
        case SensorKind::fan:
            text = QStringLiteral("%1 RPM").arg(qRound64(v));
            break;
        case SensorKind::voltage:
            text = QString::asprintf("%.2f V", v);
            break;
        case SensorKind::current:
            text = QString::asprintf("%.2f A", v);
            break;
        case SensorKind::power:
            text = QString::asprintf("%.1f W", v);
            break;
        case SensorKind::energy:
            text = QString::asprintf("%.0f J", v);
            break;
        case SensorKind::humidity:
            text = QString::asprintf("%.0f %%", v);
            break;
    }
    return sensor.alarm ? text + QStringLiteral(" · alarm") : text;
}

QString SensorsSection::labelText(const Sensor& sensor) {
    if (sensor.labelled)
        return QString::fromStdString(sensor.label);
    const auto digits = sensor.feature.find_first_of("0123456789");
    const std::string number = digits == std::string::npos ? "" : sensor.feature.substr(digits);
    const char* kind = "Temperature";
    switch (sensor.kind) {
        case SensorKind::temperature:
            break;
        case SensorKind::fan:
            kind = "Fan";
            break;
        case SensorKind::voltage:
            kind = "Voltage";
            break;
        case SensorKind::current:
            kind = "Current";
            break;
        case SensorKind::power:
            kind = "Power";
            break;
        case SensorKind::energy:
            kind = "Energy";
            break;
        case SensorKind::humidity:
            kind = "Humidity";
            break;
    }
    return QString::fromLatin1(kind) +
           (number.empty() ? QString() : QStringLiteral(" ") + QString::fromStdString(number));
}

void SensorsSection::show(const std::vector<SensorChip>& chips) {
    std::vector<std::string> ids;
    for (const auto& chip : chips) {
        for (const auto& sensor : chip.sensors)
            ids.push_back(sensor.id);
    }
    if (ids != shownIds_) {
        shownIds_ = ids;
        rebuild(chips);
    }
    std::size_t i = 0;
    for (const auto& chip : chips) {
        for (const auto& sensor : chip.sensors) {
            if (i < values.size())
                values[i++]->setText(readingText(sensor, defaults_));
        }
    }
    setVisible(!ids.empty());
}

void SensorsSection::rebuild(const std::vector<SensorChip>& chips) {
    grid_->removeWidget(alertBanner);
    while (QLayoutItem* item = grid_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    values.clear();
    int row = 0;
    grid_->addWidget(detailTitle(QStringLiteral("Sensors"), this), row++, 0, 1, 2);
    grid_->addWidget(alertBanner, row++, 0, 1, 2);
    for (const auto& chip : chips) {
        if (chip.sensors.empty())
            continue;
        QLabel* heading = detailTitle(QString::fromStdString(chip.id), this);
        QFont font = heading->font();
        font.setBold(true);
        heading->setFont(font);
        grid_->addWidget(heading, row++, 0, 1, 2);
        for (const auto& sensor : chip.sensors) {
            QLabel* label = detailTitle(QStringLiteral("   ") + labelText(sensor), this);
            label->setToolTip(QString::fromStdString(sensor.id));
            QLabel* value = detailValue(this, QString::fromStdString(sensor.id));
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid_->addWidget(label, row, 0);
            grid_->addWidget(value, row++, 1);
            values.push_back(value);
        }
    }
    if (theme_)
        theme_->updateText(this);
    colorReadings();
}

void SensorsSection::apply(const Theme& theme) {
    theme_ = theme;
    theme.updateText(this);
    alertBanner->apply(theme);
    colorReadings();
}

}  // namespace vigil
