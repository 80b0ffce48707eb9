#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <chrono>

#include "collectors/MachineSource.h"
#include "details/MachineHistoryChart.h"
#include "runtime/Trackable.h"
#include "settings/SettingsViewController.h"

namespace vigil {

class Machines;
struct Theme;

// Another machine's details, under its line in the Machines row: every figure it reports and, from
// a Prometheus source, one figure's history over a chosen range (5 minutes to 90 days). Main thread
// only.
class MachineDetailsView : public QWidget, public Trackable {
  public:
    static constexpr std::chrono::seconds kRanges[] = {
        std::chrono::minutes(5), std::chrono::hours(1), std::chrono::hours(24),
        std::chrono::hours(24 * 7), std::chrono::hours(24 * 90)};

    MachineDetailsView(Machines& machines, QWidget* parent = nullptr);

    // Shows `machine`; a machine other than the one shown asks for its history afresh.
    void showMachine(const MachineState& machine);
    void applyTheme(const Theme& theme);

    QLabel* figures() const { return figures_; }
    MachineHistoryChart* chart() const { return chart_; }
    SegmentedControl* ranges() const { return ranges_; }

  private:
    void askHistory();

    Machines& machines_;
    MachineState shown_;
    QPointer<QLabel> title_;
    QPointer<QLabel> figures_;
    QPointer<QComboBox> figure_;
    QPointer<SegmentedControl> ranges_;
    QPointer<MachineHistoryChart> chart_;
    unsigned asked_ = 0;
};

// The texts the views show for a machine's figures.
QString machinePercentText(const std::optional<double>& percent);
QString machineStateText(const MachineState& machine);

}  // namespace vigil
