#pragma once

#include <QColor>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <QToolButton>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Updatable.h"
#include "details/TopApplications.h"
#include "host/ViewController.h"
#include "system/Applications.h"
#include "system/Memory.h"
#include "ui/HistoryPanel.h"
#include "ui/PieChart.h"

namespace vigil {

class Alerts;
class AlertBanner;
class Defaults;
class System;
class ThemeManager;
class Workspace;
struct Theme;

// The memory details: installed size, the wired / active / compressed / free split (also as a
// pie), memory in use, cached files, swap, page-ins and page-outs, and the three applications
// using the most memory. At its top, while one fires, the memory-low and swap alerts. Redrawn by
// the widget's refresh tick; main thread only.
class MemoryViewController : public TopApplicationsViewController {
  public:
    explicit MemoryViewController(System& system, Workspace& workspace, ThemeManager& themes,
                                  Defaults& defaults, QObject* parent = nullptr);
    // The shared system, workspace, themes and settings.
    explicit MemoryViewController(QObject* parent = nullptr);

    static QString nibName() { return QStringLiteral("MemoryViewController"); }

    // Whose alerts the view shows; the program's when null. Set before the view loads.
    Alerts* alerts = nullptr;
    QPointer<AlertBanner> alertBanner;
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
    // The used share over time; a click lists that minute's applications. None without history.
    QPointer<HistoryPanel> historyPanel;

    // Decimal with the locale's grouping (the locale current when the controller was made).
    QLocale numberFormatter;
    // Slice i of the pie takes colour i: wired, active, compressed, free.
    const std::vector<QColor> pieColors;
    // The value column's texts as last shown.
    std::vector<QString> prevMemory;

    void viewWillAppear() override;
    void update() override;

    std::optional<TableCell> tableViewCell(int row, int column) const override;

    // The swap text: "0 B" with no swap, else "<used> of <total>".
    static QString swapText(uint64_t total, uint64_t used);
    // An application's memory as the value column shows it.
    static QString memText(uint64_t bytes);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void showFigures(const Memory::Sample& sample);
    void maybeUpdateAppsTable();
    void apply(const Theme& theme);

    // The sample whose figures are on show: the memory task samples every 2 s, the view is
    // redrawn every 1.1 s.
    std::shared_ptr<const Memory::Sample> shownSample_;
};

}  // namespace vigil
