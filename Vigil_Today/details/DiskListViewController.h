#pragma once

#include <QPointer>
#include <QVBoxLayout>

#include <memory>
#include <vector>

#include "Updatable.h"
#include "details/DiskViewController.h"
#include "host/ViewController.h"

namespace vigil {

class Alerts;
class CallbackStackView;
class Defaults;
class System;
class Workspace;
class ThemeManager;

// The disk details: one DiskViewController per mounted volume, the root volume first. Runs the
// disk resource while it is shown, and rebuilds its volume views when the volumes change.
class DiskListViewController : public ViewController, public Updatable {
  public:
    // The shared system, workspace and settings store when not given.
    explicit DiskListViewController(System* system = nullptr, Workspace* workspace = nullptr,
                                    Defaults* defaults = nullptr, ThemeManager* themes = nullptr);
    ~DiskListViewController() override;

    QPointer<CallbackStackView> stackView;
    // Whose alerts the volume views show; the program's when null. Set before the view loads.
    Alerts* alerts = nullptr;
    // One entry per shown volume, the root volume first.
    const std::vector<std::unique_ptr<DiskViewController>>& contents() const { return contents_; }

    void viewWillAppear() override;
    void viewWillDisappear() override;
    void update() override;

    // Takes a volume's view out of the stack (after its eject succeeded); contents stay.
    void remove(DiskViewController& volumeView);

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void buildDiskViews();

    System& system_;
    Workspace* workspace_;
    Defaults& defaults_;
    ThemeManager* themes_;
    std::vector<std::unique_ptr<DiskViewController>> contents_;
    bool appeared_ = false;
};

}  // namespace vigil
