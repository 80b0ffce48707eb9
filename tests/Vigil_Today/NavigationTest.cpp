#include <QTemporaryDir>

#include <memory>
#include <vector>

#include "HostTestSupport.h"
#include "NavigationController.h"
#include "settings/WidgetDefaults.h"
#include "support/QtTestApp.h"

namespace vigil {
namespace {

// A navigator over a list of test rows, with a store of its own, recording the row callbacks.
class NavigationTest : public test::QtTest {
  protected:
    void SetUp() override {
        QtTest::SetUp();
        defaults = std::make_unique<Defaults>(Defaults::kSharedSuite,
                                              std::filesystem::path(folder.path().toStdString()));
        navigator = std::make_unique<NavigationController>(*defaults);
        navigator->onCollapse.listen(owner, [this] { calls.push_back("collapse"); });
    }

    void show(std::initializer_list<ViewController*> rows) {
        list.setContents(QList<ViewController*>(rows));
        navigator->setList(list);
    }
    void toggle(ViewController& detail, int at) {
        navigator->toggleFirstRow(
            detail, at, [this] { calls.push_back("hide"); },
            [this](int i) { calls.push_back("swap" + std::to_string(i)); },
            [this](int i) { calls.push_back("visible" + std::to_string(i)); });
    }
    int64_t stored() { return defaults->get(WidgetDefaultsKeys::detailsView()); }
    QList<ViewController*> contents() { return list.contents(); }

    QTemporaryDir folder;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<NavigationController> navigator;
    Trackable owner;
    std::vector<std::string> calls;
    WidgetListViewController list;
    test::TestRow first{QStringLiteral("first")}, second{QStringLiteral("second")};
    test::TestRow cpu{QStringLiteral("cpu")}, memory{QStringLiteral("memory")},
        disk{QStringLiteral("disk")}, network{QStringLiteral("network")};
};

TEST_F(NavigationTest, OpensSwapsAndClosesUnderTheFirstRow) {
    show({&first, &second});
    EXPECT_TRUE(navigator->isCollapsed());

    toggle(cpu, 0);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &cpu, &second}));
    EXPECT_EQ(stored(), 1);
    EXPECT_FALSE(navigator->isCollapsed());
    EXPECT_TRUE(navigator->isVisible(&cpu));
    EXPECT_EQ(calls, (std::vector<std::string>{"collapse", "visible0"}));

    calls.clear();
    toggle(memory, 1);  // a swap: no collapse
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &memory, &second}));
    EXPECT_EQ(calls, (std::vector<std::string>{"swap1"}));
    EXPECT_EQ(stored(), 2);
    EXPECT_EQ(cpu.willDisappear, 1);

    calls.clear();
    toggle(memory, 1);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &second}));
    EXPECT_EQ(calls, (std::vector<std::string>{"hide"}));
    EXPECT_EQ(stored(), 0);
    EXPECT_TRUE(navigator->isCollapsed());
    EXPECT_FALSE(navigator->isVisible(&memory));
}

TEST_F(NavigationTest, NetworkAndFirstRowDetailsReplaceEachOther) {
    show({&first, &second});
    navigator->toggleSecondRow(network);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &second, &network}));
    EXPECT_EQ(stored(), 5);

    calls.clear();
    toggle(disk, 2);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &disk, &second}));
    EXPECT_EQ(calls, (std::vector<std::string>{"collapse", "visible2"}));
    EXPECT_EQ(stored(), 3);

    calls.clear();
    navigator->toggleSecondRow(network);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &second, &network}));
    EXPECT_EQ(calls, (std::vector<std::string>{"collapse"}));
    navigator->toggleSecondRow(network);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &second}));
    EXPECT_EQ(stored(), 0);

    navigator->collapse();
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &second}));
}

TEST_F(NavigationTest, OneMainRow) {
    show({&second});
    navigator->toggleSecondRow(network);
    EXPECT_EQ(contents(), (QList<ViewController*>{&second, &network}));
    navigator->toggleSecondRow(network);
    EXPECT_EQ(contents(), (QList<ViewController*>{&second}));

    show({&first});
    toggle(cpu, 0);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &cpu}));
    toggle(disk, 2);
    EXPECT_EQ(contents(), (QList<ViewController*>{&first, &disk}));
    EXPECT_EQ(calls.back(), "swap2");
    EXPECT_EQ(stored(), 3);
}

TEST_F(NavigationTest, NothingHappensWithoutRows) {
    defaults->set(WidgetDefaultsKeys::detailsView(), int64_t{2});
    toggle(cpu, 0);  // the stand-in list is empty
    EXPECT_TRUE(navigator->list().contents().isEmpty());
    show({});
    toggle(cpu, 0);
    EXPECT_TRUE(contents().isEmpty());
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(stored(), 2);
}

}  // namespace
}  // namespace vigil
