#pragma once

#include <QLabel>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Updatable.h"
#include "details/NetworkViewController.h"
#include "host/ViewController.h"

namespace vigil {

class CallbackStackView;
class Defaults;
class System;
class Workspace;
class ThemeManager;
struct Theme;

// The network details: the machine's public address and one NetworkViewController per network
// interface. Rebuilds its interface views when the interfaces change. The network resource runs
// with the second row; the details neither start nor stop it.
class NetworkListViewController : public ViewController, public Updatable {
  public:
    // The shared system, workspace and settings store when not given.
    explicit NetworkListViewController(System* system = nullptr, Workspace* workspace = nullptr,
                                       Defaults* defaults = nullptr,
                                       ThemeManager* themes = nullptr);
    ~NetworkListViewController() override;

    QPointer<CallbackStackView> stackView;
    QPointer<QWidget> publicIPStackView;
    QPointer<QLabel> publicIP;
    const std::vector<std::unique_ptr<NetworkViewController>>& contents() const {
        return contents_;
    }

    void viewWillAppear() override;
    void viewWillDisappear() override { appeared_ = false; }
    void update() override;

    // The public address to show: the current lookup's answer when it is an address (stored as
    // the last one seen), else the last one stored; "-" before any was ever seen.
    QString publicAddressText();

  protected:
    QWidget* loadView() override;
    void viewDidLoad() override;

  private:
    void buildInterfaceViews();
    void apply(const Theme& theme);

    System& system_;
    Workspace* workspace_;
    Defaults& defaults_;
    ThemeManager& themes_;
    std::vector<std::unique_ptr<NetworkViewController>> contents_;
    bool appeared_ = false;
};

}  // namespace vigil
