#include "details/BatteryViewController.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <optional>

#include "details/AlertBanner.h"
#include "details/DetailViews.h"
#include "details/HistorySection.h"
#include "settings/Defaults.h"
#include "settings/WidgetDefaults.h"
#include "system/Battery.h"
#include "system/Formatting.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "views/CallbackStackView.h"

namespace vigil {

namespace {

constexpr int kShown = 1000;
constexpr int kHidden = 0;

// A number through a printf format ("%.0f mAh"); an unknown figure (or NaN, or an infinity)
// shows as "-".
QString formatted(const char* format, std::optional<double> value) {
    if (!value || !std::isfinite(*value))
        return QStringLiteral("-");
    char text[64];
    std::snprintf(text, sizeof text, format, *value);
    return QString::fromLatin1(text);
}

template <typename Number>
QString withUnit(const std::optional<Number>& value, const QString& unit) {
    return value ? QString::number(*value) + unit : QStringLiteral("-");
}

// The power drawn, from voltage (mV) and current (mA): unknown when either is. A discharging
// battery always draws some: a driver that reads 0 does not measure it.
std::optional<double> drawnWatts(const Battery::State& state) {
    if (!state.voltage || !state.current || *state.current == 0)
        return std::nullopt;
    return std::fabs(static_cast<double>(*state.voltage) * static_cast<double>(*state.current) /
                     1'000'000.0);
}

CallbackStackView* horizontalStack(QWidget* parent, int spacing = 6) {
    auto* stack = new CallbackStackView(Qt::Horizontal, parent);
    stack->stackLayout()->setSpacing(spacing);
    return stack;
}

}  // namespace

BatteryViewController::BatteryViewController(System* system, Defaults* defaults,
                                             ThemeManager* themes)
    : system_(system ? *system : System::shared()),
      defaults_(defaults ? *defaults : Defaults::shared()),
      themes_(themes ? *themes : ThemeManager::shared()) {}

BatteryViewController::~BatteryViewController() {
    delete electricityMenu.data();
}

QWidget* BatteryViewController::loadView() {
    auto* root = new QWidget();
    auto* outer = new QVBoxLayout(root);
    outer->setContentsMargins(12, 8, 12, 0);
    outer->setSpacing(5);

    alertBanner = new AlertBanner(
        [](const ActiveAlert& alert) { return alert.kind == AlertKind::batteryLow; }, root);
    alertBanner->setAlerts(alerts);
    outer->addWidget(alertBanner);

    // Status, remaining time and charge.
    auto* top = new QHBoxLayout();
    statusStackView = horizontalStack(root, 8);
    status = detailLabel(statusStackView, 13, true);
    status->setObjectName("status");
    statusStackView->addView(status);
    remainingStack = horizontalStack(statusStackView);
    remaining = detailLabel(remainingStack, 11);
    remaining->setObjectName("remaining");
    remainingStack->addView(remaining);
    statusStackView->addView(remainingStack);
    statusStackView->stackLayout()->setAlignment(remainingStack, Qt::AlignBaseline);
    top->addWidget(statusStackView);
    top->addStretch(1);
    percent = detailLabel(root, 13, true);
    percent->setObjectName("percent");
    top->addWidget(percent);
    outer->addLayout(top);

    percentBar = new Bar(root);
    percentBar->setFixedHeight(6);
    percentBar->setLineWidth(4.0);
    outer->addWidget(percentBar);

    // Adapter or power draw.
    systemStackView = new CallbackStackView(Qt::Vertical, root);
    systemStackView->stackLayout()->setSpacing(0);
    auto powerRow = [&](const QString& title, QPointer<QLabel>& value, const char* name) {
        auto* row = horizontalStack(systemStackView);
        auto* label = detailCaption(row, 11, title);
        value = detailLabel(row, 11, true);
        value->setObjectName(name);
        row->addView(label);
        row->stackLayout()->addStretch(1);
        row->addView(value);
        systemStackView->addView(row);
        return row;
    };
    powerAdapterRow =
        powerRow(QStringLiteral("Power Adapter"), powerAdapterWattage, "powerAdapterWattage");
    powerUsageRow = powerRow(QStringLiteral("Power Usage \u203A"), watts, "watts");
    powerUsageRow->setCursor(Qt::PointingHandCursor);
    outer->addWidget(systemStackView);

    // Facts, one a line: the title on the left, the value on the right.
    auto* facts = new QGridLayout();
    facts_ = facts;
    facts->setHorizontalSpacing(8);
    facts->setVerticalSpacing(1);
    facts->setColumnStretch(0, 1);
    int factRow = 0;
    auto fact = [&](const QString& title, QWidget* value) {
        facts->addWidget(detailCaption(root, 11, title), factRow, 0);
        facts->addWidget(value, factRow, 1, Qt::AlignRight | Qt::AlignVCenter);
        ++factRow;
    };
    auto value = [&](QPointer<QLabel>& field, const char* name, FieldRole role = FieldRole::value) {
        field = detailLabel(root, 11, true, role);
        field->setObjectName(name);
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return field.data();
    };
    fact(QStringLiteral("Health"), value(health, "health", FieldRole::ownColor));
    fact(QStringLiteral("Condition"), value(condition, "condition"));
    fact(QStringLiteral("Cycle Count"), value(cycles, "cycles"));
    temperatureFrame = new Square(root);
    temperatureFrame->setCornerRadius(3.0);
    temperatureFrame->setLineWidth(1.0);
    temperatureFrame->setFixedSize(40, 18);
    temperature = detailLabel(temperatureFrame, 11, true);
    temperature->setObjectName("temperature");
    temperature->setAlignment(Qt::AlignCenter);
    temperature->setGeometry(0, 0, 40, 18);
    temperatureFrame->myLabel = temperature;
    fact(QStringLiteral("Temperature"), temperatureFrame);
    fact(QStringLiteral("Age"), value(age, "age"));
    fact(QStringLiteral("Manufactured"), value(manufactured, "manufactured"));
    outer->addSpacing(3);
    outer->addLayout(facts);
    outer->addSpacing(3);

    // Capacities.
    auto* capacities = new QGridLayout();
    capacities->setHorizontalSpacing(8);
    capacities->setVerticalSpacing(0);
    auto capacity = [&](int column, const QString& title, QPointer<QLabel>& field,
                        const char* name) {
        auto* label = detailCaption(root, 10, title);
        field = detailLabel(root, 11, true);
        field->setObjectName(name);
        capacities->addWidget(label, 0, column);
        capacities->addWidget(field, 1, column);
    };
    capacity(0, QStringLiteral("Remaining"), remainingChargeCapacity, "remainingChargeCapacity");
    capacity(1, QStringLiteral("Full Charge"), fullChargeCapacity, "fullChargeCapacity");
    capacity(2, QStringLiteral("Design"), designChargeCapacity, "designChargeCapacity");
    outer->addLayout(capacities);

    historyPanel = HistorySection::make(
        root, {{"battery.charge", QStringLiteral("Charge"), FUIColor::emerald()}});
    if (historyPanel) {
        historyPanel->chart()->setFixedMaximum(100);
        historyPanel->chart()->formatValue = [](double v) {
            return QStringLiteral("%1%").arg(v, 0, 'f', 0);
        };
        outer->addSpacing(3);
        outer->addWidget(historyPanel);
    }
    separatorLine = detailSeparator(root);
    outer->addSpacing(3);
    outer->addWidget(separatorLine);

    electricityMenu = new QMenu();
    electricityMenu->setFont(detailMenuFont());
    itemVoltage = addMenuFact(electricityMenu, QStringLiteral("Voltage"));
    itemAmperage = addMenuFact(electricityMenu, QStringLiteral("Current"));
    return root;
}

void BatteryViewController::viewDidLoad() {
    onBatteryChanged();
    system_.battery().onBatteryChanged.listen(*this, [this] { onBatteryChanged(); });
    powerUsageRow->onclick = [this] { popElectricity(); };
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void BatteryViewController::update() {
    if (isViewLoaded())
        alertBanner->refresh();
}

void BatteryViewController::viewWillAppear() {
    view();
    alertBanner->refresh();
    separatorLineConstraint = widgetRows(defaults_) == WidgetRowsDefaults::system ? -1.0 : 0.0;
    separatorLine->setVisible(separatorLineConstraint >= 0);
    if (historyPanel)
        historyPanel->reload();
}

void BatteryViewController::onBatteryChanged() {
    if (!isViewLoaded())
        return;
    if (historyPanel)
        historyPanel->refresh();
    const Theme& theme = themes_.activeTheme();
    const auto state = system_.battery().state();
    const Battery& battery = system_.battery();

    percent->setText(QString::number(state->percent) + QStringLiteral("%"));
    percentBar->setPercent(static_cast<double>(state->percent));
    remaining->setText(qs(state->timeRemaining));

    if (state->isACPowered) {
        if (state->isFullyCharged) {
            status->setText(QStringLiteral("Charged"));
            statusStackView->setVisibilityPriority(kHidden, remainingStack);
        } else {
            status->setText(state->isCharging ? QStringLiteral("Charging")
                                              : QStringLiteral("Not Charging"));
            statusStackView->setVisibilityPriority(kShown, remainingStack);
        }
        // Adapters that do not report their power read 0: shown as unknown, not as 0 W.
        powerAdapterWattage->setText(state->acWatts > 0
                                         ? QString::number(state->acWatts) + QStringLiteral(" W")
                                         : QStringLiteral("-"));
        systemStackView->setVisibilityPriority(kShown, powerAdapterRow);
        systemStackView->setVisibilityPriority(kHidden, powerUsageRow);
    } else {
        status->setText(QStringLiteral("Discharging"));
        statusStackView->setVisibilityPriority(kShown, remainingStack);
        systemStackView->setVisibilityPriority(kHidden, powerAdapterRow);
        watts->setText(formatted("%.0f W", drawnWatts(*state)));
        systemStackView->setVisibilityPriority(kShown, powerUsageRow);
    }

    // A figure the battery does not report leaves its row out: never a 0, never an alarm.
    const std::optional<uint8_t> healthPercent = battery.health();
    QPalette palette = health->palette();
    palette.setColor(QPalette::WindowText,
                     (healthPercent && *healthPercent < 30) || state->hasACondition
                         ? theme.warningColor
                         : FUIColor::turquoise());
    health->setPalette(palette);
    setFactShown(health, healthPercent.has_value());
    if (healthPercent)
        health->setText(QString::number(*healthPercent) + QStringLiteral("%"));

    setFactShown(temperatureFrame, state->temperature.has_value());
    const bool alarming =
        state->temperature && (*state->temperature < 11.0 || *state->temperature > 34.0);
    temperatureFrame->setColor(alarming ? FUIColor::alizarin(0.5) : FUIColor::silver());
    temperatureFrame->setFill(alarming);
    temperatureFrame->update();
    temperature->setText(state->temperature ? qs(degrees(*state->temperature, defaults_))
                                            : QStringLiteral("-"));

    condition->setText(qs(state->condition));
    age->setText(qs(state->age));
    setFactShown(age, !state->age.empty());
    manufactured->setText(qs(state->manufactured));
    setFactShown(manufactured, !state->manufactured.empty());
    setFactShown(cycles, state->cycleCount.has_value());
    if (state->cycleCount) {
        cycles->setText(state->designCycleCount
                            ? QString::number(*state->cycleCount) + QStringLiteral(" of ") +
                                  QString::number(*state->designCycleCount)
                            : QString::number(*state->cycleCount));
    }
    remainingChargeCapacity->setText(formatted("%.0f mAh", state->currentCapacity));
    fullChargeCapacity->setText(formatted("%.0f mAh", state->maxCapacity));
    designChargeCapacity->setText(formatted("%.0f mAh", state->designCapacity));
}

void BatteryViewController::popElectricity() {
    const auto state = system_.battery().state();
    itemVoltage->setText(withUnit(state->voltage, QStringLiteral(" mV")));
    itemAmperage->setText(withUnit(state->current, QStringLiteral(" mA")));
    if (electricityMenu && powerUsageRow)
        electricityMenu->popup(powerUsageRow->mapToGlobal(QPoint(0, powerUsageRow->height() + 4)));
}

void BatteryViewController::setFactShown(QWidget* value, bool shown) {
    value->setVisible(shown);
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    const int index = facts_->indexOf(value);
    if (index < 0)
        return;
    facts_->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    if (QLayoutItem* title = facts_->itemAtPosition(row, 0); title && title->widget())
        title->widget()->setVisible(shown);
}

void BatteryViewController::apply(const Theme& theme) {
    theme.updateText(view());
    theme.updateText(powerUsageRow);
    theme.updateText(powerAdapterRow);
    percentBar->setColor(theme.controllerColor);
    alertBanner->apply(theme);
    HistorySection::apply(historyPanel, theme);
}

}  // namespace vigil
