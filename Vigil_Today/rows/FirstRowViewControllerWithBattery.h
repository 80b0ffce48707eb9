#pragma once

#include "rows/FirstRowViewController.h"

namespace vigil {

class BatteryViewController;

// The first row on a machine with a battery: a fourth ring shows the charge, coloured by the
// power state (the danger colour while the battery-low rule fires), and opens the battery
// details.
class FirstRowViewControllerWithBattery : public FirstRowViewController {
  public:
    explicit FirstRowViewControllerWithBattery(WidgetContext context = WidgetContext::shared());
    ~FirstRowViewControllerWithBattery() override;

    void update() override;
    // Redraws the ring from the battery's current state.
    void onBatteryChanged();
    void toggleBatteryView();

    CircleChart* batteryCircle() const { return batteryCircle_; }
    CallbackStackView* batteryStackView() const { return batteryStackView_; }
    BatteryViewController& batteryViewController() const { return *batteryViewController_; }

  protected:
    void viewDidLoad() override;
    void showAlerts() override;

  private:
    QPointer<CircleChart> batteryCircle_;
    QPointer<CallbackStackView> batteryStackView_;
    std::unique_ptr<BatteryViewController> batteryViewController_;
};

// The ring colour for a charge state: full is success, on mains (not full) info, else by charge:
// above 24 success, 20 to 24 warning, 19 and below danger.
QColor batteryRingColor(const Theme& theme, bool isFullyCharged, bool isACPowered, int64_t percent);

}  // namespace vigil
