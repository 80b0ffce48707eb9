#include "NavigationController.h"

#include "settings/WidgetDefaults.h"

namespace vigil {

NavigationController& NavigationController::shared() {
    static NavigationController* instance = new NavigationController(Defaults::shared());
    return *instance;
}

NavigationController::NavigationController(Defaults& defaults)
    : defaults_(defaults),
      ownList_(std::make_unique<WidgetListViewController>()),
      list_(ownList_.get()) {}

WidgetListViewController& NavigationController::list() const {
    // A list that went away leaves the stand-in behind.
    return list_ ? *list_ : *ownList_;
}

void NavigationController::setList(WidgetListViewController& list) {
    list_ = &list;
    mainRows_ = list.contents();
}

bool NavigationController::isVisible(const ViewController* viewController) const {
    return viewController != nullptr && list().contents().contains(viewController);
}

bool NavigationController::isCollapsed() const {
    return list().contents().size() == mainRows_.size();
}

void NavigationController::collapse() {
    onCollapse.fire();
    write(mainRows_);
}

void NavigationController::write(const QList<ViewController*>& contents) {
    list().setContents(contents);
}

void NavigationController::store(int detailsView) {
    defaults_.set(WidgetDefaultsKeys::detailsView(), int64_t{detailsView});
}

void NavigationController::toggleFirstRow(ViewController& viewController, int at,
                                          const std::function<void()>& onHide,
                                          const std::function<void(int)>& onSwap,
                                          const std::function<void(int)>& onVisible) {
    QList<ViewController*> contents = list().contents();
    if (mainRows_.isEmpty() || contents.isEmpty())
        return;

    const qsizetype position = contents.indexOf(&viewController);
    if (position >= 0) {
        contents.removeAt(position);
        write(contents);
        if (onHide)
            onHide();
        store(none);
        return;
    }

    const bool detailOpenUnderFirstRow =
        mainRows_.size() == 1 ? contents.size() >= 2
                              : contents.size() >= 2 && contents.at(1) != mainRows_.at(1);
    if (!detailOpenUnderFirstRow) {
        if (mainRows_.size() == 1) {
            contents.append(&viewController);
        } else {
            // Closes a network detail view at the end of the list first.
            collapse();
            contents = list().contents();
            contents.insert(1, &viewController);
        }
        write(contents);
        if (onVisible)
            onVisible(at);
    } else {
        contents.removeAt(1);
        write(contents);
        contents.insert(1, &viewController);
        write(contents);
        if (onSwap)
            onSwap(at);
    }
    store(at + 1);
}

void NavigationController::toggleSecondRow(ViewController& viewController) {
    QList<ViewController*> contents = list().contents();
    const qsizetype position = contents.indexOf(&viewController);
    if (position >= 0) {
        contents.removeAt(position);
        write(contents);
        store(none);
        return;
    }
    collapse();
    contents = list().contents();
    contents.append(&viewController);
    write(contents);
    store(net);
}

}  // namespace vigil
