#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "host/Workspace.h"
#include "support/QtTestApp.h"

namespace vigil {
namespace {

int lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Stands in for PATH, process start and the desktop entries: records what would have been started.
struct FakeLauncher {
    std::set<QString> installed;
    std::map<QString, QString> entryNames;  // by program
    bool startSucceeds = true;
    std::vector<std::pair<QString, QStringList>> started;

    DesktopWorkspace::Launcher launcher() {
        return DesktopWorkspace::Launcher{
            [this](const QString& program) {
                return installed.count(program) ? QStringLiteral("/usr/bin/") + program : QString();
            },
            [this](const QString& program, const QStringList& arguments) {
                started.emplace_back(program, arguments);
                return startSucceeds;
            },
            [this](const QString& program) { return entryNames[program]; }};
    }
};

class WorkspaceTest : public test::QtTest {};

// Puts environment variables back as they were (unset when they were unset).
class EnvironmentKept {
  public:
    explicit EnvironmentKept(std::initializer_list<const char*> names) {
        for (const char* name : names)
            kept_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    ~EnvironmentKept() {
        for (const auto& [name, wasSet, value] : kept_)
            wasSet ? qputenv(name, value) : qunsetenv(name);
    }

  private:
    std::vector<std::tuple<const char*, bool, QByteArray>> kept_;
};

TEST_F(WorkspaceTest, ToolsAreOfferedByTheNamesTheirProgramsGive) {
    FakeLauncher fake;
    fake.installed = {"xfce4-taskmanager", "gnome-disks", "nm-connection-editor"};
    fake.entryNames = {{"gnome-disks", "Disks"},
                       {"nm-connection-editor", "Advanced Network Configuration"},
                       {"gnome-control-center", "Settings"}};
    DesktopWorkspace workspace(fake.launcher());
    EXPECT_EQ(workspace.systemToolName(SystemTool::disks), "Disks");
    EXPECT_EQ(workspace.systemToolName(SystemTool::networkSettings),
              "Advanced Network Configuration");
    // No desktop entry: the name the tool is known by.
    EXPECT_EQ(workspace.systemToolName(SystemTool::systemMonitor), "Task Manager");
    // Nothing installed: not offered.
    EXPECT_EQ(workspace.systemToolName(SystemTool::diskUsage), std::nullopt);

    // A program opened on one of its pages is named after the page.
    fake.installed.insert("gnome-control-center");
    EXPECT_EQ(workspace.systemToolName(SystemTool::networkSettings), "Network Settings");
    EXPECT_TRUE(workspace.launchSystemTool(SystemTool::networkSettings));
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].first, "/usr/bin/gnome-control-center");
    EXPECT_EQ(fake.started[0].second, QStringList({"network"}));
    EXPECT_TRUE(workspace.launchSystemTool(SystemTool::systemMonitor));
    EXPECT_EQ(fake.started.back().first, "/usr/bin/xfce4-taskmanager");
}

TEST_F(WorkspaceTest, AMissingToolIsOneErrorLine) {
    FakeLauncher fake;
    DesktopWorkspace workspace(fake.launcher());
    for (SystemTool tool : {SystemTool::disks, SystemTool::networkSettings}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(workspace.launchSystemTool(tool));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines(said), 1) << said;
        EXPECT_EQ(said.rfind("Error: launchSystemTool ", 0), 0u) << said;
    }
    EXPECT_TRUE(fake.started.empty());

    fake.installed = {QStringLiteral("gnome-disks")};
    fake.startSucceeds = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(workspace.launchSystemTool(SystemTool::disks));
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1);
}

TEST_F(WorkspaceTest, TheDesktopsOwnToolIsFoundNamedAndStarted) {
    // A PATH and data folders of the test's own: one disks program with its desktop entry.
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin"), data = dir.filePath("data");
    const QString marker = dir.filePath("started");
    QDir().mkpath(bin);
    QDir().mkpath(data + "/applications");
    QFile script(bin + "/gnome-disks");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho \"$@\" > '" + marker + "'\n").toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile entry(data + "/applications/org.gnome.DiskUtility.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Disks\nExec=gnome-disks\n");
    entry.close();

    const EnvironmentKept kept({"PATH", "XDG_DATA_HOME", "XDG_DATA_DIRS"});
    qputenv("PATH", bin.toUtf8());
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_DATA_DIRS", dir.filePath("none").toUtf8());
    DesktopWorkspace workspace;
    const std::optional<QString> disks = workspace.systemToolName(SystemTool::disks);
    const std::optional<QString> usage = workspace.systemToolName(SystemTool::diskUsage);
    testing::internal::CaptureStderr();
    const bool missing = workspace.launchSystemTool(SystemTool::diskUsage);
    const std::string said = testing::internal::GetCapturedStderr();
    const bool started = workspace.launchSystemTool(SystemTool::disks);

    EXPECT_EQ(disks, "Disks");
    EXPECT_EQ(usage, std::nullopt);
    EXPECT_FALSE(missing);
    EXPECT_NE(said.find("baobab, filelight"), std::string::npos) << said;
    EXPECT_TRUE(started);
    EXPECT_TRUE(test::qtWaitUntil([&] { return QFile::exists(marker); }));
}

