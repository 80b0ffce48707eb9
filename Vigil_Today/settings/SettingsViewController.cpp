#include "settings/SettingsViewController.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <thread>

#include "history/History.h"
#include "settings/AlertRulesSection.h"
#include "settings/MachineSourcesSection.h"
#include "settings/WidgetDefaults.h"
#include "system/Alerts.h"
#include "system/Battery.h"
#include "system/Machines.h"
#include "system/Sensors.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/Controls.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {

// Selects the item whose tag is `tag`; none when no item has it.
void selectTag(QComboBox* box, int64_t tag) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(box->findData(QVariant::fromValue<qlonglong>(tag)));
}

QString css(const QColor& color) {
    return color.name(QColor::HexArgb);
}

// How long "Clear history" waits for the confirming click.
constexpr int kClearConfirmMs = 5000;

}  // namespace

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QPushButton(labels[i], this);
        button->setCheckable(true);
        button->setCursor(Qt::PointingHandCursor);
        button->setObjectName(QStringLiteral("segment%1").arg(i));
        group_->addButton(button, i);
        layout->addWidget(button);
    }
    QObject::connect(group_, &QButtonGroup::idToggled, this, [this](int, bool) { restyle(); });
    QObject::connect(group_, &QButtonGroup::idClicked, this, [this](int) {
        if (onChange)
            onChange();
    });
}

int SegmentedControl::segmentCount() const {
    return static_cast<int>(group_->buttons().size());
}

int SegmentedControl::selectedSegment() const {
    return group_->checkedId();
}

void SegmentedControl::selectSegment(int tag) {
    if (QAbstractButton* button = group_->button(tag)) {
        button->setChecked(true);
        return;
    }
    // No segment has the tag: clear the choice (an exclusive group keeps one otherwise).
    group_->setExclusive(false);
    for (QAbstractButton* button : group_->buttons())
        button->setChecked(false);
    group_->setExclusive(true);
}

QPushButton* SegmentedControl::segment(int index) const {
    return qobject_cast<QPushButton*>(group_->button(index));
}

void SegmentedControl::setColors(const QColor& selected, const QColor& text) {
    selected_ = selected;
    text_ = text;
    restyle();
}

void SegmentedControl::restyle() {
    const QColor onSelected =
        selected_.lightness() > 128 ? FUIColor::midnightBlue() : FUIColor::white();
    const auto buttons = group_->buttons();
    for (int i = 0; i < buttons.size(); ++i) {
        QAbstractButton* button = group_->button(i);
        if (button == nullptr)
            continue;
        const bool first = i == 0;
        const bool last = i == buttons.size() - 1;
        const bool checked = button->isChecked();
        button->setStyleSheet(
            QStringLiteral("QPushButton { border: 1px solid %1; padding: 3px 10px; "
                           "background: %2; color: %3; border-top-left-radius: %4px; "
                           "border-bottom-left-radius: %4px; border-top-right-radius: %5px; "
                           "border-bottom-right-radius: %5px; }")
                .arg(css(selected_), checked ? css(selected_) : QStringLiteral("transparent"),
                     css(checked ? onSelected : text_))
                .arg(first ? 4 : 0)
                .arg(last ? 4 : 0));
    }
}

SettingsViewController::SettingsViewController(ThemeManager& themes, Defaults& defaults,
                                               System& system, QObject* parent)
    : ViewController(parent), themes_(themes), defaults_(defaults), system_(system) {}

SettingsViewController::SettingsViewController(QObject* parent)
    : SettingsViewController(ThemeManager::shared(), Defaults::shared(), System::shared(), parent) {
    history = &History::shared();
}

