#pragma once

#include <QList>
#include <QPointer>

#include <functional>
#include <memory>

#include "host/ViewController.h"
#include "host/WidgetListViewController.h"
#include "runtime/Signal.h"

namespace vigil {

class Defaults;

// The one editor of the widget's list: opens a detail view under the row that asked for it, swaps
// one detail view for another, closes it, and puts the list back to the summary rows. At most one
// detail view is open. The open one is remembered in the `detailsView` setting.
// Main thread only.
class NavigationController {
  public:
    // Values of the `detailsView` setting.
    enum DetailsView { none = 0, cpu = 1, mem = 2, disk = 3, battery = 4, net = 5 };

    // The program's instance, created on first use; it remembers choices in Defaults::shared().
    static NavigationController& shared();

    // An instance that stores its choices in `defaults` (tests give each their own).
    explicit NavigationController(Defaults& defaults);
    NavigationController(const NavigationController&) = delete;
    NavigationController& operator=(const NavigationController&) = delete;

    // Fired just before the list goes back to the summary rows.
    Signal<> onCollapse;

    // The list it edits. Until one is assigned an empty list of its own stands in. Assigning one
    // takes its current contents as the summary rows.
    WidgetListViewController& list() const;
    void setList(WidgetListViewController& list);
    const QList<ViewController*>& mainRows() const { return mainRows_; }

    bool isVisible(const ViewController* viewController) const;
    bool isCollapsed() const;
    void collapse();

    // Opens `viewController` (detail index `at`, 0 to 3) under the first row, swaps it for the
    // one open there, or closes it when it is already open. The callbacks move the row's
    // indicator: onHide after a close, onSwap(at) after a swap, onVisible(at) after an open.
    void toggleFirstRow(ViewController& viewController, int at, const std::function<void()>& onHide,
                        const std::function<void(int)>& onSwap,
                        const std::function<void(int)>& onVisible);
    // Opens the network details at the end of the list, or closes them.
    void toggleSecondRow(ViewController& viewController);

  private:
    void store(int detailsView);
    void write(const QList<ViewController*>& contents);

    Defaults& defaults_;
    QList<ViewController*> mainRows_;
    std::unique_ptr<WidgetListViewController> ownList_;
    QPointer<WidgetListViewController> list_;
};

}  // namespace vigil
