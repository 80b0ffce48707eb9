#include "details/TopApplications.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QTableWidgetItem>
#include <QToolTip>

#include <algorithm>
#include <cstdio>

#include "host/WindowActivation.h"
#include "host/Workspace.h"
#include "settings/WidgetDefaults.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {
constexpr int kIdentifierRole = Qt::UserRole + 1;
constexpr int kIconNameRole = Qt::UserRole + 2;  // the icon name the cell's icon was made from
}  // namespace

Workspace& defaultWorkspace() {
    static DesktopWorkspace* workspace = new DesktopWorkspace();
    return *workspace;
}

std::optional<TableCell> topApplicationCell(
    const std::vector<Applications::Process>& apps, int row, int column, const Theme& theme,
    const std::function<QString(const Applications::Process&)>& valueText) {
    if (row < 0 || static_cast<size_t>(row) >= apps.size())
        return std::nullopt;
    const Applications::Process& process = apps[static_cast<size_t>(row)];
    TableCell cell;
    cell.textColor = theme.labelColor;
    if (column == 0) {
        cell.identifier = QStringLiteral("nameid");
        cell.text = QString::fromStdString(process.name());
        if (process.icon)
            cell.icon = QString::fromStdString(*process.icon);
        cell.textColor = theme.titleLabelColor;
    } else if (column == 1) {
        cell.identifier = QStringLiteral("valueid");
        cell.text = valueText(process);
    }
    return cell;
}

TopApplicationsTable::TopApplicationsTable(Workspace& workspace, QWidget* parent)
    : QTableWidget(0, 2, parent), workspace_(workspace) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setShowGrid(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab reaches the table; a click selects without taking the keyboard from where it was.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("Top applications"));
    setIconSize(QSize(kIconSize, kIconSize));
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    setValueColumns(1);
    // The table sits on the widget's own background.
    setStyleSheet(QStringLiteral("QTableWidget { background: transparent; }"));
    viewport()->setAutoFillBackground(false);
    setFixedHeight(3 * kRowHeight);
    if (auto font = FUIFont::normal(12))
        setFont(*font);
}

void TopApplicationsTable::setValueColumns(int count) {
    if (columnCount() == count + 1)
        return;
    setColumnCount(count + 1);
    for (int column = 1; column <= count; ++column)
        horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

void TopApplicationsTable::reload(int rows,
                                  const std::function<std::optional<TableCell>(int, int)>& cell) {
    ++reloads_;
    const QSignalBlocker quiet(this);
    if (rowCount() != rows)
        setRowCount(rows);
    // Cells are changed in place, and only where they differ: the table repaints the cells that
    // changed (usually one value) instead of every name, icon and value.
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            auto content = cell(row, column);
            if (!content) {
                delete takeItem(row, column);
                continue;
            }
            QTableWidgetItem* shown = item(row, column);
            if (!shown) {
                shown = new QTableWidgetItem;
                if (column >= 1)
                    shown->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                setItem(row, column, shown);
            }
            showCell(*shown, *content);
        }
    }
}

void TopApplicationsTable::showCell(QTableWidgetItem& item, const TableCell& content) {
    if (item.text() != content.text) {
        item.setText(content.text);
        item.setToolTip(QString());  // said of the application the row showed before
    }
    if (item.data(kIdentifierRole).toString() != content.identifier)
        item.setData(kIdentifierRole, content.identifier);
    if (item.foreground().color() != content.textColor)
        item.setForeground(content.textColor);
    const QString icon = content.icon ? *content.icon : QString();
    if (item.data(kIconNameRole).toString() != icon) {
        item.setData(kIconNameRole, icon);
        item.setIcon(icon.isEmpty() ? QIcon() : workspace_.imageNamed(icon));
    }
}

void TopApplicationsTable::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Down ? 1 : event->key() == Qt::Key_Up ? -1 : 0;
    if (step != 0 && rowCount() > 0) {
        // Moving between rows only moves the current row: selecting one brings its application
        // forward, which waits for Enter or Space.
        const int row = std::clamp(std::max(currentRow(), 0) + (currentRow() < 0 ? 0 : step), 0,
                                   rowCount() - 1);
        selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
        return;
    }
    const bool press = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                       event->key() == Qt::Key_Space;
    if (press && currentRow() >= 0) {
        selectRow(currentRow());
        return;
    }
    QTableWidget::keyPressEvent(event);
}

std::optional<int> TopApplicationsTable::takeSelectedRow(int rows) {
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty())
        return std::nullopt;
    const int row = selected.front().row();
    if (row < 0 || row >= rows)
        return std::nullopt;
    clearSelection();
    return row;
}

void TopApplicationsTable::recolor(const Theme& theme) {
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            if (QTableWidgetItem* cell = item(row, column))
                cell->setForeground(column == 0 ? theme.titleLabelColor : theme.labelColor);
        }
    }
}

QString TopApplicationsTable::identifierAt(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->data(kIdentifierRole).toString() : QString();
}

void activateApplication(const Applications::Process& process,
                         std::function<void(const QString& why)> unable) {
    const QString name = QString::fromStdString(process.name());
    const WindowActivation::Result raised = WindowActivation().raise(process.pid);
    if (raised == WindowActivation::Result::raised)
        return;
    const QString id =
        process.app ? QString::fromStdString(process.app->bundleIdentifier) : QString();
    // A bus name: two or more dot-separated elements of letters, digits, '_' and '-'.
    static const QRegularExpression busName(
        QStringLiteral("^[A-Za-z_-][A-Za-z0-9_-]*(\\.[A-Za-z_-][A-Za-z0-9_-]*)+$"));
    if (!busName.match(id).hasMatch() || id.size() > 255) {
        unable(raised == WindowActivation::Result::noDisplay
                   ? name + QStringLiteral(" cannot be brought forward here: no X server to ask")
                   : QStringLiteral("No window of ") + name + QStringLiteral(" was found"));
        return;
    }
    QString path = QLatin1Char('/') + id;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    QDBusMessage call = QDBusMessage::createMethodCall(
        id, path, QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << QVariantMap();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                     [watcher, name, unable = std::move(unable)](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             unable(QStringLiteral("No window of ") + name +
                                    QStringLiteral(" was found, and it did not answer: ") +
                                    watcher->error().message());
                         }
                     });
}