TEST_F(WorkspaceTest, OpensAddressesAndFiles) {
    FakeLauncher fake;
    fake.installed = {QStringLiteral("xdg-open")};
    DesktopWorkspace workspace(fake.launcher());
    EXPECT_TRUE(workspace.openURL(QStringLiteral("https://example.org/vigil")));
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].second, QStringList({"https://example.org/vigil"}));

    testing::internal::CaptureStderr();
    EXPECT_FALSE(workspace.openURL(QStringLiteral("--help")));
    EXPECT_FALSE(workspace.openFile(QStringLiteral("/no/such/file")));
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 2);
    EXPECT_EQ(fake.started.size(), 1u);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a b.txt"));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_TRUE(workspace.openFile(file));
    EXPECT_EQ(fake.started.back().second,
              QStringList({QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded())}));
    EXPECT_TRUE(fake.started.back().second[0].contains(QStringLiteral("a%20b.txt")));
}

TEST_F(WorkspaceTest, ClipboardAndIcons) {
    DesktopWorkspace workspace;
    workspace.copyToClipboard(QStringLiteral("192.0.2.7"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192.0.2.7"));
    workspace.copyToClipboard(QString());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());

    EXPECT_FALSE(DesktopWorkspace::bundledIcon(QStringLiteral("vigil")).isNull());
    EXPECT_TRUE(DesktopWorkspace::bundledIcon(QStringLiteral("no-such-icon")).isNull());
    const QIcon fallback = workspace.imageNamed(QStringLiteral("vigil-no-such-icon-anywhere"));
    ASSERT_FALSE(fallback.isNull());
    EXPECT_FALSE(fallback.pixmap(32, 32).isNull());
    EXPECT_FALSE(workspace.iconForFile(QStringLiteral("/etc")).isNull());
    EXPECT_FALSE(workspace.iconForFile(QStringLiteral("/no/such/thing.txt")).isNull());
}

// The file manager's reveal interface, served on a private bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    QStringList shown;
  public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        Q_UNUSED(startupId);
        shown += uris;
    }
};

class PrivateBus {
  public:
    PrivateBus() {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                              QStringLiteral("--print-address=1")});
        daemon_.start();
        if (!daemon_.waitForStarted(5000))
            return;
        test::qtWaitUntil([&] { return daemon_.canReadLine(); }, std::chrono::seconds(5));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    const QString& address() const { return address_; }

  private:
    QProcess daemon_;
    QString address_;
};

TEST_F(WorkspaceTest, RevealsFilesThroughTheFileManager) {
    PrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon could not be started";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "vigil-fm-service");
    QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "vigil-fm-client");
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(client.isConnected());

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("report.txt"));
    QFile(file).open(QIODevice::WriteOnly);
    FakeLauncher fake;
    fake.installed = {QStringLiteral("xdg-open")};
    DesktopWorkspace workspace(fake.launcher(), client);

    // Nobody serves the interface yet: one error line, then the folder opens instead.
    testing::internal::CaptureStderr();
    EXPECT_TRUE(workspace.selectFile(file, QString()));
    const bool fellBack = test::qtWaitUntil([&] { return !fake.started.empty(); });
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(fellBack);
    EXPECT_EQ(lines(said), 1) << said;
    EXPECT_EQ(fake.started[0].second,
              QStringList({QString::fromUtf8(QUrl::fromLocalFile(dir.path()).toEncoded())}));

    FakeFileManager manager;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    EXPECT_TRUE(workspace.selectFile(file, QString()));
    ASSERT_TRUE(test::qtWaitUntil([&] { return !manager.shown.isEmpty(); }));
    EXPECT_EQ(manager.shown,
              QStringList({QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded())}));
    EXPECT_EQ(fake.started.size(), 1u);

    testing::internal::CaptureStderr();
    EXPECT_FALSE(workspace.selectFile(dir.filePath(QStringLiteral("missing")), QString()));
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1);

    QDBusConnection::disconnectFromBus(QStringLiteral("vigil-fm-client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("vigil-fm-service"));
}

}  // namespace
}  // namespace vigil

#include "WorkspaceTest.moc"
