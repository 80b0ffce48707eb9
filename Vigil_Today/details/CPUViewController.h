#pragma once

#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QToolButton>

#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Updatable.h"
#include "details/SensorsSection.h"
#include "details/TopApplications.h"
#include "host/ViewController.h"
#include "system/Applications.h"
#include "system/CPU.h"
#include "system/Sensors.h"
#include "ui/HistoryPanel.h"
#include "ui/Thermometer.h"

namespace vigil {

class Alerts;
class AlertBanner;
class CallbackStackView;
class Defaults;
class System;
class ThemeManager;
class Workspace;
struct Theme;

// The processor details: the load split into user, system and idle shares, the load averages,
// process and thread counts, the thermal state, the processor and graphics names, the uptime
// (with a menu of boot, awake and sleeping times) and the three applications using the most
// processor time, with their share of the graphics processor where any of them holds one. At its
// top, while one fires, the processor-busy alert and the processor sensor's temperature alert.
// Redrawn by the widget's refresh tick; main thread only.
class CPUViewController : public TopApplicationsViewController {
  public:
    explicit CPUViewController(System& system, Workspace& workspace, ThemeManager& themes,
                               Defaults& defaults, QObject* parent = nullptr);
    // The shared system, workspace, themes and settings.
    explicit CPUViewController(QObject* parent = nullptr);

    static QString nibName() { return QStringLiteral("CPUViewController"); }

    // Whose alerts the view shows; the program's when null. Set before the view loads.
    Alerts* alerts = nullptr;
    QPointer<AlertBanner> alertBanner;
    QPointer<QLabel> cpuUser;
    QPointer<QLabel> cpuSys;
    QPointer<QLabel> cpuIdle;
    QPointer<QLabel> loadAvg1m, loadAvg5m, loadAvg15m;
    QPointer<QLabel> processes;
    QPointer<QLabel> threads;
    QPointer<Thermometer> temp;
    QPointer<QLabel> cpuTemperature;  // the processor sensor's reading, under the thermometer
    QPointer<SensorsSection> sensorsSection;  // every sensor, by chip
    QPointer<QLabel> cpuBrand;
    QPointer<QLabel> gpuBrand;
    QPointer<QLabel> uptime;
    QPointer<CallbackStackView> uptimeRow;
    QPointer<QMenu> uptimeMenu;
    QPointer<QLabel> itemBootTime, itemAwakeTime, itemSleepingTime;
    // The busy share over time; a click lists that minute's applications. None without history.
    QPointer<HistoryPanel> historyPanel;

    // Each row's processor share as last shown, in tenths of a percent.
    std::vector<int64_t> prevCPU;
    // Each row's graphics share as last shown, in whole percent (-1: it holds none); empty
    // while the table has no graphics column.
    std::vector<int64_t> prevGPU;
    // Each row's graphics share, parallel to `apps`.
    std::vector<std::optional<double>> appsGPU;
    std::optional<CPU::ThermalState> prevThermalState;

    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void update() override;

    void popUptime();
    // The processor sensor's reading; none without a sensors resource or a known sensor.
    std::optional<Sensors::CPUTemperature> cpuSensor() const;
    CPU::ThermalState thermalState() const;

    std::optional<TableCell> tableViewCell(int row, int column) const override;

    // The boot time's pattern for QLocale::toString: "dddd d MMM, h:mm AP" where the locale
    // measures in US units (a 12-hour clock), "dddd d MMM, HH:mm" elsewhere.
    static QString dateFormat(const QLocale& locale);
    // The value column's text: one decimal and a percent sign.
    static QString cpuText(double percent);
    // The graphics column's text: "GPU", the rounded share and a percent sign.
    static QString gpuText(double percent);
    // An application's share of the graphics processor: its own process's and that of the helper
    // processes counted under it (`table`: the whole applications table); none when none of them
    // holds a DRM client.
    static std::optional<double> gpuShare(const Applications::Process& app,
                                          const std::vector<Applications::Process>& table,
                                          const std::unordered_map<pid_t, double>& shares);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void maybeUpdateAppsTable();
    // The graphics share of each of `top`; all none where no process holds a DRM client.
    std::vector<std::optional<double>> graphicsShares(
        const std::vector<Applications::Process>& top) const;
    void setupTheme();
    void apply(const Theme& theme);

    Defaults& settings_;  // the temperature unit and the chosen processor sensor
};

// The toolkit's thermal state for the processor's.
ThermalState thermometerState(CPU::ThermalState state);
// The worse of the thermal zones' state and the processor sensor's reading against its chip's
// limits: critical at its critical limit, serious at its maximum, fair within 10 °C below it.
CPU::ThermalState thermalStateWith(CPU::ThermalState zones,
                                   const std::optional<Sensors::CPUTemperature>& sensor);

}  // namespace vigil
