#pragma once

#include <QColor>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QToolButton>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Updatable.h"
#include "details/TopApplications.h"
#include "host/ViewController.h"
#include "system/Applications.h"
#include "ui/PieChart.h"

namespace vigil {

class Defaults;
class System;
class ThemeManager;
class Workspace;
struct Theme;

// The memory details: installed size, the wired / active / compressed / free split (also as a
// pie), memory in use, cached files, swap, page-ins and page-outs, and the three applications
// using the most memory. Redrawn by the widget's refresh tick; main thread only.
class MemoryViewController : public ViewController, public Updatable {
  public:
    explicit MemoryViewController(System& system, Workspace& workspace, ThemeManager& themes,
                                  Defaults& defaults, QObject* parent = nullptr);
    // The shared system, workspace, themes and settings.
    explicit MemoryViewController(QObject* parent = nullptr);

    static QString nibName() { return QStringLiteral("MemoryViewController"); }

    QPointer<QLabel> wired;
    QPointer<QLabel> active;
    QPointer<QLabel> compressed;
    QPointer<QLabel> free;
    QPointer<QLabel> physicalMemory;
    QPointer<QLabel> memoryUsed;
    QPointer<QLabel> cachedFiles;
    QPointer<QLabel> swap;
    QPointer<QLabel> pageIns, pageOuts;
    QPointer<PieChart> pieChart;
    QPointer<QToolButton> activityMonitorButton;
    QPointer<TopApplicationsTable> tableView;
    double separatorLineConstraint = 0;

    System& system;
    // Decimal with the locale's grouping (the locale current when the controller was made).
    QLocale numberFormatter;
    // Slice i of the pie takes colour i: wired, active, compressed, free.
    const std::vector<QColor> pieColors;
    // The value column's texts as last shown.
    std::vector<QString> prevMemory;
    std::vector<Applications::Process> apps;

    std::function<void(const Applications::Process&)> activate = activateApplication;

    void viewWillAppear() override;
    void update() override;
    void openActivityMonitor();

    int numberOfRows() const { return static_cast<int>(apps.size()); }
    std::optional<TableCell> tableViewCell(int row, int column) const;
    void tableViewSelectionDidChange();

    // The swap text: "0 B" with no swap, else "<used> of <total>".
    static QString swapText(uint64_t total, uint64_t used);
    // An application's memory as the value column shows it.
    static QString memText(uint64_t bytes);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void maybeUpdateAppsTable();
    void apply(const Theme& theme);

    Workspace& workspace_;
    ThemeManager& themes_;
    Defaults& defaults_;
};

}  // namespace vigil
