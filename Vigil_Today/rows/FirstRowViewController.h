#pragma once

#include <QEasingCurve>
#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QWidget>

#include <memory>
#include <vector>

#include "Updatable.h"
#include "details/AlertWatch.h"
#include "host/ViewController.h"
#include "rows/WidgetContext.h"
#include "ui/CircleChart.h"
#include "ui/Shape.h"
#include "views/CallbackStackView.h"

namespace vigil {

class CPUViewController;
class MemoryViewController;
class DiskListViewController;
struct Theme;

// The first summary row: ring gauges for processor, memory and disk use. Clicking a gauge opens
// or closes its detail view under the row; a dot on the track under the gauges (the indicator)
// marks the open one. A gauge whose alert rule fires (processor busy; memory low or swap
// filling; the root volume almost full, filling fast or its drive failing) shows the danger
// colour until the rule clears.
class FirstRowViewController : public ViewController, public Updatable {
  public:
    // How long the indicator slides from one gauge to another, and how long it fades.
    static constexpr int kSlideMs = 350;
    static constexpr int kFadeMs = 250;
    static constexpr int kIndicatorSize = 8;
    static constexpr int kTrackWidth = 260;
    static constexpr int kRowHeight = 104;

    explicit FirstRowViewController(WidgetContext context = WidgetContext::shared());
    ~FirstRowViewController() override;

    void update() override;
    void viewWillAppear() override;

    void toggleCPUView();
    void toggleMEMView();
    void toggleDiskView();

    // Called by the navigator when a detail view opens, is swapped, or closes.
    void indicatorVisibleAt(int index);
    void indicatorMoveTo(int index);
    void indicatorHide();
    // The track is hidden while only this row is shown and no detail view is open.
    bool shouldHideSlider() const;

    GaugeCircleChart* cpuChart() const { return cpuChart_; }
    GaugeCircleChart* memoryChart() const { return memoryChart_; }
    GaugeCircleChart* diskChart() const { return diskChart_; }
    CallbackStackView* cpuStackView() const { return cpuStackView_; }
    CallbackStackView* memoryStackView() const { return memoryStackView_; }
    CallbackStackView* diskStackView() const { return diskStackView_; }
    QWidget* slider() const { return slider_; }
    Circle* indicator() const { return indicator_; }
    // Where the indicator is headed (its left edge on the track).
    double indicatorXPos() const { return indicatorXPos_; }
    const std::vector<double>& indicatorPositions() const { return indicatorPositions_; }
    // The running (or last) slide and fade of the indicator.
    QPropertyAnimation* slideAnimation() const { return slide_; }
    QPropertyAnimation* fadeAnimation() const { return fade_; }

    CPUViewController& cpuViewController() const { return *cpuViewController_; }
    MemoryViewController& memoryViewController() const { return *memoryViewController_; }
    DiskListViewController& diskListViewController() const { return *diskListViewController_; }

    const WidgetContext& context() const { return context_; }

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

    // Adds a clickable gauge column (ring over a title) to the track; positions are set by
    // placeColumns(). A screen reader calls the gauge `spokenName` (the title when empty).
    CallbackStackView* addColumn(CircleChart* chart, const QString& title,
                                 const QString& spokenName = QString());
    // Centres each column over its indicator position.
    void placeColumns();
    // Marks the gauges whose rules fire; called at a refresh when the firing alerts changed.
    virtual void showAlerts();
    void toggle(ViewController& detail, int index);

    std::vector<double> indicatorPositions_{41.0, 127.0, 210.0};
    WidgetContext context_;
    AlertWatch alertWatch_;

  private:
    void apply(const Theme& theme);
    void setIndicatorAlpha(double alpha);
    void fadeIndicator(double to);

    QPointer<GaugeCircleChart> cpuChart_;
    QPointer<GaugeCircleChart> memoryChart_;
    QPointer<GaugeCircleChart> diskChart_;
    QPointer<CallbackStackView> cpuStackView_;
    QPointer<CallbackStackView> memoryStackView_;
    QPointer<CallbackStackView> diskStackView_;
    QPointer<QWidget> track_;
    QPointer<QWidget> slider_;
    QPointer<Circle> indicator_;
    double indicatorXPos_ = 0;
    QList<QPointer<CallbackStackView>> columns_;
    QPointer<QPropertyAnimation> slide_;
    QPointer<QPropertyAnimation> fade_;

    std::unique_ptr<CPUViewController> cpuViewController_;
    std::unique_ptr<MemoryViewController> memoryViewController_;
    std::unique_ptr<DiskListViewController> diskListViewController_;
};

// The ease-out timing curve of the indicator's slide.
QEasingCurve easeOutCurve();

}  // namespace vigil
