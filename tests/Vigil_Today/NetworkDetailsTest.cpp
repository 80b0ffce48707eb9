// The network details over a scripted network resource: one view per interface, rates, lights,
// totals, addresses, menu facts, rebuilt when the interfaces change, and the public address kept
// in the settings store only when it is an address.

#include <QApplication>
#include <QClipboard>
#include <QMenu>

#include <atomic>
#include <mutex>
#include <vector>

#include "Vigil_Today/DiskNetworkBatterySupport.h"
#include "details/NetworkListViewController.h"
#include "details/NetworkViewController.h"
#include "host/Workspace.h"
#include "settings/Defaults.h"
#include "support/QtTestApp.h"
#include "support/TempFolder.h"
#include "support/TestSupport.h"
#include "system/Formatting.h"
#include "system/Network.h"
#include "system/System.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "views/CallbackStackView.h"

namespace vigil {
namespace {

struct Sample {
    std::string name;
    int64_t ibytes, obytes;
    int ifindex;
};

// What the kernel and the outside world would report, step by step.
class ScriptedMachine {
  public:
    ScriptedMachine() {
        Network::Environment environment;
        environment.collect = [this](const NetworkDataCallback& callback) {
            std::lock_guard lock(mutex_);
            for (const auto& sample : samples_) {
                const std::string address = "192.0.2." + std::to_string(10 + sample.ifindex);
                const NetworkData data{sample.ibytes, sample.obytes, address.c_str(),
                                       "00:1b:63:aa:bb:cc", sample.ifindex};
                callback(clock_, sample.name.c_str(), &data);
            }
        };
        environment.extra = [](const char* name, const NetworkExtraCallback& callback) {
            const bool wifi = std::string(name).starts_with("wl");
            // A wireless driver that does not know its speed reports 0 (the kernel's -1).
            const NetworkExtra extra{wifi ? 0 : 1'000'000'000, 0, wifi,
                                     wifi ? "Wi-Fi" : "Ethernet"};
            callback(&extra);
        };
        environment.isConnectedToInternet = [this] { return online.load(); };
        environment.lookUpPublicAddress = [this]() -> std::optional<std::string> {
            std::lock_guard lock(mutex_);
            return answer;
        };
        environment.runInBackground = [](std::function<void()> work) { work(); };
        network = std::make_shared<Network>(environment);
        System::Resources resources;
        resources.net = network;
        system = std::make_unique<System>(resources, std::vector<System::TaskSpec>{});
    }

    void set(std::vector<Sample> samples, int64_t atMillis) {
        {
            std::lock_guard lock(mutex_);
            samples_ = std::move(samples);
            clock_ = atMillis;
        }
        network->update();
    }
    void setAnswer(std::optional<std::string> text) {
        std::lock_guard lock(mutex_);
        answer = std::move(text);
    }
    // Runs updates until the resource checks the connection again.
    void runConnectionCheck() {
        for (int i = 0; i < 32; ++i)
            network->update();
    }

    std::atomic<bool> online{true};
    std::shared_ptr<Network> network;
    std::unique_ptr<System> system;

  private:
    std::mutex mutex_;
    std::vector<Sample> samples_;
    int64_t clock_ = 0;
    std::optional<std::string> answer;
};

class RecordingWorkspace : public DesktopWorkspace {
  public:
    std::vector<SystemTool> launched;
    QString copied;
    std::optional<QString> settingsName = QStringLiteral("Advanced Network Configuration");
    std::optional<QString> systemToolName(SystemTool tool) override {
        return tool == SystemTool::networkSettings ? settingsName : std::nullopt;
    }
    bool launchSystemTool(SystemTool tool) override {
        launched.push_back(tool);
        return true;
    }
    void copyToClipboard(const QString& text) override { copied = text; }
};

class NetworkDetailsTest : public test::QtTest {
  protected:
    void SetUp() override {
        test::QtTest::SetUp();
        defaults = std::make_unique<Defaults>("network-details-test", folder.path());
        themes = std::make_unique<ThemeManager>(*defaults);
    }
    NetworkViewController& view(NetworkListViewController& list, const char* ifname) {
        for (const auto& controller : list.contents()) {
            if (controller->ifname == ifname)
                return *controller;
        }
        ADD_FAILURE() << "no view for " << ifname;
        return *list.contents().front();
    }

