#pragma once

#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Updatable.h"
#include "details/MachineDetailsView.h"
#include "host/ViewController.h"

namespace vigil {

class Machines;
class MachineLine;
class ThemeManager;

// The Machines row (opt-in): one compact line per other machine (a state dot, its name, processor,
// memory and disk, upload and download; a machine that is down or unreachable says so with the time
// of its last answer). More than kVisibleLines lines scroll. Clicking a line opens that machine's
// details under the list; clicking it again closes them. Main thread only; reads the Machines
// resource's last answers and never waits on the network.
class MachinesRowViewController : public ViewController, public Updatable {
  public:
    static constexpr int kLineHeight = 34;
    static constexpr int kVisibleLines = 6;

    MachinesRowViewController(Machines& machines, ThemeManager& themes);
    ~MachinesRowViewController() override;

    void update() override;
    void viewWillAppear() override;

    // Heard when the row's height changed (lines came or went, details opened or closed): the
    // panel refits.
    std::function<void()> onHeightChanged;

    // Opens the details of line `index`, or closes them when they show that line already.
    void toggleDetails(int index);

    QScrollArea* scrollArea() const { return scroll_; }
    QLabel* emptyLabel() const { return empty_; }
    std::vector<MachineLine*> lines() const { return lines_; }
    MachineDetailsView* details() const { return details_; }

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void fillLine(MachineLine& line, const MachineState& machine) const;
    void noteHeight();

    Machines& machines_;
    ThemeManager& themes_;
    QPointer<QLabel> title_;
    QPointer<QLabel> empty_;
    QPointer<QScrollArea> scroll_;
    QPointer<QWidget> linesBox_;
    std::vector<MachineLine*> lines_;
    QPointer<MachineDetailsView> details_;
    std::string openInstance_;  // the source and instance whose details are open
    int height_ = -1;
    std::optional<unsigned> drawn_;  // the Machines generation the lines show
};

}  // namespace vigil
