#include <QComboBox>

#include "Vigil_Today/CPUMemoryTestSupport.h"
#include "history/History.h"
#include "history/HistoryDatabase.h"
#include "settings/SettingsPanelPlaceStore.h"
#include "settings/SettingsViewController.h"
#include "settings/WidgetDefaults.h"
#include "support/TempFolder.h"
#include "system/Formatting.h"
#include "ui/Controls.h"

namespace vigil {
namespace {

class SettingsTest : public test::QtTest {};

void choose(QComboBox* box, int64_t tag) {
    box->setCurrentIndex(box->findData(QVariant::fromValue<qlonglong>(tag)));
    Q_EMIT box->activated(box->currentIndex());
}

TEST_F(SettingsTest, KeysEnumerationsAndStoredForms) {
    test::TempDefaults store;
    Defaults& defaults = store.defaults;
    EXPECT_EQ(defaults.get(WidgetDefaultsKeys::widgetRows()), 0);
    EXPECT_EQ(defaults.get(WidgetDefaultsKeys::publicAddress()), std::nullopt);
    EXPECT_EQ(widgetRows(defaults), WidgetRowsDefaults::all);
    EXPECT_EQ(detailsView(defaults), DetailsViewDefaults::none);

    defaults.set(WidgetDefaultsKeys::detailsView(), rawValue(DetailsViewDefaults::net));
    defaults.set(WidgetDefaultsKeys::publicAddress(), std::optional<std::string>("192.0.2.7"));
    EXPECT_EQ(defaults["detailsView"].intValue(), 5);
    EXPECT_EQ(defaults["publicAddress"].stringValue(), "192.0.2.7");
    EXPECT_EQ(detailsView(defaults), DetailsViewDefaults::net);

    // Raw values that name no case give no case; reads fall back to the first one.
    EXPECT_EQ(defaultsEnum<WidgetRowsDefaults>(3), std::nullopt);
    EXPECT_EQ(defaultsEnum<DetailsViewDefaults>(-1), std::nullopt);
    EXPECT_EQ(defaultsEnum<TemperatureDefaults>(1), TemperatureDefaults::fahrenheit);
    defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{9});
    EXPECT_EQ(widgetRows(defaults), WidgetRowsDefaults::all);
    EXPECT_EQ(toGroup(WidgetRowsDefaults::network), System::Group::network);
    EXPECT_EQ(toGroup(WidgetRowsDefaults::system), System::Group::system);

    // An optional enumeration key goes through the store's enumeration support.
    DefaultsKey<std::optional<TemperatureDefaults>> unit("temperature");
    defaults.set(WidgetDefaultsKeys::temperature(), int64_t{1});
    EXPECT_EQ(defaults.get(unit), TemperatureDefaults::fahrenheit);
    EXPECT_EQ(temperatureUnit(defaults), TemperatureDefaults::fahrenheit);
    EXPECT_EQ(degrees(20, defaults), "68°");  // the formatting reads the same key
    defaults.set(WidgetDefaultsKeys::temperature(), int64_t{4});
    EXPECT_EQ(defaults.get(unit), std::nullopt);
}

TEST_F(SettingsTest, ChoicesAreWrittenAtOnceAndReadBackWhenShown) {
    test::FixtureMachine machine;
    test::TempDefaults store;
    ThemeManager themes(store.defaults);
    SettingsViewController settings(themes, store.defaults, *machine.system);
    QWidget list;
    settings.mainWidgetView = &list;
    store.defaults.set(WidgetDefaultsKeys::widgetRows(), int64_t{2});
    store.defaults.set(WidgetDefaultsKeys::temperature(), int64_t{1});
    store.defaults.set(WidgetDefaultsKeys::detailsView(), int64_t{1});
    settings.view();
    settings.viewWillAppear();
    EXPECT_EQ(settings.rowSettings->currentData().toLongLong(), 2);
    EXPECT_EQ(settings.temperatureSettings->selectedSegment(), 1);
    EXPECT_EQ(settings.themeSettings->currentData().toLongLong(), 0);
    // Entering the settings forgets the open detail view.
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::detailsView()), 0);
    ASSERT_EQ(settings.rowSettings->count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(settings.rowSettings->itemData(i).toLongLong(), i);

    choose(settings.rowSettings, 1);
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::widgetRows()), 1);

    // Celsius on a machine without battery: the key is written, no battery signal fires.
    ASSERT_FALSE(machine.battery->hasBattery());
    settings.temperatureSettings->segment(0)->click();
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::temperature()), 0);
    EXPECT_EQ(machine.battery->onBatteryChanged.fireCount(), 0);

    // A stored unit that names no segment selects none.
    store.defaults.set(WidgetDefaultsKeys::temperature(), int64_t{3});
    settings.viewWillAppear();
    EXPECT_EQ(settings.temperatureSettings->selectedSegment(), -1);

    // The product page goes to the opener with the configured address.
    std::vector<QString> opened;
    settings.pageOpener = [&](const QString& url) { opened.push_back(url); };
    test::click(*settings.vigilPage, QPointF(5, 5));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front(), QString::fromLatin1(SettingsViewController::kProductPage));
}