QWidget* SettingsViewController::loadView() {
    auto* root = new QWidget();
    root->setObjectName(nibName());
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);

    auto* form = new QFormLayout();
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(14);
    form->setVerticalSpacing(8);
    // Where the panel is narrower than a title and its choice side by side (its scroll bar
    // shows), the choice goes under its title instead of past the panel's edge.
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const auto titleFont = FUIFont::normal(13);
    auto title = [&](const QString& text) {
        auto* label = new TitleField(text, root);
        if (titleFont)
            label->setFont(*titleFont);
        return label;
    };

    rowSettings = new QComboBox(root);
    rowSettings->setObjectName(QStringLiteral("rowSettings"));
    rowSettings->addItem(QStringLiteral("System and network"),
                         QVariant::fromValue<qlonglong>(rawValue(WidgetRowsDefaults::all)));
    rowSettings->addItem(QStringLiteral("System only"),
                         QVariant::fromValue<qlonglong>(rawValue(WidgetRowsDefaults::system)));
    rowSettings->addItem(QStringLiteral("Network only"),
                         QVariant::fromValue<qlonglong>(rawValue(WidgetRowsDefaults::network)));
    // Its choices are read whole: too narrow beside its title, it goes under it.
    rowSettings->setMinimumWidth(rowSettings->sizeHint().width());
    form->addRow(title(QStringLiteral("Rows")), rowSettings);

    temperatureSettings =
        new SegmentedControl({QStringLiteral("Celsius"), QStringLiteral("Fahrenheit")}, root);
    temperatureSettings->setObjectName(QStringLiteral("temperatureSettings"));
    form->addRow(title(QStringLiteral("Temperature")), temperatureSettings);

    cpuSensorSettings = new QComboBox(root);
    cpuSensorSettings->setObjectName(QStringLiteral("cpuSensorSettings"));
    // Sensor names are long; the pop-up's list shows them whole, the box keeps the panel's width.
    cpuSensorSettings->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cpuSensorSettings->setMinimumContentsLength(12);
    form->addRow(title(QStringLiteral("Processor sensor")), cpuSensorSettings);

    themeSettings = new QComboBox(root);
    themeSettings->setObjectName(QStringLiteral("themeSettings"));
    const QString themeNames[] = {QStringLiteral("Light"), QStringLiteral("Dark")};
    for (size_t i = 0; i < themes_.themes.size(); ++i) {
        const QString name =
            i < std::size(themeNames) ? themeNames[i] : QStringLiteral("Theme %1").arg(i + 1);
        themeSettings->addItem(name, QVariant::fromValue<qlonglong>(static_cast<qlonglong>(i)));
    }
    form->addRow(title(QStringLiteral("Theme")), themeSettings);

    auto* historyRow = new QHBoxLayout();
    historyRow->setSpacing(8);
    keepHistorySettings = new QCheckBox(QStringLiteral("Keep"), root);
    keepHistorySettings->setObjectName(QStringLiteral("keepHistorySettings"));
    keepHistorySettings->setToolTip(
        QStringLiteral("Record the figures for the charts; off keeps what is recorded"));
    clearHistoryButton = new QPushButton(root);
    clearHistoryButton->setObjectName(QStringLiteral("clearHistoryButton"));
    clearHistoryButton->setCursor(Qt::PointingHandCursor);
    historyRow->addWidget(keepHistorySettings);
    historyRow->addStretch(1);
    historyRow->addWidget(clearHistoryButton);
    form->addRow(title(QStringLiteral("History")), historyRow);
    layout->addLayout(form);

    alertRules = new AlertRulesSection(defaults_, root);
    alertRules->onRulesChanged = [this] { (alerts ? *alerts : Alerts::shared()).reloadRules(); };
    layout->addWidget(title(QStringLiteral("Alerts")));
    layout->addWidget(alertRules);

    machineSources = new MachineSourcesSection(defaults_, root);
    machineSources->onSourcesChanged = [](std::vector<MachineSourceConfig> sources) {
        Machines::shared().setSources(std::move(sources));
    };
    layout->addWidget(title(QStringLiteral("Machines")));
    layout->addWidget(machineSources);

    vigilPage = new FUILink(root);
    vigilPage->setObjectName(QStringLiteral("vigilPage"));
    vigilPage->setText(QStringLiteral("Vigil on the web"));
    vigilPage->url = QString::fromLatin1(kProductPage);
    if (auto font = FUIFont::normal(12))
        vigilPage->setFont(*font);
    vigilPage->setAlignment(Qt::AlignCenter);
    layout->addWidget(vigilPage);
    return root;
}

