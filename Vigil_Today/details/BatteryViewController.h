#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>

#include "Updatable.h"
#include "host/ViewController.h"
#include "ui/Bar.h"
#include "ui/HistoryPanel.h"
#include "ui/Shape.h"

namespace vigil {

class Alerts;
class AlertBanner;
class CallbackStackView;
class Defaults;
class System;
class ThemeManager;
struct Theme;

// The battery details: charge as text and bar, the charging state and remaining time, the
// adapter's wattage or the power drawn, health, condition, age, date of manufacture, cycles,
// temperature and capacities; a click on the power-draw row opens a menu with voltage and
// current. A fact the battery does not report leaves its row out; an unknown capacity, draw,
// voltage or current shows as "-". Redrawn on every change of the battery, not by the refresh
// tick; the battery-low alert, shown at the top while it fires, follows the tick.
class BatteryViewController : public ViewController, public Updatable {
  public:
    // The shared system and settings store when not given.
    explicit BatteryViewController(System* system = nullptr, Defaults* defaults = nullptr,
                                   ThemeManager* themes = nullptr);
    ~BatteryViewController() override;

    // Whose alerts the view shows; the program's when null. Set before the view loads.
    Alerts* alerts = nullptr;

    // Outlets.
    QPointer<AlertBanner> alertBanner;
    // The charge over time. None without history.
    QPointer<HistoryPanel> historyPanel;
    QPointer<CallbackStackView> remainingStack;
    QPointer<CallbackStackView> statusStackView;
    QPointer<CallbackStackView> systemStackView;
    QPointer<CallbackStackView> powerAdapterRow;
    QPointer<CallbackStackView> powerUsageRow;
    QPointer<QLabel> status, percent;
    QPointer<Bar> percentBar;
    QPointer<QLabel> remaining, powerAdapterWattage, health, condition, age, manufactured, cycles,
        temperature;
    QPointer<Square> temperatureFrame;
    QPointer<QLabel> watts, remainingChargeCapacity, fullChargeCapacity, designChargeCapacity;
    QPointer<QMenu> electricityMenu;
    QPointer<QLabel> itemVoltage, itemAmperage;
    // The separator under the view: -1 pulls it out of sight (only the first row shown), 0 shows
    // it.
    double separatorLineConstraint = 0.0;
    QPointer<HorizontalLine> separatorLine;

    void viewWillAppear() override;
    // The battery's signal redraws the figures; the tick only the alert.
    void update() override;
    void onBatteryChanged();
    void popElectricity();

    void apply(const Theme& theme);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    // Shows or leaves out the facts row of a value field, its title with it.
    void setFactShown(QWidget* value, bool shown);

    QPointer<QGridLayout> facts_;
    System& system_;
    Defaults& defaults_;
    ThemeManager& themes_;
};

}  // namespace vigil
