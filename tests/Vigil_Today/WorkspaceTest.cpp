#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "host/Workspace.h"
#include "ui/QtTestApp.h"

namespace vigil {
namespace {

int lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Stands in for PATH and process start: records what would have been started.
struct FakeLauncher {
    std::set<QString> installed;
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
            }};
    }
};

class WorkspaceTest : public test::QtTest {};

TEST_F(WorkspaceTest, SystemToolNames) {
    EXPECT_EQ(systemToolName(QStringLiteral("/Applications/Utilities/Activity Monitor.app")),
              QStringLiteral("Activity Monitor"));
    EXPECT_EQ(systemToolName(QStringLiteral("/System/Library/PreferencePanes/Network.prefPane/")),
              QStringLiteral("Network"));
    EXPECT_EQ(systemToolCommands(QStringLiteral("Disk Utility"))[0].program,
              QStringLiteral("gnome-disks"));
    EXPECT_EQ(
        systemToolCommands(
            QStringLiteral("/System/Library/CoreServices/Applications/Storage Management.app"))
            .size(),
        2u);
    EXPECT_TRUE(systemToolCommands(QStringLiteral("Chess.app")).empty());
}

TEST_F(WorkspaceTest, LaunchesTheFirstInstalledStandIn) {
    FakeLauncher fake;
    fake.installed = {QStringLiteral("xfce4-taskmanager"), QStringLiteral("xterm")};
    DesktopWorkspace workspace(fake.launcher());
    EXPECT_TRUE(workspace.launchApplication(
        QStringLiteral("/Applications/Utilities/Activity Monitor.app")));
    ASSERT_EQ(fake.started.size(), 1u);
    EXPECT_EQ(fake.started[0].first, QStringLiteral("/usr/bin/xfce4-taskmanager"));

    fake.installed = {QStringLiteral("xterm")};
    EXPECT_TRUE(workspace.launchApplication(QStringLiteral("Activity Monitor")));
    EXPECT_EQ(fake.started.back().second, QStringList({"-e", "top"}));
}

TEST_F(WorkspaceTest, AMissingToolIsOneErrorLine) {
    FakeLauncher fake;
    DesktopWorkspace workspace(fake.launcher());
    for (const char* tool :
         {"/Applications/Utilities/Disk Utility.app", "Network Utility", "Chess.app"}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(workspace.launchApplication(QString::fromUtf8(tool)));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(lines(said), 1) << said;
        EXPECT_EQ(said.rfind("Error: launchApplication ", 0), 0u) << said;
    }
    EXPECT_TRUE(fake.started.empty());

    fake.installed = {QStringLiteral("gnome-disks")};
    fake.startSucceeds = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(workspace.launchApplication(QStringLiteral("Disk Utility")));
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1);
}

TEST_F(WorkspaceTest, TheRealPathHasNoSuchTool) {
    // With the system launcher and a PATH that holds none of the stand-ins.
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toUtf8());
    DesktopWorkspace workspace;
    testing::internal::CaptureStderr();
    const bool launched = workspace.launchApplication(QStringLiteral("Storage Management"));
    const std::string said = testing::internal::GetCapturedStderr();
    qputenv("PATH", path);
    EXPECT_FALSE(launched);
    EXPECT_EQ(lines(said), 1) << said;
    EXPECT_NE(said.find("baobab, filelight"), std::string::npos) << said;
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
    workspace.copyToPasteboard(QStringLiteral("192.0.2.7"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192.0.2.7"));
    workspace.copyToPasteboard(QString());
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