void SettingsViewController::viewDidLoad() {
    QObject::connect(rowSettings, &QComboBox::activated, this, [this] { rowSettingsChanged(); });
    temperatureSettings->onChange = [this] { temperatureSettingsChanged(); };
    vigilPage->setOpener([this](const QString&) { openVigilPage(); });
    QObject::connect(themeSettings, &QComboBox::activated, this,
                     [this] { themeSettingsChanged(); });
    QObject::connect(cpuSensorSettings, &QComboBox::activated, this,
                     [this] { cpuSensorSettingsChanged(); });
    QObject::connect(keepHistorySettings, &QCheckBox::clicked, this,
                     [this] { keepHistorySettingsChanged(); });
    QObject::connect(clearHistoryButton, &QPushButton::clicked, this,
                     [this] { clearHistoryClicked(); });
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void SettingsViewController::viewWillAppear() {
    view();
    selectTag(rowSettings, defaults_.get(WidgetDefaultsKeys::widgetRows()));
    const int64_t unit = defaults_.get(WidgetDefaultsKeys::temperature());
    temperatureSettings->selectSegment(unit >= 0 && unit <= 1 ? static_cast<int>(unit) : -1);
    selectTag(themeSettings, defaults_.get(WidgetDefaultsKeys::theme()));
    listCPUSensors();
    alertRules->reload();
    machineSources->reload();
    {
        const QSignalBlocker quiet(keepHistorySettings);
        keepHistorySettings->setChecked(
            defaults_.get(WidgetDefaultsKeys::keepHistory()).value_or(true));
    }
    keepHistorySettings->setEnabled(history != nullptr);
    clearHistoryButton->setEnabled(history != nullptr);
    showClearHistoryIdle();
    defaults_.set(WidgetDefaultsKeys::detailsView(), rawValue(DetailsViewDefaults::none));
}

void SettingsViewController::keepHistorySettingsChanged() {
    const bool keep = keepHistorySettings->isChecked();
    defaults_.set(WidgetDefaultsKeys::keepHistory(), std::optional<bool>(keep));
    if (history)
        history->setRecording(keep);
}

void SettingsViewController::showClearHistoryIdle() {
    clearHistoryArmed_ = false;
    clearHistoryButton->setText(QStringLiteral("Clear…"));
    clearHistoryButton->setToolTip(QStringLiteral("Delete every recorded figure"));
}

void SettingsViewController::clearHistoryClicked() {
    if (!history)
        return;
    if (!clearHistoryArmed_) {
        clearHistoryArmed_ = true;
        clearHistoryButton->setText(QStringLiteral("Clear all?"));
        QTimer::singleShot(kClearConfirmMs, this, [this] {
            if (clearHistoryArmed_)
                showClearHistoryIdle();
        });
        return;
    }
    // Clearing waits for the history's writer; the view does not.
    std::thread([target = history] { target->clear(); }).detach();
    clearHistoryArmed_ = false;
    clearHistoryButton->setText(QStringLiteral("Cleared"));
    QTimer::singleShot(kClearConfirmMs, this, [this] {
        if (!clearHistoryArmed_)
            showClearHistoryIdle();
    });
}

void SettingsViewController::rowSettingsChanged() {
    const QVariant tag = rowSettings->currentData();
    if (!tag.isValid())
        return;
    defaults_.set(WidgetDefaultsKeys::widgetRows(), static_cast<int64_t>(tag.toLongLong()));
}

void SettingsViewController::temperatureSettingsChanged() {
    const int segment = temperatureSettings->selectedSegment();
    if (segment < 0)
        return;
    defaults_.set(WidgetDefaultsKeys::temperature(), static_cast<int64_t>(segment));
    Battery& battery = system_.battery();
    if (battery.hasBattery())
        battery.onBatteryChanged.fire();
}

void SettingsViewController::listCPUSensors() {
    const QSignalBlocker quiet(cpuSensorSettings);
    cpuSensorSettings->clear();
    cpuSensorSettings->addItem(QStringLiteral("Automatic"), QString());
    if (const auto& sensors = system_.resources().sensors) {
        for (const auto& chip : sensors->snapshot()->chips) {
            for (const auto& sensor : chip.sensors) {
                if (sensor.kind != platform::SensorKind::temperature)
                    continue;
                // The chip's short name keeps the box narrow; its full name is the tip.
                cpuSensorSettings->addItem(
                    QString::fromStdString(sensor.label + " · " + chip.prefix),
                    QString::fromStdString(sensor.id));
                cpuSensorSettings->setItemData(cpuSensorSettings->count() - 1,
                                               QString::fromStdString(sensor.id), Qt::ToolTipRole);
            }
        }
    }
    const auto chosen = defaults_.get(WidgetDefaultsKeys::cpuSensor()).value_or("");
    const int index = cpuSensorSettings->findData(QString::fromStdString(chosen));
    cpuSensorSettings->setCurrentIndex(index < 0 ? 0 : index);
    cpuSensorSettings->setEnabled(cpuSensorSettings->count() > 1);
}

void SettingsViewController::cpuSensorSettingsChanged() {
    const std::string id = cpuSensorSettings->currentData().toString().toStdString();
    if (id.empty())
        defaults_.set(WidgetDefaultsKeys::cpuSensor(), std::nullopt);
    else
        defaults_.set(WidgetDefaultsKeys::cpuSensor(), std::optional<std::string>(id));
    if (const auto& sensors = system_.resources().sensors)
        sensors->setPreferredCPUSensor(id);
}

void SettingsViewController::themeSettingsChanged() {
    const QVariant tag = themeSettings->currentData();
    if (!tag.isValid())
        return;
    defaults_.set(WidgetDefaultsKeys::theme(), static_cast<int64_t>(tag.toLongLong()));
    themes_.setActiveTheme(themes_.themeAt(defaults_.get(WidgetDefaultsKeys::theme())));
}

void SettingsViewController::openPageInBackground(const QString& url) {
    FUILink::openInBackground(url);
}

void SettingsViewController::openVigilPage() {
    if (pageOpener)
        pageOpener(QString::fromLatin1(kProductPage));
}

void SettingsViewController::apply(const Theme& theme) {
    QWidget* root = view();
    theme.updateText(root);
    theme.updateBackgroundColor(mainWidgetView);
    temperatureSettings->setColors(theme.controllerColor, theme.labelColor);
    QPalette check = QApplication::palette(keepHistorySettings);
    check.setColor(QPalette::WindowText, theme.labelColor);
    keepHistorySettings->setPalette(check);
    clearHistoryButton->setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid %1; border-radius: 4px; padding: 3px 10px; "
                       "background: transparent; color: %2; }")
            .arg(css(theme.controllerColor), css(theme.labelColor)));
    // The pop-ups keep the style's own drawing (and arrow); only their colours follow the theme.
    for (QComboBox* box : {rowSettings.data(), themeSettings.data(), cpuSensorSettings.data()}) {
        QPalette palette = QApplication::palette(box);
        if (theme.isDark) {
            palette.setColor(QPalette::Button, FUIColor::wetAsphalt());
            palette.setColor(QPalette::ButtonText, theme.labelColor);
            palette.setColor(QPalette::WindowText, theme.labelColor);
            palette.setColor(QPalette::Text, theme.labelColor);
            palette.setColor(QPalette::Base, FUIColor::wetAsphalt());
        }
        box->setPalette(palette);
    }
    alertRules->applyTheme(theme);
    machineSources->applyTheme(theme);
    vigilPage->setTextColor(theme.infoColor);
    vigilPage->hoverColor = theme.isDark ? FUIColor::clouds() : FUIColor::wetAsphalt();
    vigilPage->activeColor = theme.successColor;
}

}  // namespace vigil