    test::TempFolder folder;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<ThemeManager> themes;
    RecordingWorkspace workspace;
};

TEST_F(NetworkDetailsTest, OneViewPerInterfaceWithRatesLightsAndTotals) {
    ScriptedMachine machine;
    machine.set({{"eth0", 1000, 500, 1}, {"wlan0", 0, 0, 2}}, 10'000);
    machine.set({{"eth0", 3'001'000, 1'500, 1}, {"wlan0", 0, 0, 2}}, 11'000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    ASSERT_EQ(list.contents().size(), 2u);
    ASSERT_EQ(list.stackView->views().size(), 2);

    auto& eth = view(list, "eth0");
    EXPECT_EQ(eth.name->text(), "Ethernet \u203A");
    EXPECT_EQ(eth.bsdName->text(), "eth0");
    EXPECT_EQ(eth.localAddress->text(), "192.0.2.11");
    EXPECT_EQ(eth.download->text(), QString::fromStdString(bpsStr(3'000'000)));
    EXPECT_EQ(eth.upload->text(), QString::fromStdString(bpsStr(1000)));
    EXPECT_NE(eth.download->text(), eth.upload->text());
    EXPECT_EQ(eth.totalDownloaded->text(), "2.86 MB");
    EXPECT_EQ(eth.totalUploaded->text(), "1.46 KB");
    EXPECT_EQ(eth.ledUpload->color(), FUIColor::peterRiver());
    EXPECT_EQ(eth.ledDownload->color(), FUIColor::emerald());
    EXPECT_EQ(eth.itemLinkSpeed->text(), "1000 Mb/s");
    EXPECT_EQ(eth.itemMacAddress->text(), "00:1B:63:AA:BB:CC");

    auto& wifi = view(list, "wlan0");
    EXPECT_EQ(wifi.name->text(), "Wi-Fi \u203A");
    EXPECT_EQ(wifi.upload->text(), "0.0 KB/s");
    EXPECT_EQ(wifi.ledUpload->color(), FUIColor::silver());
    EXPECT_EQ(wifi.ledDownload->color(), FUIColor::silver());
    EXPECT_EQ(wifi.itemLinkSpeed->text(), "-");  // unknown, not "0 Mb/s"

    // Without configuration nothing is known.
    EXPECT_EQ(eth.itemHostName->text(), "-");
    EXPECT_EQ(eth.itemRouter->text(), "-");
    EXPECT_EQ(eth.itemDNS->text(), "-");

    // The next tick: eth0 goes quiet, wlan0 starts receiving.
    machine.set({{"eth0", 3'001'000, 1'500, 1}, {"wlan0", 4096, 0, 2}}, 12'000);
    list.update();
    EXPECT_EQ(eth.ledUpload->color(), FUIColor::silver());
    EXPECT_EQ(eth.ledDownload->color(), FUIColor::silver());
    EXPECT_EQ(wifi.ledDownload->color(), FUIColor::emerald());
    EXPECT_EQ(wifi.download->text(), "4.0 KB/s");
}

TEST_F(NetworkDetailsTest, MenuFactsAndActions) {
    ScriptedMachine machine;
    machine.network->configure("workstation", "192.0.2.1",
                               std::vector<std::string>{"192.0.2.53", "2001:db8::53"});
    machine.set({{"eth0", 0, 0, 1}}, 1000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& eth = view(list, "eth0");
    EXPECT_EQ(eth.itemHostName->text(), "workstation");
    EXPECT_EQ(eth.itemRouter->text(), "192.0.2.1");
    EXPECT_EQ(eth.itemDNS->text(), QString::fromStdString(*machine.network->dns()));
    EXPECT_TRUE(eth.itemDNS->text().contains("192.0.2.53"));

    eth.macSelected();
    EXPECT_EQ(workspace.copied, "00:1B:63:AA:BB:CC");
    // The desktop's network settings, by the name its program gives itself.
    EXPECT_EQ(eth.itemNetworkSettings->text(), "Advanced Network Configuration…");
    EXPECT_TRUE(eth.itemNetworkSettings->isVisible());
    eth.itemNetworkSettings->trigger();
    EXPECT_EQ(workspace.launched, (std::vector<SystemTool>{SystemTool::networkSettings}));

    // A click on the row opens the menu.
    eth.view()->resize(320, 70);
    eth.view()->show();
    test::click(*eth.networkRowCallback, {5, 5});
    EXPECT_TRUE(test::qtWaitUntil([&] { return eth.contextMenu->isVisible(); }));
    eth.contextMenu->hide();
    eth.view()->hide();
}

TEST_F(NetworkDetailsTest, RebuildsWhenTheInterfacesChange) {
    ScriptedMachine machine;
    machine.set({{"eth0", 0, 0, 1}}, 1000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    ASSERT_EQ(list.contents().size(), 1u);
    NetworkViewController* first = list.contents().front().get();
    list.update();
    EXPECT_EQ(list.contents().front().get(), first);

    // A VPN comes up.
    machine.set({{"eth0", 0, 0, 1}, {"tun0", 10, 10, 3}}, 2000);
    list.update();
    ASSERT_EQ(list.contents().size(), 2u);
    EXPECT_EQ(list.stackView->views().size(), 2);
    EXPECT_EQ(view(list, "tun0").localAddress->text(), "192.0.2.13");

    // One goes, another comes within one tick: same count, still rebuilt.
    machine.set({{"eth0", 0, 0, 1}, {"wlan0", 0, 0, 2}}, 3000);
    list.update();
    ASSERT_EQ(list.contents().size(), 2u);
    EXPECT_EQ(view(list, "wlan0").name->text(), "Wi-Fi \u203A");
}

TEST_F(NetworkDetailsTest, PublicAddressStoredOnlyWhenItIsAnAddress) {
    ScriptedMachine machine;
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    // Before any answer: "-".
    machine.setAnswer(std::nullopt);
    machine.set({{"eth0", 0, 0, 1}}, 1000);
    list.view();
    list.viewWillAppear();
    EXPECT_EQ(list.publicIP->text(), "-");
    EXPECT_FALSE(defaults->hasKey("publicAddress"));

    // An answer: shown and remembered.
    machine.setAnswer("198.51.100.7");
    machine.network->refreshPublicAddress();
    list.update();
    EXPECT_EQ(list.publicIP->text(), "198.51.100.7");
    EXPECT_EQ((*defaults)["publicAddress"].string(), "198.51.100.7");

    // The machine goes offline: the resource says "No Internet"; the last address stays.
    machine.online = false;
    machine.runConnectionCheck();
    ASSERT_EQ(machine.network->publicAddress(), Network::kNoInternet);
    list.update();
    EXPECT_EQ(list.publicIP->text(), "198.51.100.7");
    EXPECT_EQ((*defaults)["publicAddress"].string(), "198.51.100.7");

    // Online again, but the lookup answers nothing usable (empty or junk).
    machine.online = true;
    machine.setAnswer(std::string());
    machine.runConnectionCheck();
    ASSERT_EQ(machine.network->connection(), Network::ConnectionType::internet);
    for (const char* junk : {"", "<html>", "No Internet"}) {
        machine.setAnswer(std::string(junk));
        machine.network->refreshPublicAddress();
        list.update();
        EXPECT_EQ(list.publicIP->text(), "198.51.100.7") << junk;
        EXPECT_EQ((*defaults)["publicAddress"].string(), "198.51.100.7") << junk;
    }

    // A new address replaces the old one, IPv6 included.
    machine.setAnswer("2001:db8::7");
    machine.network->refreshPublicAddress();
    list.update();
    EXPECT_EQ(list.publicIP->text(), "2001:db8::7");
    EXPECT_EQ((*defaults)["publicAddress"].string(), "2001:db8::7");

    // A stored value that is not an address (written by an older version) is not shown.
    machine.setAnswer(std::nullopt);
    machine.network->refreshPublicAddress();
    defaults->set("publicAddress", std::string("No Internet"));
    list.update();
    EXPECT_EQ(list.publicIP->text(), "-");
}

TEST_F(NetworkDetailsTest, StoredAddressSurvivesANewController) {
    ScriptedMachine machine;
    defaults->set("publicAddress", std::string("203.0.113.9"));
    machine.setAnswer(std::nullopt);
    machine.set({{"eth0", 0, 0, 1}}, 1000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    EXPECT_EQ(list.publicIP->text(), "203.0.113.9");
}

TEST_F(NetworkDetailsTest, ThemesSwapTheIconsAndColourTheTexts) {
    ScriptedMachine machine;
    machine.set({{"eth0", 0, 0, 1}, {"wlan0", 0, 0, 2}}, 1000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& eth = view(list, "eth0");
    auto& wifi = view(list, "wlan0");
    EXPECT_EQ(eth.networkIconName(), "ethernet-light");
    EXPECT_EQ(wifi.networkIconName(), "wifi-light");
    const Theme& dark = themes->themes[1];
    themes->setActiveTheme(dark);
    EXPECT_EQ(eth.networkIconName(), "ethernet");
    EXPECT_EQ(wifi.networkIconName(), "wifi");
    EXPECT_EQ(textColorOf(eth.name), dark.labelColor);
    EXPECT_EQ(textColorOf(eth.bsdName), dark.titleLabelColor);
    EXPECT_EQ(textColorOf(list.publicIP), dark.labelColor);
    themes->setActiveTheme(themes->themes[0]);
    EXPECT_EQ(wifi.networkIconName(), "wifi-light");
    EXPECT_EQ(textColorOf(list.publicIP), themes->themes[0].labelColor);
}

TEST_F(NetworkDetailsTest, Gallery) {
    ScriptedMachine machine;
    machine.setAnswer("198.51.100.7");
    machine.network->configure("workstation", "192.0.2.1", std::vector<std::string>{"192.0.2.53"});
    machine.set({{"enp3s0", 1'000'000, 200'000, 1}, {"wlp2s0", 50'000'000, 9'000'000, 2}}, 1000);
    machine.set({{"enp3s0", 1'000'000, 200'000, 1}, {"wlp2s0", 51'900'000, 9'126'000, 2}}, 2000);
    NetworkListViewController list(machine.system.get(), &workspace, defaults.get(), themes.get());
    list.view();
    list.viewWillAppear();
    auto& wifi = view(list, "wlp2s0");
    wifi.viewWillAppear();
    for (int index : {0, 1}) {
        themes->setActiveTheme(themes->themes[static_cast<size_t>(index)]);
        test::saveDetailPicture(*list.view(), themes->activeTheme(), "network-details");
        // The menu of a link whose speed is unknown.
        wifi.contextMenu->adjustSize();
        wifi.contextMenu->grab().save(test::galleryDir("Vigil_Today") + "/network-menu-" +
                                      (index ? "dark" : "light") + ".png");
    }
    themes->setActiveTheme(themes->themes[0]);
}

}  // namespace
}  // namespace vigil
