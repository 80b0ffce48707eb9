#include "details/DiskViewController.h"

#include <QActionEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

#include "details/AlertBanner.h"
#include "details/DetailViews.h"
#include "details/DiskListViewController.h"
#include "details/HistorySection.h"
#include "host/PanelWindow.h"
#include "host/Workspace.h"
#include "platform/BlockingCalls.h"
#include "platform/MountHolders.h"
#include "platform/Notification.h"
#include "runtime/Timer.h"
#include "settings/Defaults.h"
#include "system/Formatting.h"
#include "system/HistoryRecorder.h"
#include "system/Sensors.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/AccessibleViews.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"
#include "ui/SpokenText.h"
#include "views/CallbackStackView.h"
#include "views/MenuItemView.h"

namespace vigil {

namespace {

constexpr int kIconSize = 32;
constexpr int kSideMargin = 12;

std::atomic<int> queriesInFlight{0};

QString smartUnavailableText(SmartAvailability availability) {
    switch (availability) {
        case SmartAvailability::switchedOff:
            return QStringLiteral("Switched off on this drive");
        case SmartAvailability::notPermitted:
            return QStringLiteral("Unavailable: needs UDisks2 or root");
        case SmartAvailability::unreadable:
            return QStringLiteral("No answer from the drive");
        case SmartAvailability::read:
        case SmartAvailability::notSupported:
            break;
    }
    return QStringLiteral("Not supported by this drive");
}

}  // namespace

DiskViewController::DiskViewController(System& system, Workspace* workspace, Defaults* defaults,
                                       ThemeManager* themes)
    : system_(system),
      workspace_(workspace ? *workspace : desktopWorkspace()),
      defaults_(defaults ? *defaults : Defaults::shared()),
      themes_(themes ? *themes : ThemeManager::shared()) {}

DiskViewController::~DiskViewController() {
    delete contextMenu.data();
}

QWidget* DiskViewController::loadView() {
    auto* root = new QWidget();
    auto* outer = new QVBoxLayout(root);
    outer->setContentsMargins(kSideMargin, 8, kSideMargin, 0);
    outer->setSpacing(4);

    diskRowCallback = new CallbackStackView(Qt::Horizontal, root);
    diskRowCallback->setCursor(Qt::PointingHandCursor);
    diskRowCallback->stackLayout()->setSpacing(8);
    diskIcon = new QLabel(diskRowCallback);
    diskIcon->setFixedSize(kIconSize, kIconSize);
    diskRowCallback->addView(diskIcon);

    // The name line carries the temperature and the SMART light, so that the usage line under
    // it has the whole width.
    auto* texts = new QWidget(diskRowCallback);
    auto* textsLayout = new QVBoxLayout(texts);
    textsLayout->setContentsMargins(0, 0, 0, 0);
    textsLayout->setSpacing(1);
    auto* nameRow = new QHBoxLayout();
    nameRow->setContentsMargins(0, 0, 0, 0);
    nameRow->setSpacing(8);
    diskName = detailLabel(texts, 13, true);
    diskName->setObjectName("diskName");
    usage = detailLabel(texts, 11);
    usage->setObjectName("usage");

    temperatureFrame = new Square(texts);
    temperatureFrame->setFill(false);
    temperatureFrame->setLineWidth(1.0);
    temperatureFrame->setCornerRadius(3.0);
    temperatureFrame->setColor(FUIColor::silver());
    temperatureFrame->setFixedSize(38, 20);
    temperature = detailLabel(temperatureFrame, 11);
    temperature->setObjectName("temperature");
    temperature->setAlignment(Qt::AlignCenter);
    temperature->setGeometry(0, 0, 38, 20);
    temperatureFrame->myLabel = temperature;

    smartLed = new Square(texts);
    smartLed->setCornerRadius(2.0);
    smartLed->setFixedSize(8, 8);
    smartLed->setToolTip(QStringLiteral("SMART"));

    nameRow->addWidget(diskName, 1);
    nameRow->addWidget(temperatureFrame, 0, Qt::AlignVCenter);
    nameRow->addWidget(smartLed, 0, Qt::AlignVCenter);
    textsLayout->addLayout(nameRow);
    textsLayout->addWidget(usage);
    diskRowCallback->addView(texts);
    diskRowCallback->stackLayout()->setStretchFactor(texts, 1);
    outer->addWidget(diskRowCallback);

    alertBanner = new AlertBanner(
        [this](const ActiveAlert& alert) {
            return alertIsAboutVolume(alert, volume.path, volume.device);
        },
        root);
    alertBanner->setAlerts(alerts);
    outer->addWidget(alertBanner);

    used = new GaugeBar(root);
    used->setAccessibleName(QStringLiteral("Used"));
    used->setFixedHeight(6);
    used->setLineWidth(4.0);
    outer->addWidget(used);

    auto* ratesRow = new QWidget(root);
    auto* rates = new QHBoxLayout(ratesRow);
    rates->setContentsMargins(0, 0, 0, 0);
    rates->setSpacing(16);
    auto makeRate = [&](const QString& title, QPointer<QWidget>& view, QPointer<QLabel>& value,
                        const char* name) {
        view = new QWidget(ratesRow);
        auto* layout = new QHBoxLayout(view);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(4);
        auto* label = detailCaption(view, 11, title);
        value = detailLabel(view, 11, true);
        value->setObjectName(name);
        layout->addWidget(label);
        layout->addWidget(value);
        rates->addWidget(view);
    };
    makeRate(QStringLiteral("Read"), readIOView, readIO, "readIO");
    makeRate(QStringLiteral("Write"), writeIOView, writeIO, "writeIO");
    markFigure(*readIO, QStringLiteral("Read"));
    markFigure(*writeIO, QStringLiteral("Write"));
    rates->addStretch(1);
    // The row keeps its height while both rates are hidden, so the panel does not grow and shrink
    // each time the disk starts or stops working.
    ratesRow->setMinimumHeight(
        std::max(readIOView->sizeHint().height(), writeIOView->sizeHint().height()));
    outer->addWidget(ratesRow);

    note = detailLabel(root, 11);
    note->setObjectName("note");
    note->setVisible(false);
    outer->addWidget(note);

    historyPanel = HistorySection::make(root, {});
    if (historyPanel) {
        historyPanel->chart()->formatValue = [](double v) { return qs(bpsStr(v)); };
        outer->addSpacing(4);
        outer->addWidget(historyPanel);
    }
    separatorLine = detailSeparator(root);
    outer->addSpacing(4);
    outer->addWidget(separatorLine);

    // The volume's menu. It has no parent widget (it pops up as a window of its own); the
    // controller deletes it.
    contextMenu = new QMenu();
    itemModel = addMenuFact(contextMenu, QStringLiteral("Model"));
    itemCapacity = addMenuFact(contextMenu, QStringLiteral("Capacity"));
    itemFstype = addMenuFact(contextMenu, QStringLiteral("File System"));
    itemDevice = addMenuFact(contextMenu, QStringLiteral("Device"));
    itemMountPoint = addMenuFact(contextMenu, QStringLiteral("Mount Point"));
    itemTotalRead = addMenuFact(contextMenu, QStringLiteral("Total Read"));
    itemTotalWritten = addMenuFact(contextMenu, QStringLiteral("Total Written"));
    {
        auto* row = new MenuItemView();
        rowSmart = row;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(14, 3, 14, 3);
        auto* name = detailLabel(row, 12);
        name->setText(QStringLiteral("SMART Status"));
        itemSmartLed = new Square(row);
        itemSmartLed->setCornerRadius(2.0);
        itemSmartLed->setFixedSize(8, 8);
        itemSmartStatus = detailLabel(row, 12);
        layout->addWidget(name);
        layout->addStretch(1);
        layout->addWidget(itemSmartLed, 0, Qt::AlignVCenter);
        layout->addWidget(itemSmartStatus);
        row->addTo(contextMenu);
    }
    contextMenu->addSeparator();
    itemEject = contextMenu->addAction(QString(), [this] { eject(); });
    contextMenu->addAction(QStringLiteral("Show in File Manager"), [this] { showInFileManager(); });
    contextMenu->addSeparator();
    // The desktop's tools by their own names; one that is not installed is not offered.
    const auto addTool = [this](SystemTool tool, auto open) {
        const std::optional<QString> name = workspace_.systemToolName(tool);
        if (name)
            contextMenu->addAction(QStringLiteral("Open ") + *name + QStringLiteral("…"), open);
    };
    addTool(SystemTool::disks, [this] { openDisksTool(); });
    addTool(SystemTool::diskUsage, [this] { openDiskUsageTool(); });
    return root;
}

void DiskViewController::viewDidLoad() {
    if (volume.icon)
        diskIcon->setPixmap(workspace_.imageNamed(qs(*volume.icon)).pixmap(kIconSize, kIconSize));
    itemModel->setText(qs(volume.model));
    itemCapacity->setText(qs(diskByteStr(volume.total)));
    itemDevice->setText(qs(volume.device));
    itemFstype->setText(qs(volume.fstype));
    if (historyPanel) {
        historyPanel->setLines({{HistoryRecorder::volumeSeries(volume.path, "read"),
                                 QStringLiteral("Read"), FUIColor::emerald()},
                                {HistoryRecorder::volumeSeries(volume.path, "write"),
                                 QStringLiteral("Write"), FUIColor::alizarin()}});
    }
    // Never offered for the root volume, nor for another volume on the disk that holds it.
    itemEject->setVisible(volume.canEject());
    temperatureFrame->setVisible(false);  // until the drive answers with a temperature
    contextMenu->setFont(detailMenuFont());
    diskRowCallback->onclick = [this] { popUpMenu(); };
    alertWatch_.setAlerts(alerts);
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void DiskViewController::setSeparatorLineConstraint(double constant) {
    separatorLineConstraint = constant;
    if (separatorLine)
        separatorLine->setVisible(constant >= 0);
}

void DiskViewController::viewWillAppear() {
    view();
    smartLed->setColor(FUIColor::concrete());
    itemSmartLed->setColor(FUIColor::concrete());
    setSmartText(QStringLiteral("Checking\u2026"));
    startSmartCheck();
    diskName->setText(qs(volume.name) + QStringLiteral(" \u203A"));
    itemEject->setText(QStringLiteral("\u23CF Eject ") + qs(volume.name));
    itemMountPoint->setText(qs(volume.path));
    update();
}

void DiskViewController::startSmartCheck() {
    std::weak_ptr<void> alive = lifetimeToken();
    std::weak_ptr<int> checks = smartChecks_;
    DiskCollector& source = volume.collector ? *volume.collector : DiskCollector::shared();
    const std::string device = volume.device;
    ++*smartChecks_;
    ++queriesInFlight;
    // A SMART read takes seconds: on a helper thread, not on the sampling pool.
    const bool started = BlockingCalls::shared().post(
        "smart status " + device, [this, alive, checks, &source, device] {
            SMARTData record{};
            source.getSMARTData(device.c_str(), &record);
            --queriesInFlight;
            Timer::onMain([this, alive, checks, record] {
                if (alive.expired())
                    return;
                if (auto count = checks.lock())
                    --*count;
                showSmartStatus(record);
            });
        });
    if (!started) {  // another view of this drive asks already; its answer is not ours
        --*smartChecks_;
        --queriesInFlight;
    }
}

int DiskViewController::smartQueriesInFlight() {
    return queriesInFlight.load();
}

void DiskViewController::showSmartStatus(const SMARTData& record) {
    if (!record.isSmart) {
        // The lights stay grey; the text tells a drive without SMART from one not readable here.
        setSmartText(smartUnavailableText(record.availability));
        showTemperature(0);
        return;
    }
    const bool passed = record.isSmartPassed != 0;
    const QColor color = passed ? FUIColor::brandSuccess() : FUIColor::brandDanger();
    smartLed->setColor(color);
    itemSmartLed->setColor(color);
    setSmartText(passed ? QStringLiteral("Verified") : QStringLiteral("Failing"));
    showTemperature(record.temperature);
}

void DiskViewController::showTemperature(double smartCelsius) {
    // Where SMART gives none, the drive's own sensor chip (nvme, drivetemp) may.
    std::optional<double> celsius;
    if (smartCelsius > 0)
        celsius = smartCelsius;
    else if (const auto& sensors = system_.resources().sensors)
        celsius = sensors->driveTemperature(volume.device);
    temperatureFrame->setVisible(celsius.has_value());
    if (celsius)
        temperature->setText(qs(degrees(*celsius, defaults_)));
}

void DiskViewController::setSmartText(const QString& text) {
    itemSmartStatus->setText(text);
    // The menu keeps its items' sizes until one of its actions changes: a longer text would be
    // clipped at the next pop-up. Tell it the row changed.
    auto* row = static_cast<MenuItemView*>(rowSmart.data());
    if (contextMenu && row && row->menuItem) {
        QActionEvent changed(QEvent::ActionChanged, row->menuItem);
        QCoreApplication::sendEvent(contextMenu, &changed);
    }
}

void DiskViewController::update() {
    const auto volumes = system_.disk().volumes();
    const auto found = volumes.find(volume.device);
    update(found == volumes.end() ? volume : found->second);
}

void DiskViewController::update(const Disk::Volume& current) {
    if (!isViewLoaded())
        return;
    const bool smartArrived = !volume.smart && current.smart;
    if (&current != &volume)
        volume = current;
    if (smartArrived) {
        itemSmartStatus->setText(QStringLiteral("Unknown"));
        startSmartCheck();
    }
    itemTotalWritten->setText(qs(byteStr(volume.wbytes)));
    itemTotalRead->setText(qs(byteStr(volume.rbytes)));
    readIOView->setVisible(volume.rbytesps > 0 && !volume.stale);
    if (volume.rbytesps > 0)
        readIO->setText(qs(bpsStr(volume.rbytesps)));
    writeIOView->setVisible(volume.wbytesps > 0 && !volume.stale);
    if (volume.wbytesps > 0)
        writeIO->setText(qs(bpsStr(volume.wbytesps)));
    // Bar, text and the first row's gauge share one figure: df's used / (used + available).
    used->setPercent(volume.usagePercent());
    if (alertWatch_.changed())
        showAlerts();
    if (volume.stale && volume.total <= 0) {
        usage->setText(QStringLiteral("Size unknown"));
    } else {
        usage->setText(qs(diskByteStr(volume.used)) + QStringLiteral(" Used | ") +
                       qs(diskByteStr(volume.free)) + QStringLiteral(" Available"));
    }
    nameRowForScreenReaders();
    if (historyPanel)
        historyPanel->refresh();
    showNote();
}

void DiskViewController::nameRowForScreenReaders() {
    QString name = QStringLiteral("Volume ") + qs(volume.name);
    if (volume.stale && volume.total <= 0) {
        name += QStringLiteral(", size unknown");
    } else {
        name += QStringLiteral(", ") + spokenPercent(volume.usagePercent()) +
                QStringLiteral(" used, ") + spokenFigure(qs(diskByteStr(volume.free))) +
                QStringLiteral(" available");
    }
    // Set only when it reads differently: every new name is sent to the screen reader.
    if (diskRowCallback->accessibleName() != name)
        diskRowCallback->setAccessibleName(name);
}

void DiskViewController::showNote() {
    QString text;
    if (!ejectRefusal_.empty()) {
        text = QStringLiteral("Not ejected: ") + qs(ejectRefusal_);
    } else if (volume.stale) {
        text = QStringLiteral("Not responding");
        if (volume.timestamp > 0) {
            text +=
                QStringLiteral(": figures from ") +
                QDateTime::fromMSecsSinceEpoch(volume.timestamp).toString(QStringLiteral("HH:mm"));
        }
    }
    // One line: a long list of processes is cut short, the whole of it is in the tooltip.
    note->setToolTip(text);
    const int width = PanelWindow::kWidth - 2 * kSideMargin;
    note->setText(note->fontMetrics().elidedText(text, Qt::ElideRight, width));
    note->setVisible(!text.isEmpty());
}

void DiskViewController::apply(const Theme& theme) {
    theme.updateText(view());
    HistorySection::apply(historyPanel, theme);
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText, theme.dangerColor);
    note->setPalette(palette);
    alertBanner->apply(theme);
    colorUsedBar(theme);
}

void DiskViewController::colorUsedBar(const Theme& theme) {
    used->setSuccessColor(theme.successColor);
    used->setWarningColor(theme.warningColor);
    used->setDangerColor(theme.dangerColor);
    // The dark theme draws the bar in one colour, but for an alert.
    used->setColorize(!theme.isDark);
    if (theme.isDark)
        used->setColor(spaceAlarm_ ? theme.dangerColor : theme.controllerColor);
    used->setAlarmed(spaceAlarm_);
}

void DiskViewController::showAlerts() {
    alertBanner->refresh(true);
    spaceAlarm_ = false;
    for (const ActiveAlert& alert : alertWatch_.alerts().active()) {
        spaceAlarm_ =
            spaceAlarm_ ||
            ((alert.kind == AlertKind::volumeLow || alert.kind == AlertKind::volumeFillingFast) &&
             alert.subject == volume.path);
    }
    colorUsedBar(themes_.activeTheme());
}

void DiskViewController::popUpMenu() {
    if (!contextMenu || !diskIcon)
        return;
    contextMenu->popup(diskIcon->mapToGlobal(QPoint(0, diskIcon->height() + 4)));
}

void DiskViewController::eject() {
    // The root volume (and the disk that holds it) is never ejected, whatever calls this.
    if (!volume.canEject())
        return;
    std::weak_ptr<void> alive = lifetimeToken();
    const std::string name = volume.name;
    volume.eject([this, alive, name](const DiskCollector::EjectOutcome& outcome) {
        std::string refusal;
        if (!outcome.unmounted) {
            refusal = refusalOf(outcome);
            // Posted from the helper thread: the notification server may take its time.
            Notification::notify("Vigil could not eject " + name + ": " + refusal, std::nullopt,
                                 std::nullopt);
        }
        Timer::onMain([this, alive, unmounted = outcome.unmounted, refusal] {
            if (!alive.expired())
                ejectFinished(unmounted, refusal);
        });
    });
}

std::string DiskViewController::refusalOf(const DiskCollector::EjectOutcome& outcome) {
    if (outcome.busy) {
        std::string text = "it is in use";
        if (!outcome.holders.empty())
            text += " by " + describeProcesses(outcome.holders);
        return text;
    }
    // "umount2 /media/x -- Operation not permitted": the cause, without the call.
    const auto cause = outcome.error.rfind(" -- ");
    return cause == std::string::npos ? outcome.error : outcome.error.substr(cause + 4);
}

void DiskViewController::ejectFinished(bool unmounted, const std::string& refusal) {
    ejectRefusal_ = unmounted ? std::string() : refusal;
    if (unmounted && diskListViewController) {
        diskListViewController->remove(*this);
        return;
    }
    if (isViewLoaded())
        showNote();
}

void DiskViewController::openDisksTool() {
    workspace_.launchSystemTool(SystemTool::disks);
}

void DiskViewController::openDiskUsageTool() {
    workspace_.launchSystemTool(SystemTool::diskUsage);
}

void DiskViewController::showInFileManager() {
    const QString path = qs(volume.path);
    if (!workspace_.openFile(path))
        workspace_.selectFile(path, QString());
}

}  // namespace vigil