TEST_F(SettingsTest, KeepHistoryOffStopsRecordingAndClearAsksThenEmptiesTheFile) {
    test::FixtureMachine machine;
    test::TempDefaults store;
    ThemeManager themes(store.defaults);
    test::TempFolder folder;
    History::Options options;
    options.path = folder / "history.sqlite";
    History history(options);
    history.record("cpu.busy", 12.5);
    history.writeNow();
    SettingsViewController settings(themes, store.defaults, *machine.system);
    settings.history = &history;
    settings.viewWillAppear();
    EXPECT_TRUE(settings.keepHistorySettings->isChecked());  // on unless turned off

    settings.keepHistorySettings->click();
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::keepHistory()), false);
    EXPECT_FALSE(history.recording());
    history.record("cpu.busy", 99);
    const std::int64_t now = history.now();
    const auto kept = [&] { return history.points("cpu.busy", now - 60'000, now + 1).size(); };
    EXPECT_EQ(kept(), 1u);  // off deletes nothing, and records nothing more

    settings.clearHistoryButton->click();
    EXPECT_EQ(settings.clearHistoryButton->text(), QStringLiteral("Clear all?"));
    EXPECT_EQ(kept(), 1u);
    settings.clearHistoryButton->click();
    EXPECT_TRUE(test::waitUntil([&] { return kept() == 0; }));
    auto opened = HistoryDatabase::open(options.path, HistoryDatabase::Mode::readOnly);
    ASSERT_TRUE(opened.database);
    EXPECT_TRUE(opened.database->seriesNames().empty());
}

TEST_F(SettingsTest, FahrenheitOnABatteryMachineRedrawsTheBattery) {
    test::FixtureMachine machine;
    // Swap in a machine with a battery.
    test::TempTree power("power-discharging");
    Battery::Options options;
    options.root = power.root;
    options.watchKernel = false;
    auto battery = std::make_shared<Battery>(options);
    ASSERT_TRUE(battery->hasBattery());
    System::Resources resources = machine.system->resources();
    resources.battery = battery;
    System system(resources, {});
    test::TempDefaults store;
    ThemeManager themes(store.defaults);
    SettingsViewController settings(themes, store.defaults, system);
    settings.viewWillAppear();
    int fired = 0;
    Trackable owner;
    battery->onBatteryChanged.listen(owner, [&] { ++fired; });
    settings.temperatureSettings->segment(1)->click();
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::temperature()), 1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(degrees(20, store.defaults), "68°");
}

TEST_F(SettingsTest, ThemeChoiceRepaintsTheViewAndTheListAtOnce) {
    test::FixtureMachine machine;
    test::TempDefaults store;
    ThemeManager themes(store.defaults);
    SettingsViewController settings(themes, store.defaults, *machine.system);
    QWidget list;
    list.resize(320, 160);
    settings.mainWidgetView = &list;
    settings.viewWillAppear();
    int changes = 0;
    Trackable owner;
    themes.onThemeChange.listen(owner, [&](const Theme&) { ++changes; });
    auto* title = settings.view()->findChild<TitleField*>();
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(textColorOf(title), Themes::light().titleLabelColor);

    choose(settings.themeSettings, 1);
    EXPECT_EQ(store.defaults.get(WidgetDefaultsKeys::theme()), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(themes.activeTheme(), Themes::dark());
    EXPECT_EQ(textColorOf(title), Themes::dark().titleLabelColor);
    EXPECT_EQ(backgroundColorOf(&list), QColor(44, 62, 80));  // before editing ends

    test::renderOnTheme(settings.view(), Themes::dark(), "settings-dark");
    choose(settings.themeSettings, 0);
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(backgroundColorOf(&list).has_value());
    test::renderOnTheme(settings.view(), Themes::light(), "settings-light");
}

TEST_F(SettingsTest, PanelPlaceKeptInTheStore) {
    test::TempDefaults store;
    SettingsPanelPlaceStore places(store.defaults);
    EXPECT_EQ(places.loadPlace(), std::nullopt);
    places.savePlace(QPoint(-1200, 40));
    EXPECT_EQ(places.loadPlace(), QPoint(-1200, 40));
    // Another store on the same file sees it (it is in the file, not in memory).
    Defaults again("vigil-test-suite", std::filesystem::path(store.tree.root));
    EXPECT_EQ(SettingsPanelPlaceStore(again).loadPlace(), QPoint(-1200, 40));

    // Whatever else the file holds reads as no place.
    for (const char* bad : {R"("12,40")", R"({"x": 1})", R"({"x": "1", "y": 2})",
                            R"({"x": 1.5, "y": 2})", R"({"x": 1e12, "y": 2})", "[1, 2]"}) {
        store.defaults.set("panelPlace", DefaultsValue::parse(bad));
        EXPECT_EQ(places.loadPlace(), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace vigil
