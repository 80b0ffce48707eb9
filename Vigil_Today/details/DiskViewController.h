#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>

#include "Updatable.h"
#include "details/AlertWatch.h"
#include "host/ViewController.h"
#include "system/Disk.h"
#include "ui/Bar.h"
#include "ui/HistoryPanel.h"
#include "ui/Shape.h"

namespace vigil {

class Alerts;
class AlertBanner;
class Defaults;
class DiskListViewController;
class System;
class CallbackStackView;
class HorizontalLine;
class Workspace;
class ThemeManager;
struct Theme;

// One mounted volume in the disk details: name, used and available space as a bar and a line of
// text, read and write rates, the volume's icon and its SMART light, and a note when the volume
// does not answer or an eject was refused; a click on the row opens the volume's menu (facts,
// eject, show in the file manager, the disk tools). While an alert about the volume fires (almost
// full, filling fast, its drive failing) its text stands under the name, and the bar takes the
// danger colour while the volume is almost full or filling fast.
class DiskViewController : public ViewController, public Updatable {
  public:
    // `workspace` opens the tools and files; the desktop's when null. `defaults` holds the
    // temperature unit; the shared store when null.
    // `themes` colours the view; the program's when null.
    explicit DiskViewController(System& system, Workspace* workspace = nullptr,
                                Defaults* defaults = nullptr, ThemeManager* themes = nullptr);
    ~DiskViewController() override;

    // The volume shown; set by the list before the view loads. Later figures are read by its
    // mount point.
    Disk::Volume volume;
    // Read and write rates over time, by mount point. None without history.
    QPointer<HistoryPanel> historyPanel;
    // The list that shows this view (for the removal after an eject); set by the list.
    DiskListViewController* diskListViewController = nullptr;
    // Whose alerts the view shows; the program's when null. Set before the view loads.
    Alerts* alerts = nullptr;

    // Outlets.
    QPointer<CallbackStackView> diskRowCallback;
    QPointer<QLabel> diskName;
    QPointer<AlertBanner> alertBanner;
    QPointer<Square> smartLed;
    QPointer<GaugeBar> used;
    QPointer<QLabel> usage;
    QPointer<QWidget> readIOView, writeIOView;
    QPointer<QLabel> readIO, writeIO;
    // Why the figures are old, or why the last eject was refused; hidden when there is nothing to
    // say.
    QPointer<QLabel> note;
    QPointer<QLabel> diskIcon;
    QPointer<QLabel> temperature;
    QPointer<Square> temperatureFrame;
    QPointer<QMenu> contextMenu;
    QPointer<QWidget> rowSmart;
    QPointer<QAction> itemEject;
    QPointer<QLabel> itemModel, itemCapacity, itemFstype, itemDevice, itemMountPoint,
        itemTotalWritten, itemTotalRead;
    QPointer<Square> itemSmartLed;
    QPointer<QLabel> itemSmartStatus;
    // The separator under the volume: -1 pulls it out of sight (the last volume when only the
    // first row is shown), 0 shows it.
    double separatorLineConstraint = 0.0;
    void setSeparatorLineConstraint(double constant);
    QPointer<HorizontalLine> separatorLine;

    void viewWillAppear() override;
    // Reads the volume's current figures from the disk resource and redraws.
    void update() override;
    // Redraws from the given figures of this volume (the list reads all volumes once per tick).
    void update(const Disk::Volume& current);

    void popUpMenu();
    // Menu actions.
    // Starts the eject; the view leaves the list once the volume is unmounted, and says why (and
    // posts a notification) when it was refused.
    void eject();
    // Shows the outcome of an eject (main thread).
    void ejectFinished(bool unmounted, const std::string& refusal);
    // "it is in use by a (1) and b (2)" for a refused eject.
    static std::string refusalOf(const DiskCollector::EjectOutcome& outcome);
    void openDisksTool();
    void openDiskUsageTool();
    void showInFileManager();

    void apply(const Theme& theme);

    // Whether this view waits for a SMART answer.
    bool isCheckingSmart() const { return *smartChecks_ > 0; }
    // SMART queries of all volume views still running on the background queue.
    static int smartQueriesInFlight();

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void startSmartCheck();
    void showAlerts();
    // The bar's colour: by its share, or the danger colour while a space alert fires.
    void colorUsedBar(const Theme& theme);
    // The SMART temperature, else the drive sensor's; the frame hides without either.
    void showTemperature(double smartCelsius);
    void showSmartStatus(const SMARTData& record);
    void setSmartText(const QString& text);
    void showNote();
    // What a screen reader calls the volume row: "Volume DATA, 71 percent used, 12 gigabytes
    // available".
    void nameRowForScreenReaders();

    std::string ejectRefusal_;  // empty unless the last eject was refused
    AlertWatch alertWatch_;
    bool spaceAlarm_ = false;

    System& system_;
    Workspace& workspace_;
    Defaults& defaults_;
    ThemeManager& themes_;
    std::shared_ptr<int> smartChecks_ = std::make_shared<int>(0);
};

}  // namespace vigil
