#include "TodayViewController.h"

#include <QEvent>

#include "NavigationController.h"
#include "Updatable.h"
#include "details/AlertWatch.h"
#include "details/BatteryViewController.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/NetworkListViewController.h"
#include "rows/FirstRowViewController.h"
#include "rows/FirstRowViewControllerWithBattery.h"
#include "rows/MachinesRowViewController.h"
#include "rows/SecondRowViewController.h"
#include "settings/Defaults.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "system/Battery.h"
#include "system/Machines.h"
#include "system/Network.h"
#include "system/System.h"
#include "themes/Theme.h"

namespace vigil {

namespace {

std::unique_ptr<FirstRowViewController> makeFirstRow(WidgetContext context) {
    if (context.system.resources().battery && context.system.battery().hasBattery())
        return std::make_unique<FirstRowViewControllerWithBattery>(context);
    return std::make_unique<FirstRowViewController>(context);
}

}  // namespace

TodayViewController::TodayViewController(WidgetContext context)
    : context_(context),
      firstRow_(makeFirstRow(context)),
      secondRow_(std::make_unique<SecondRowViewController>(context)),
      settings_(std::make_unique<SettingsViewController>(context.themes, context.defaults,
                                                         context.system)) {
    settings_->alerts = &context.alerts;
}

TodayViewController::~TodayViewController() {
    if (uiThread_)
        uiThread_->cancel();
    // The navigator outlives this controller: leave it its own list again.
    if (&context_.navigator.list() == &list_)
        list_.setContents({});
}

QWidget* TodayViewController::loadView() {
    return list_.view();
}

void TodayViewController::viewDidLoad() {
    list_.setMinimumVisibleRowCount(kMinimumVisibleRowCount);
    list_.setHasDividerLines(false);
    list_.setContents({});
    list_.view()->installEventFilter(this);
    uiThread_ = std::make_unique<Timer>(kRefreshInterval, [this] { tick(); });
    start();
    setupTheme();
}

void TodayViewController::widgetPerformUpdate(std::function<void(UpdateResult)> completion) {
    if (completion)
        completion(UpdateResult::newData);
}

QMargins TodayViewController::widgetMarginInsets(const QMargins&) {
    return QMargins(0, 0, 0, 0);
}

void TodayViewController::widgetDidBeginEditing() {
    suspend();
    list_.setContents({settings_.get()});
}

void TodayViewController::widgetDidEndEditing() {
    start();
}

ViewController* TodayViewController::widgetListViewControllerForRow(int row) const {
    const QList<ViewController*> contents = list_.contents();
    return row >= 0 && row < contents.size() ? contents.at(row) : nullptr;
}

void TodayViewController::start() {
    list_.setContents({});
    const int64_t rows = context_.defaults.get(WidgetDefaultsKeys::widgetRows());
    if (rows == 1) {
        context_.system.start(System::Group::system);
        list_.setContents(list_.contents() << firstRow_.get());
    } else if (rows == 2) {
        context_.system.start(System::Group::network);
        list_.setContents(list_.contents() << secondRow_.get());
    } else {
        context_.system.start(System::Group::all);
        list_.setContents(list_.contents() << firstRow_.get());
        list_.setContents(list_.contents() << secondRow_.get());
    }
    if (context_.defaults.get(WidgetDefaultsKeys::machinesRow())) {
        if (!machinesRow_) {
            machinesRow_ =
                std::make_unique<MachinesRowViewController>(Machines::shared(), context_.themes);
            machinesRow_->onHeightChanged = [this] {
                if (list_.onContentsChanged)
                    list_.onContentsChanged();
            };
        }
        list_.setContents(list_.contents() << machinesRow_.get());
    }
    context_.navigator.setList(list_);
    loadDetailsView(rows);
    if (uiThread_)
        uiThread_->start();
}

void TodayViewController::loadDetailsView(int64_t rows) {
    const int64_t details = context_.defaults.get(WidgetDefaultsKeys::detailsView());
    const int64_t first = rows == 2 ? 5 : 1;
    const int64_t last = rows == 1 ? 4 : 5;
    if (details < first || details > last)
        return;

    if (details == 5) {
        if (context_.system.net().connection() != Network::ConnectionType::none)
            context_.navigator.toggleSecondRow(secondRow_->networkListViewController());
        return;
    }

    FirstRowViewController& row = *firstRow_;
    ViewController* detail = nullptr;
    switch (details) {
        case 1:
            detail = &row.cpuViewController();
            break;
        case 2:
            detail = &row.memoryViewController();
            break;
        case 3:
            detail = &row.diskListViewController();
            break;
        default:
            if (auto* withBattery = dynamic_cast<FirstRowViewControllerWithBattery*>(&row))
                detail = &withBattery->batteryViewController();
            break;
    }
    if (!detail)
        return;
    context_.navigator.toggleFirstRow(
        *detail, int(details - 1), [&row] { row.indicatorHide(); },
        [&row](int index) { row.indicatorMoveTo(index); },
        [&row](int index) { row.indicatorVisibleAt(index); });
}

QWidget* TodayViewController::showAlertDetails(AlertKind kind, const std::string& subject) {
    view();
    NavigationController& navigator = context_.navigator;
    if (kind == AlertKind::connectionBack) {
        ViewController& network = secondRow_->networkListViewController();
        if (!navigator.mainRows().contains(secondRow_.get()))
            return nullptr;
        if (!navigator.isVisible(&network))
            navigator.toggleSecondRow(network);
        return network.view();
    }
    FirstRowViewController& row = *firstRow_;
    if (!navigator.mainRows().contains(&row))
        return nullptr;
    ViewController* detail = nullptr;
    int index = 0;
    switch (kind) {
        case AlertKind::processorBusy:
        case AlertKind::temperatureHigh:
            detail = &row.cpuViewController();
            break;
        case AlertKind::memoryLow:
        case AlertKind::swapFilling:
            detail = &row.memoryViewController();
            index = 1;
            break;
        case AlertKind::volumeLow:
        case AlertKind::volumeFillingFast:
        case AlertKind::driveHealth:
            detail = &row.diskListViewController();
            index = 2;
            break;
        case AlertKind::batteryLow:
            if (auto* withBattery = dynamic_cast<FirstRowViewControllerWithBattery*>(&row))
                detail = &withBattery->batteryViewController();
            index = 3;
            break;
        case AlertKind::connectionBack:
            break;
    }
    if (!detail)
        return nullptr;
    if (!navigator.isVisible(detail)) {
        navigator.toggleFirstRow(
            *detail, index, [&row] { row.indicatorHide(); },
            [&row](int at) { row.indicatorMoveTo(at); },
            [&row](int at) { row.indicatorVisibleAt(at); });
    }
    if (detail == &row.diskListViewController()) {
        for (const auto& volumeView : row.diskListViewController().contents()) {
            ActiveAlert about{kind, subject, {}, {}};
            if (volumeView->isViewLoaded() &&
                alertIsAboutVolume(about, volumeView->volume.path, volumeView->volume.device))
                return volumeView->view();
        }
    }
    return detail->view();
}

void TodayViewController::suspend() {
    NavigationController& navigator = context_.navigator;
    navigator.onCollapse.fire();
    navigator.list().setContents(navigator.mainRows());
    if (uiThread_)
        uiThread_->suspend();
    context_.system.stop();
}

void TodayViewController::setupTheme() {
    settings_->mainWidgetView = list_.view();
    context_.themes.activeTheme().updateBackgroundColor(list_.view());
    context_.themes.onThemeChange.listen(*this, [this](const Theme&) {
        if (onPanelColorsChanged)
            onPanelColorsChanged();
    });
}

bool TodayViewController::widgetCloseDetails() {
    if (context_.navigator.isCollapsed())
        return false;
    context_.navigator.collapse();
    return true;
}

PanelColors TodayViewController::widgetPanelColors() const {
    const Theme& theme = context_.themes.activeTheme();
    return PanelColors{theme.backgroundColor.value_or(PanelColors{}.background), theme.labelColor};
}

bool TodayViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_.view()) {
        if (event->type() == QEvent::Hide) {
            paused_ = true;
        } else if (event->type() == QEvent::Show && paused_) {
            paused_ = false;
            refresh();
        }
    }
    return ViewController::eventFilter(watched, event);
}

void TodayViewController::tick() {
    if (!paused_)
        refresh();
}

void TodayViewController::refresh() {
    for (ViewController* controller : list_.contents()) {
        if (auto* updatable = dynamic_cast<Updatable*>(controller))
            updatable->update();
    }
}

}  // namespace vigil