QToolButton* makeSystemMonitorButton(QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("systemMonitorButton"));
    button->setAutoRaise(true);
    button->setIconSize(QSize(20, 20));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setCursor(Qt::PointingHandCursor);
    if (auto font = FUIFont::normal(11))
        button->setFont(*font);
    return button;
}

void setButtonTextColor(QAbstractButton* button, const QColor& color) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    button->setPalette(palette);
}

double separatorOffset(Defaults& defaults) {
    return defaults.get(WidgetDefaultsKeys::widgetRows()) == 1 ? -1.0 : 0.0;
}

QLabel* detailTitle(const QString& text, QWidget* parent) {
    auto* label = new TitleField(text, parent);
    if (auto font = FUIFont::normal(12))
        label->setFont(*font);
    return label;
}

QLabel* detailValue(QWidget* parent, const QString& objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (auto font = FUIFont::light(12))
        label->setFont(*font);
    return label;
}

}  // namespace vigil

namespace vigil {

DetailRootView::DetailRootView(QWidget* parent) : QWidget(parent), separator_(new QWidget(this)) {
    separator_->setObjectName(QStringLiteral("separatorLine"));
    separator_->setAutoFillBackground(true);
    setSeparatorColor(QColor(189, 195, 199));
    place();
}

void DetailRootView::setSeparatorOffset(double offset) {
    offset_ = offset;
    place();
}

void DetailRootView::setSeparatorColor(const QColor& color) {
    QPalette palette = separator_->palette();
    palette.setColor(QPalette::Window, color);
    separator_->setPalette(palette);
}

void DetailRootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void DetailRootView::place() {
    separator_->setGeometry(0, static_cast<int>(offset_), width(), 1);
    separator_->raise();
}

}  // namespace vigil

namespace vigil {

TopApplicationsViewController::TopApplicationsViewController(System& system, Workspace& workspace,
                                                             ThemeManager& themes,
                                                             Defaults& defaults, QObject* parent)
    : ViewController(parent),
      system(system),
      workspace_(workspace),
      themes_(themes),
      defaults_(defaults) {
    activate = [this](const Applications::Process& process) {
        QPointer<TopApplicationsViewController> self(this);
        const int32_t pid = process.pid;
        activateApplication(process, [self, pid](const QString& why) {
            if (self)
                self->showUnableToActivate(pid, why);
        });
    };
}

void TopApplicationsViewController::addApplicationsTable(QWidget* root, QBoxLayout* layout) {
    auto* heading = new QHBoxLayout();
    heading->addWidget(detailTitle(QStringLiteral("Top applications"), root), 1);
    systemMonitorButton = makeSystemMonitorButton(root);
    heading->addWidget(systemMonitorButton);
    layout->addLayout(heading);
    tableView = new TopApplicationsTable(workspace_, root);
    tableView->setObjectName(QStringLiteral("tableView"));
    layout->addWidget(tableView);
}

void TopApplicationsViewController::connectApplicationsTable() {
    QObject::connect(tableView, &QTableWidget::itemSelectionChanged, this,
                     [this] { tableViewSelectionDidChange(); });
    const std::optional<QString> monitor = workspace_.systemToolName(SystemTool::systemMonitor);
    systemMonitorButton->setVisible(monitor.has_value());
    systemMonitorButton->setText(monitor.value_or(QString()));
    systemMonitorButton->setIcon(
        workspace_.imageNamed(QString::fromLatin1(kSystemMonitorIconName)));
    QObject::connect(systemMonitorButton, &QToolButton::clicked, this,
                     [this] { openSystemMonitor(); });
}

void TopApplicationsViewController::placeSeparator() {
    separatorLineConstraint = separatorOffset(defaults_);
    static_cast<DetailRootView*>(view())->setSeparatorOffset(separatorLineConstraint);
}

void TopApplicationsViewController::reloadTable() {
    tableView->reload(numberOfRows(),
                      [this](int row, int column) { return tableViewCell(row, column); });
}

void TopApplicationsViewController::applyTableTheme(const Theme& theme) {
    static_cast<DetailRootView*>(view())->setSeparatorColor(theme.muteColor);
    setButtonTextColor(systemMonitorButton, theme.labelColor);
    tableView->recolor(theme);
}

void TopApplicationsViewController::tableViewSelectionDidChange() {
    const std::optional<int> row = tableView->takeSelectedRow(numberOfRows());
    if (row && activate)
        activate(apps[static_cast<size_t>(*row)]);
}

void TopApplicationsViewController::showUnableToActivate(int32_t pid, const QString& why) {
    for (size_t row = 0; row < apps.size(); ++row) {
        if (apps[row].pid != pid)
            continue;
        QTableWidgetItem* name = tableView->item(static_cast<int>(row), 0);
        if (!name)
            return;
        name->setToolTip(why);
        const QRect cell = tableView->visualItemRect(name);
        QToolTip::showText(tableView->viewport()->mapToGlobal(cell.bottomLeft()), why,
                           tableView->viewport(), cell);
        return;
    }
}

void TopApplicationsViewController::openSystemMonitor() {
    workspace_.launchSystemTool(SystemTool::systemMonitor);
}

}  // namespace vigil
