#pragma once

#include <QMargins>

#include <functional>

namespace vigil {

class WidgetListViewController;

// What the panel asks of the widget's principal controller.
class WidgetProviding {
  public:
    enum class UpdateResult { newData = 0, noData = 1, failed = 2 };

    virtual ~WidgetProviding() = default;

    // The list the panel shows; the controller owns it.
    virtual WidgetListViewController* listViewController() = 0;

    virtual void widgetPerformUpdate(std::function<void(UpdateResult)> completion) {
        if (completion)
            completion(UpdateResult::newData);
    }
    // The list's margins: the controller may keep or replace the panel's proposal.
    virtual QMargins widgetMarginInsets(const QMargins& proposed) { return proposed; }
    virtual bool widgetAllowsEditing() const { return false; }
    virtual void widgetDidBeginEditing() {}
    virtual void widgetDidEndEditing() {}
};

}  // namespace vigil
