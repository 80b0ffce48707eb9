#pragma once

#include <QColor>
#include <QMargins>

#include <functional>

namespace vigil {

class WidgetListViewController;

// The colours of the panel's own parts (its background, the header and its border). They never
// come from the desktop's palette, so a light panel stays readable on a dark desktop.
struct PanelColors {
    QColor background{245, 246, 247};
    QColor text{0, 0, 0};

    bool operator==(const PanelColors&) const = default;
};

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
    // The panel's colours now (the widget's theme); the panel asks again when the controller
    // calls onPanelColorsChanged.
    virtual PanelColors widgetPanelColors() const { return PanelColors{}; }
    // Closes the open detail view (Escape in the panel); false when none was open.
    virtual bool widgetCloseDetails() { return false; }
    std::function<void()> onPanelColorsChanged;
};

}  // namespace vigil
