#include "details/NetworkListViewController.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "collectors/PublicAddress.h"
#include "details/DetailViews.h"
#include "settings/Defaults.h"
#include "settings/WidgetDefaults.h"
#include "system/Network.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "views/CallbackStackView.h"

namespace vigil {

NetworkListViewController::NetworkListViewController(System* system, Workspace* workspace,
                                                     Defaults* defaults, ThemeManager* themes)
    : system_(system ? *system : System::shared()),
      workspace_(workspace),
      defaults_(defaults ? *defaults : Defaults::shared()),
      themes_(themes ? *themes : ThemeManager::shared()) {}

NetworkListViewController::~NetworkListViewController() {
    for (auto& controller : contents_) {
        if (controller->isViewLoaded())
            controller->view()->setParent(nullptr);
    }
}

QWidget* NetworkListViewController::loadView() {
    auto* root = new QWidget();
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    publicIPStackView = new QWidget(root);
    auto* line = new QHBoxLayout(publicIPStackView);
    line->setContentsMargins(12, 8, 12, 4);
    auto* title = detailCaption(publicIPStackView, 12, QStringLiteral("Public IP"));
    publicIP = detailLabel(publicIPStackView, 12, true);
    publicIP->setObjectName("publicIP");
    publicIP->setTextInteractionFlags(Qt::TextSelectableByMouse);
    publicIP->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line->addWidget(title);
    line->addStretch(1);
    line->addWidget(publicIP);
    layout->addWidget(publicIPStackView);

    stackView = new CallbackStackView(Qt::Vertical, root);
    stackView->stackLayout()->setSpacing(0);
    stackView->stackLayout()->setAlignment(Qt::AlignTop);
    layout->addWidget(stackView);
    return root;
}

void NetworkListViewController::viewDidLoad() {
    buildInterfaceViews();
    apply(themes_.activeTheme());
    themes_.onThemeChange.listen(*this, [this](const Theme& theme) { apply(theme); });
}

void NetworkListViewController::apply(const Theme& theme) {
    theme.updateText(publicIPStackView);
}

void NetworkListViewController::viewWillAppear() {
    view();
    appeared_ = true;
    for (auto& controller : contents_)
        controller->viewWillAppear();
    update();
}

QString NetworkListViewController::publicAddressText() {
    // Only an address is an answer: "No Internet", an empty or a garbled text never replaces
    // the last address seen.
    auto current = system_.net().publicAddress();
    if (current && !PublicAddress_isAddress(current->c_str()))
        current.reset();
    const auto& key = WidgetDefaultsKeys::publicAddress();
    auto stored = defaults_.get(key);
    if (current) {
        if (stored != current)
            defaults_.set(key, current);
        return qs(*current);
    }
    if (stored && PublicAddress_isAddress(stored->c_str()))
        return qs(*stored);
    return QStringLiteral("-");
}

void NetworkListViewController::update() {
    if (!isViewLoaded())
        return;
    publicIP->setText(publicAddressText());
    const auto interfaces = system_.net().interfaces();
    if (!showsSameKeys(interfaces, contents_, [](const NetworkViewController& view) {
            return view.ifname.toStdString();
        })) {
        buildInterfaceViews();
        return;
    }
    for (auto& controller : contents_)
        controller->update(interfaces.at(controller->ifname.toStdString()));
}

void NetworkListViewController::buildInterfaceViews() {
    std::vector<std::unique_ptr<NetworkViewController>> next;
    for (const auto& [name, interface] : system_.net().interfaces()) {
        auto controller = std::make_unique<NetworkViewController>(system_, workspace_, &themes_);
        controller->ifname = qs(name);
        controller->interface = interface;
        next.push_back(std::move(controller));
    }
    for (auto& old : contents_) {
        if (old->isViewLoaded())
            stackView->removeView(old->view());
    }
    contents_ = std::move(next);
    for (auto& controller : contents_)
        stackView->addView(controller->view());
    if (appeared_) {
        for (auto& controller : contents_)
            controller->viewWillAppear();
    }
}

}  // namespace vigil
