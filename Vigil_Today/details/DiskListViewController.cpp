#include "details/DiskListViewController.h"

#include <set>
#include <string>

#include "details/DetailViews.h"
#include "settings/Defaults.h"
#include "settings/WidgetDefaults.h"
#include "system/Disk.h"
#include "system/System.h"
#include "views/CallbackStackView.h"

namespace vigil {

DiskListViewController::DiskListViewController(System* system, Workspace* workspace,
                                               Defaults* defaults, ThemeManager* themes)
    : system_(system ? *system : System::shared()),
      workspace_(workspace),
      defaults_(defaults ? *defaults : Defaults::shared()),
      themes_(themes) {}

DiskListViewController::~DiskListViewController() {
    // The volume views belong to their controllers, not to the stack.
    for (auto& controller : contents_) {
        if (stackView && controller->isViewLoaded())
            stackView->removeView(controller->view());
        if (controller->isViewLoaded())
            controller->view()->setParent(nullptr);
    }
}

QWidget* DiskListViewController::loadView() {
    stackView = new CallbackStackView(Qt::Vertical);
    stackView->stackLayout()->setSpacing(0);
    stackView->stackLayout()->setAlignment(Qt::AlignTop);
    return stackView;
}

void DiskListViewController::viewDidLoad() {
    buildDiskViews();
}

void DiskListViewController::viewWillAppear() {
    view();
    appeared_ = true;
    system_.start(SystemResourceType::disk);
    system_.start(SystemResourceType::sensors);  // the drives' temperatures
    for (auto& controller : contents_)
        controller->viewWillAppear();
    update();
}

void DiskListViewController::viewWillDisappear() {
    appeared_ = false;
    system_.stop(SystemResourceType::disk);
    system_.stop(SystemResourceType::sensors);
}

void DiskListViewController::update() {
    if (!isViewLoaded())
        return;
    const auto volumes = system_.disk().volumes();
    if (!showsSameKeys(volumes, contents_,
                       [](const DiskViewController& view) { return view.volume.path; })) {
        buildDiskViews();
        return;
    }
    for (auto& controller : contents_)
        controller->update(volumes.at(controller->volume.path));
}

void DiskListViewController::buildDiskViews() {
    const auto hd = system_.disk().HD();
    // Without a root volume the list keeps what it showed.
    if (!hd)
        return;
    const auto volumes = system_.disk().volumes();
    std::vector<std::unique_ptr<DiskViewController>> next;
    auto add = [&](const Disk::Volume& volume) {
        auto controller =
            std::make_unique<DiskViewController>(system_, workspace_, &defaults_, themes_);
        controller->volume = volume;
        controller->diskListViewController = this;
        controller->alerts = alerts;
        next.push_back(std::move(controller));
    };
    add(volumes.count(hd->path) ? volumes.at(hd->path) : *hd);
    for (const auto& [path, volume] : volumes) {
        if (path != hd->path)
            add(volume);
    }

    for (auto& old : contents_) {
        if (old->isViewLoaded())
            stackView->removeView(old->view());
    }
    contents_ = std::move(next);
    for (auto& controller : contents_)
        stackView->addView(controller->view());

    const bool onlyFirstRow = widgetRows(defaults_) == WidgetRowsDefaults::system;
    contents_.back()->setSeparatorLineConstraint(onlyFirstRow ? -1.0 : 0.0);
    if (appeared_) {
        for (auto& controller : contents_)
            controller->viewWillAppear();
    }
}

void DiskListViewController::remove(DiskViewController& volumeView) {
    if (stackView && volumeView.isViewLoaded())
        stackView->removeView(volumeView.view());
}

}  // namespace vigil
