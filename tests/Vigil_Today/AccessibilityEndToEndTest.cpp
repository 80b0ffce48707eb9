// The program as a screen reader and a keyboard user meet it: under a private Xvfb and session
// bus, with the AT-SPI bus and registry (at-spi2-core), atspi-walk.py walks the accessible tree
// and drives the panel with xdotool key presses alone.

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <unistd.h>

#include <string>

#include "XvfbServer.h"
#include "support/SessionBus.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

constexpr const char* kBusLauncher = "/usr/libexec/at-spi-bus-launcher";
constexpr const char* kSystemPython = "/usr/bin/python3";

QString programPath() {
    // VIGIL_TOOLS_DIR is <build>/tools.
    return QStringLiteral(VIGIL_TOOLS_DIR "/../Vigil_Today/Vigil_Today");
}

QString walkerPath() {
    return QStringLiteral(VIGIL_SOURCE_DIR "/tests/Vigil_Today/atspi-walk.py");
}

// Why the walk cannot run here; empty when it can.
std::string missingPiece() {
    if (access(programPath().toUtf8().constData(), X_OK) != 0)
        return "the program is not built: " + programPath().toStdString();
    if (access(kBusLauncher, X_OK) != 0)
        return "the AT-SPI bus launcher is missing (apt-get install at-spi2-core)";
    if (access("/usr/bin/xdotool", X_OK) != 0)
        return "xdotool is not installed (apt-get install xdotool)";
    if (QProcess::execute(QString::fromLatin1(kSystemPython),
                          {QStringLiteral("-c"), QStringLiteral("import pyatspi")}) != 0)
        return "pyatspi is not installed (apt-get install python3-pyatspi)";
    return {};
}

// Stops a started process at the end of the test.
struct Running {
    QProcess process;
    ~Running() {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
};

// A private Xvfb, session bus and AT-SPI bus with its registry; `env` reaches them.
class AccessibilityEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string why = missingPiece(); !why.empty())
            GTEST_SKIP() << why;
        if (!x.reason.empty())
            GTEST_SKIP() << x.reason;
        if (!bus.started())
            GTEST_SKIP() << "dbus-daemon did not start (apt-get install dbus-daemon)";
        ASSERT_TRUE(dir.isValid());
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(x.display()));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QString::fromStdString(bus.address()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        env.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("print_suppressions=0"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        launcher.process.setProcessEnvironment(env);
        launcher.process.start(QString::fromLatin1(kBusLauncher), {"--launch-immediately"});
        ASSERT_TRUE(launcher.process.waitForStarted(10000));
    }

    test::XvfbServer x;
    test::PrivateBus bus;
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    Running launcher;
};

TEST_F(AccessibilityEndToEnd, ScreenReaderTreeAndKeyboardAlone) {
    Running program;
    program.process.setProcessEnvironment(env);
    program.process.setProcessChannelMode(QProcess::MergedChannels);
    program.process.start(programPath(), {});
    ASSERT_TRUE(program.process.waitForStarted(10000));

    QProcess walker;
    walker.setProcessEnvironment(env);
    walker.setProcessChannelMode(QProcess::MergedChannels);
    walker.start(QString::fromLatin1(kSystemPython), {walkerPath()});
    ASSERT_TRUE(walker.waitForStarted(10000));
    const bool finished = walker.waitForFinished(240000);
    if (!finished)
        walker.kill();
    const QString said = QString::fromUtf8(walker.readAll());
    ASSERT_TRUE(finished) << "the walk did not end:\n" << said.toStdString();
    if (walker.exitCode() == 77)
        GTEST_SKIP() << said.toStdString();
    EXPECT_EQ(walker.exitCode(), 0) << said.toStdString() << "\nprogram:\n"
                                    << program.process.readAll().toStdString();
    // The panel has the named parts the walk found.
    EXPECT_TRUE(said.contains(QStringLiteral("progress bar 'Processor' value=")))
        << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("push button 'Upload, "))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("details closed"))) << said.toStdString();
}

// The toolkit's events as the AT-SPI bridge gets them: the ui tests' event scenario, which needs a
// live bridge (the offscreen platform has none), run in the test_ui program under this display
// and bus.
TEST_F(AccessibilityEndToEnd, ToolkitEventsReachTheBridge) {
    const QString uiTests = QStringLiteral(VIGIL_TOOLS_DIR "/../tests/test_ui");
    if (access(uiTests.toUtf8().constData(), X_OK) != 0)
        GTEST_SKIP() << "the ui tests are not built: " << uiTests.toStdString();
    QProcess run;
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(
        uiTests,
        {QStringLiteral(
            "--gtest_filter=AccessibilityTest.SampleChangesAreValuesAndAnnouncementsComeOnce")});
    ASSERT_TRUE(run.waitForStarted(10000));
    const bool finished = run.waitForFinished(120000);
    if (!finished)
        run.kill();
    const std::string said = run.readAll().toStdString();
    ASSERT_TRUE(finished) << said;
    EXPECT_EQ(run.exitCode(), 0) << said;
    EXPECT_NE(said.find("[       OK ] AccessibilityTest.SampleChanges"), std::string::npos)
        << "skipped or not run:\n"
        << said;
}

}  // namespace
}  // namespace vigil
