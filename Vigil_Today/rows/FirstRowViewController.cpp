#include "rows/FirstRowViewController.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>

#include "NavigationController.h"
#include "details/CPUViewController.h"
#include "details/DiskListViewController.h"
#include "details/MemoryViewController.h"
#include "details/TopApplications.h"
#include "rows/RowStyle.h"
#include "settings/WidgetDefaults.h"
#include "system/CPU.h"
#include "system/Disk.h"
#include "system/Memory.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/AccessibleViews.h"

namespace vigil {

namespace {
constexpr int kGaugeSize = 56;
constexpr int kColumnWidth = 64;
constexpr int kGaugeTop = 10;
constexpr int kSliderTop = 88;
}  // namespace

QEasingCurve easeOutCurve() {
    // The standard ease-out: control points (0, 0) and (0.58, 1).
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

FirstRowViewController::FirstRowViewController(WidgetContext context)
    : context_(context),
      cpuViewController_(std::make_unique<CPUViewController>(context.system, defaultWorkspace(),
                                                             context.themes, context.defaults)),
      memoryViewController_(std::make_unique<MemoryViewController>(
          context.system, defaultWorkspace(), context.themes, context.defaults)),
      diskListViewController_(std::make_unique<DiskListViewController>(
          &context.system, nullptr, &context.defaults, &context.themes)) {
    alertWatch_.setAlerts(&context.alerts);
    cpuViewController_->alerts = &context.alerts;
    memoryViewController_->alerts = &context.alerts;
    diskListViewController_->alerts = &context.alerts;
}

FirstRowViewController::~FirstRowViewController() = default;

QWidget* FirstRowViewController::loadView() {
    auto* row = new QWidget();
    row->setObjectName(QStringLiteral("firstRow"));
    row->setFixedHeight(kRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    track_ = new QWidget(row);
    track_->setFixedSize(kTrackWidth, kRowHeight);
    layout->addWidget(track_);
    layout->addStretch(1);

    slider_ = new QWidget(track_);
    slider_->setObjectName(QStringLiteral("slider"));
    slider_->setGeometry(0, kSliderTop, kTrackWidth, kIndicatorSize);
    indicator_ = new Circle(slider_);
    indicator_->setObjectName(QStringLiteral("indicator"));
    indicator_->setGeometry(0, 0, kIndicatorSize, kIndicatorSize);
    return row;
}

CallbackStackView* FirstRowViewController::addColumn(CircleChart* chart, const QString& title,
                                                     const QString& spokenName) {
    auto* column = new CallbackStackView(Qt::Vertical, track_);
    column->stackLayout()->setContentsMargins(0, 0, 0, 0);
    column->stackLayout()->setSpacing(2);
    column->setCursor(Qt::PointingHandCursor);
    chart->setFixedSize(kGaugeSize, kGaugeSize);
    chart->setLineWidth(4.5);
    auto* figure = makeRowLabel(QStringLiteral("0%"), 12, chart);
    figure->setGeometry(0, 0, kGaugeSize, kGaugeSize);
    figure->setAlignment(Qt::AlignCenter);
    chart->myLabel = figure;
    chart->setAccessibleName(spokenName.isEmpty() ? title : spokenName);
    column->addView(chart);
    column->stackLayout()->setAlignment(chart, Qt::AlignHCenter);
    auto* name = new TitleField(title);
    styleRowLabel(*name, 11);
    name->setAlignment(Qt::AlignCenter);
    // The gauge already says what the caption shows.
    leaveOutOfSpokenName(*name);
    column->addView(name);
    columns_.append(column);
    column->show();
    return column;
}

void FirstRowViewController::placeColumns() {
    for (qsizetype i = 0; i < columns_.size() && i < qsizetype(indicatorPositions_.size()); ++i) {
        if (!columns_[i])
            continue;
        const int centre = int(indicatorPositions_[size_t(i)]) + kIndicatorSize / 2;
        columns_[i]->setGeometry(centre - kColumnWidth / 2, kGaugeTop, kColumnWidth,
                                 kSliderTop - kGaugeTop - 2);
    }
    slider_->raise();
}

void FirstRowViewController::viewDidLoad() {
    cpuChart_ = new GaugeCircleChart();
    memoryChart_ = new GaugeCircleChart();
    diskChart_ = new GaugeCircleChart();
    cpuStackView_ = addColumn(cpuChart_, QStringLiteral("CPU"), QStringLiteral("Processor"));
    memoryStackView_ = addColumn(memoryChart_, QStringLiteral("Memory"));
    diskStackView_ = addColumn(diskChart_, QStringLiteral("Disk"));
    placeColumns();

    indicator_->show();
    setIndicatorAlpha(0.0);

    cpuStackView_->onclick = [this] { toggleCPUView(); };
    memoryStackView_->onclick = [this] { toggleMEMView(); };
    diskStackView_->onclick = [this] { toggleDiskView(); };

    context_.navigator.onCollapse.listen(*this, [this] {
        if (fade_)
            fade_->stop();
        setIndicatorAlpha(0.0);
    });
    apply(context_.themes.activeTheme());
    context_.themes.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void FirstRowViewController::viewWillAppear() {
    view();
    slider_->setHidden(shouldHideSlider());
    update();
}

void FirstRowViewController::update() {
    view();
    cpuChart_->setPercent(context_.system.cpu().usage());
    memoryChart_->setPercent(double(context_.system.mem().usage()));
    diskChart_->setPercent(double(context_.system.disk().usage()));
    if (alertWatch_.changed())
        showAlerts();
}

void FirstRowViewController::showAlerts() {
    const Alerts& alerts = context_.alerts;
    cpuChart_->setAlarmed(alerts.firing(AlertKind::processorBusy));
    memoryChart_->setAlarmed(alerts.firing(AlertKind::memoryLow) ||
                             alerts.firing(AlertKind::swapFilling));
    // The ring shows the root volume.
    const auto root = context_.system.disk().HD();
    bool rootAlarmed = false;
    if (root) {
        for (const ActiveAlert& alert : alerts.active())
            rootAlarmed = rootAlarmed || alertIsAboutVolume(alert, root->path, root->device);
    }
    diskChart_->setAlarmed(rootAlarmed);
}

void FirstRowViewController::toggle(ViewController& detail, int index) {
    context_.navigator.toggleFirstRow(
        detail, index, [this] { indicatorHide(); }, [this](int i) { indicatorMoveTo(i); },
        [this](int i) { indicatorVisibleAt(i); });
}

void FirstRowViewController::toggleCPUView() {
    toggle(*cpuViewController_, 0);
}

void FirstRowViewController::toggleMEMView() {
    toggle(*memoryViewController_, 1);
}

void FirstRowViewController::toggleDiskView() {
    toggle(*diskListViewController_, 2);
}

bool FirstRowViewController::shouldHideSlider() const {
    return context_.defaults.get(WidgetDefaultsKeys::widgetRows()) ==
               rawValue(WidgetRowsDefaults::system) &&
           context_.navigator.isCollapsed();
}

void FirstRowViewController::indicatorVisibleAt(int index) {
    view();
    if (index < 0 || size_t(index) >= indicatorPositions_.size())
        return;
    slider_->show();
    if (slide_)
        slide_->stop();
    indicatorXPos_ = indicatorPositions_[size_t(index)];
    indicator_->move(int(indicatorXPos_), 0);
    fadeIndicator(1.0);
}

void FirstRowViewController::indicatorMoveTo(int index) {
    view();
    if (index < 0 || size_t(index) >= indicatorPositions_.size())
        return;
    // Only the processor and memory details list applications.
    if (index >= 2)
        context_.system.stop(SystemResourceType::app);
    if (fade_)
        fade_->stop();
    setIndicatorAlpha(1.0);
    if (slide_)
        slide_->stop();
    indicatorXPos_ = indicatorPositions_[size_t(index)];
    slide_ = new QPropertyAnimation(indicator_, "pos", indicator_);
    slide_->setDuration(kSlideMs);
    slide_->setEasingCurve(easeOutCurve());
    slide_->setEndValue(QPoint(int(indicatorXPos_), 0));
    slide_->start(QAbstractAnimation::DeleteWhenStopped);
}

void FirstRowViewController::indicatorHide() {
    view();
    context_.system.stop(SystemResourceType::app);
    fadeIndicator(0.0);
    slider_->setHidden(shouldHideSlider());
}

void FirstRowViewController::setIndicatorAlpha(double alpha) {
    setViewAlpha(*indicator_, alpha);
}

void FirstRowViewController::fadeIndicator(double to) {
    if (fade_)
        fade_->stop();
    fade_ = fadeView(*indicator_, to, kFadeMs);
}

void FirstRowViewController::apply(const Theme& theme) {
    theme.updateText(view());
    indicator_->setColor(theme.controllerColor);
    for (GaugeCircleChart* chart : {cpuChart_.data(), memoryChart_.data(), diskChart_.data()}) {
        chart->setSuccessColor(theme.successColor);
        chart->setWarningColor(theme.warningColor);
        chart->setDangerColor(theme.dangerColor);
    }
}

}  // namespace vigil
