#include "rows/FirstRowViewControllerWithBattery.h"

#include "details/BatteryViewController.h"
#include "system/Battery.h"
#include "system/System.h"
#include "themes/Theme.h"

namespace vigil {

QColor batteryRingColor(const Theme& theme, bool isFullyCharged, bool isACPowered,
                        int64_t percent) {
    if (isFullyCharged)
        return theme.successColor;
    if (isACPowered)
        return theme.infoColor;
    if (percent > 24)
        return theme.successColor;
    if (percent >= 20)
        return theme.warningColor;
    return theme.dangerColor;
}

FirstRowViewControllerWithBattery::FirstRowViewControllerWithBattery(WidgetContext context)
    : FirstRowViewController(context),
      batteryViewController_(std::make_unique<BatteryViewController>(
          &context.system, &context.defaults, &context.themes)) {
    batteryViewController_->alerts = &context.alerts;
}

FirstRowViewControllerWithBattery::~FirstRowViewControllerWithBattery() = default;

void FirstRowViewControllerWithBattery::viewDidLoad() {
    FirstRowViewController::viewDidLoad();
    indicatorPositions_ = {29.0, 94.0, 159.0, 222.0};
    batteryCircle_ = new CircleChart();
    batteryStackView_ = addColumn(batteryCircle_, QStringLiteral("Battery"));
    // Later theme changes reach the column through the row's own text update.
    context_.themes.activeTheme().updateText(batteryStackView_);
    placeColumns();
    batteryStackView_->onclick = [this] { toggleBatteryView(); };
    onBatteryChanged();
    context_.system.battery().onBatteryChanged.listen(*this, [this] { onBatteryChanged(); });
    // The ring takes the new theme's colours at once rather than at the next battery change.
    context_.themes.onThemeChange.listen(*this, [this](const Theme&) { onBatteryChanged(); });
}

void FirstRowViewControllerWithBattery::update() {
    FirstRowViewController::update();
}

void FirstRowViewControllerWithBattery::onBatteryChanged() {
    view();
    const Battery& battery = context_.system.battery();
    const Theme& theme = context_.themes.activeTheme();
    batteryCircle_->setPercent(double(battery.percent()));
    batteryCircle_->setColor(context_.alerts.firing(AlertKind::batteryLow)
                                 ? theme.dangerColor
                                 : batteryRingColor(theme, battery.isFullyCharged(),
                                                    battery.isACPowered(), battery.percent()));
}

void FirstRowViewControllerWithBattery::showAlerts() {
    FirstRowViewController::showAlerts();
    if (batteryCircle_)
        onBatteryChanged();
}

void FirstRowViewControllerWithBattery::toggleBatteryView() {
    toggle(*batteryViewController_, 3);
}

}  // namespace vigil
