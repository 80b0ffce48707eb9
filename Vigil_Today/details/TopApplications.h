#pragma once

#include <QBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QString>
#include <QTableWidget>
#include <QToolButton>

#include <functional>
#include <optional>
#include <vector>

#include "Updatable.h"
#include "host/ViewController.h"
#include "system/Applications.h"

namespace vigil {

class Defaults;
class System;
class ThemeManager;
class Workspace;
struct Theme;

// The workspace the detail views use unless they are given one: the desktop's, made on first use
// on the main thread and kept for the life of the program.
Workspace& defaultWorkspace();

// The icon-theme name of a system monitor.
inline constexpr const char* kSystemMonitorIconName = "utilities-system-monitor";

// What one cell of a top-applications table shows.
struct TableCell {
    QString identifier;  // "nameid" for the name column, "valueid" for the value column
    QString text;
    std::optional<QString> icon;  // the entry's icon name or path
    QColor textColor;
};

// The cell of the top-applications tables: column 0 is the name (title colour, with the icon),
// column 1 the value (label colour). Nothing for a row past the end.
std::optional<TableCell> topApplicationCell(
    const std::vector<Applications::Process>& apps, int row, int column, const Theme& theme,
    const std::function<QString(const Applications::Process&)>& valueText);

// The table of the heaviest applications, a name column and one or more value columns: no
// headers, no grid, no scrolling; one row selectable at a time. The controller fills it through
// reload(). From the keyboard, Tab reaches it, the arrow keys move between the rows without
// bringing anything forward, and Enter or Space selects the current row as a click does.
class TopApplicationsTable : public QTableWidget {
  public:
    static constexpr int kRowHeight = 22;
    static constexpr int kIconSize = 16;

    TopApplicationsTable(Workspace& workspace, QWidget* parent = nullptr);

    // How many value columns follow the name (one at first); each takes the width its text needs.
    void setValueColumns(int count);

    // Asks `cell` for each cell of `rows` rows and shows what it answers; a cell it has nothing
    // for stays empty.
    void reload(int rows, const std::function<std::optional<TableCell>(int, int)>& cell);
    // The selected row when it is below `rows`, after clearing the selection; nothing when no row
    // or a row past the end is selected.
    std::optional<int> takeSelectedRow(int rows);
    // Recolours the cells shown: names in the title colour, values in the label colour.
    void recolor(const Theme& theme);
    // How many times reload() ran.
    int reloadCount() const { return reloads_; }
    // The identifier of a cell as last filled ("" when empty).
    QString identifierAt(int row, int column) const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showCell(QTableWidgetItem& item, const TableCell& content);

    Workspace& workspace_;
    int reloads_ = 0;
};

// Brings a running application to the front: raises one of its windows, or one of its helper
// processes', through the window manager (WindowActivation); where it has none, an application
// whose desktop file ID is a bus name is asked over the session bus to activate
// (org.freedesktop.Application.Activate). `unable` hears once why nothing could be brought
// forward: at once, or when the bus answers with an error.
void activateApplication(const Applications::Process& process,
                         std::function<void(const QString& why)> unable);

// The button that opens the desktop's system monitor: its icon and name, flat.
QToolButton* makeSystemMonitorButton(QWidget* parent);
void setButtonTextColor(QAbstractButton* button, const QColor& color);

// The separator's offset under the detail view: -1 when only the first summary row is shown.
double separatorOffset(Defaults& defaults);

// A label pair for the detail views: a title in the title colour and a value beside it.
QLabel* detailTitle(const QString& text, QWidget* parent);
QLabel* detailValue(QWidget* parent, const QString& objectName);

}  // namespace vigil

namespace vigil {

// The root view of a detail view: a one-pixel separator line across its top edge, at the
// vertical offset the controller sets (0, or -1 to tuck it under the row above).
class DetailRootView : public QWidget {
  public:
    explicit DetailRootView(QWidget* parent = nullptr);

    QWidget* separatorLine() const { return separator_; }
    double separatorOffset() const { return offset_; }
    void setSeparatorOffset(double offset);
    void setSeparatorColor(const QColor& color);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void place();

    QWidget* separator_;
    double offset_ = 0;
};

}  // namespace vigil

namespace vigil {

// What the processor and memory details share: the table of the heaviest applications (a
// selected row brings its application forward), the system monitor's button and the separator
// line.
class TopApplicationsViewController : public ViewController, public Updatable {
  public:
    // Named after the installed system monitor; hidden when there is none.
    QPointer<QToolButton> systemMonitorButton;
    QPointer<TopApplicationsTable> tableView;
    // The separator line's offset (see DetailRootView).
    double separatorLineConstraint = 0;

    System& system;
    // The table's rows.
    std::vector<Applications::Process> apps;
    // How a selected row's application is brought to the front (activateApplication, telling
    // the user on the row when it cannot, unless a test replaces it).
    std::function<void(const Applications::Process&)> activate;

    // Opens the system monitor through the workspace; the result is ignored.
    void openSystemMonitor();
    int numberOfRows() const { return static_cast<int>(apps.size()); }
    virtual std::optional<TableCell> tableViewCell(int row, int column) const = 0;
    void tableViewSelectionDidChange();

  protected:
    TopApplicationsViewController(System& system, Workspace& workspace, ThemeManager& themes,
                                  Defaults& defaults, QObject* parent);

    // The heading with the system monitor's button, then the table, at the end of `layout`.
    void addApplicationsTable(QWidget* root, QBoxLayout* layout);
    // The button's icon and action, and the table's selection handling.
    void connectApplicationsTable();
    // -1 when only the first summary row is shown, else 0.
    void placeSeparator();
    // Shows `top` when `shown` (what the value column would show) differs from `previous`.
    template <typename Shown>
    void maybeReload(std::vector<Shown>& previous, std::vector<Shown> shown,
                     std::vector<Applications::Process> top) {
        if (shown == previous)
            return;
        previous = std::move(shown);
        apps = std::move(top);
        reloadTable();
    }
    void reloadTable();
    // Says on the row of the application with that pid, as its tooltip shown at once, why it
    // could not be brought forward.
    void showUnableToActivate(int32_t pid, const QString& why);
    // The separator, the button's text and the table's cells in the theme's colours.
    void applyTableTheme(const Theme& theme);

    Workspace& workspace_;
    ThemeManager& themes_;
    Defaults& defaults_;
};

}  // namespace vigil
