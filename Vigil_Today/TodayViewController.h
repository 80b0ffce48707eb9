#pragma once

#include <QList>

#include <memory>
#include <string>

#include "host/ViewController.h"
#include "host/WidgetListViewController.h"
#include "host/WidgetProviding.h"
#include "rows/WidgetContext.h"
#include "runtime/Timer.h"
#include "system/Alerts.h"

namespace vigil {

class FirstRowViewController;
class MachinesRowViewController;
class SecondRowViewController;
class SettingsViewController;

// The widget's principal controller. It fills the panel's list with the summary rows that the
// `widgetRows` setting asks for, starts the matching sampling group, reopens the detail view that
// was open last, redraws every row on a 1.1 s tick on the main queue, and swaps the rows for the
// settings view while the user edits the widget. While the list's window is hidden (the panel in
// the tray) the ticks leave the rows alone; sampling goes on, and the rows are redrawn from the
// current values the moment the list shows again. Main thread only.
class TodayViewController : public ViewController, public WidgetProviding {
  public:
    static constexpr double kRefreshInterval = 1.1;
    static constexpr int kMinimumVisibleRowCount = 4;

    explicit TodayViewController(WidgetContext context = WidgetContext::shared());
    ~TodayViewController() override;

    // WidgetProviding
    WidgetListViewController* listViewController() override { return &list_; }
    void widgetPerformUpdate(std::function<void(UpdateResult)> completion) override;
    QMargins widgetMarginInsets(const QMargins& proposed) override;
    bool widgetAllowsEditing() const override { return widgetAllowsEditing_; }
    void widgetDidBeginEditing() override;
    void widgetDidEndEditing() override;
    // The active theme's background (the panel's light one where the theme has none) and label
    // colour.
    PanelColors widgetPanelColors() const override;
    bool widgetCloseDetails() override;

    // Element `row` of the list as a view controller (nothing outside the list).
    ViewController* widgetListViewControllerForRow(int row) const;
    // Reopens the detail view stored in `detailsView` when it belongs to the rows shown
    // (`rows` is the widgetRows value).
    void loadDetailsView(int64_t rows);
    // Opens the detail view that tells of an alert (left open when it already is): the processor
    // view for the processor and temperatures, the memory view for memory and swap, the disk view
    // for a volume or a drive, the battery view, the network view. Answers the view to bring into
    // sight (the volume's own view for a volume or drive), or null where the rows shown have no
    // such view.
    QWidget* showAlertDetails(AlertKind kind, const std::string& subject);

    FirstRowViewController& firstRow() const { return *firstRow_; }
    SecondRowViewController& secondRow() const { return *secondRow_; }
    // The Machines row, made when the widgetMachinesRow setting first asks for it (it starts
    // polling the other machines); null until then.
    MachinesRowViewController* machinesRow() const { return machinesRow_.get(); }
    SettingsViewController& settings() const { return *settings_; }
    // The refresh timer; absent until the view has loaded.
    Timer* uiThread() const { return uiThread_.get(); }
    // One refresh: update() on every Updatable element of the list, in list order.
    void refresh();
    // What the refresh timer runs: refresh() unless the list is hidden.
    void tick();
    bool isPaused() const { return paused_; }

  protected:
    // The controller's view is the list's.
    QWidget* loadView() override;
    void viewDidLoad() override;
    // Follows the list's view being hidden and shown again with its window.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void start();
    void suspend();
    void setupTheme();

    WidgetContext context_;
    WidgetListViewController list_;
    std::unique_ptr<FirstRowViewController> firstRow_;
    std::unique_ptr<SecondRowViewController> secondRow_;
    std::unique_ptr<SettingsViewController> settings_;
    std::unique_ptr<MachinesRowViewController> machinesRow_;
    std::unique_ptr<Timer> uiThread_;
    bool widgetAllowsEditing_ = true;
    bool paused_ = false;
};

}  // namespace vigil
