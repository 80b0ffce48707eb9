#pragma once

#include <QMargins>
#include <QPoint>

#include <functional>
#include <optional>

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

// Where the panel remembers its place on screen. The program backs it with the settings store.
class PanelPlaceStore {
  public:
    virtual ~PanelPlaceStore() = default;
    virtual std::optional<QPoint> loadPlace() const = 0;
    virtual void savePlace(const QPoint& topLeft) = 0;
};

// Keeps the place for the life of the process only.
class MemoryPanelPlaceStore : public PanelPlaceStore {
  public:
    std::optional<QPoint> loadPlace() const override { return place_; }
    void savePlace(const QPoint& topLeft) override {
        place_ = topLeft;
        ++saves_;
    }
    int saveCount() const { return saves_; }

  private:
    std::optional<QPoint> place_;
    int saves_ = 0;
};

}  // namespace vigil
