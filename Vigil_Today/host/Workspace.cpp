#include "host/Workspace.h"

#include <QClipboard>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>

#include "C/system/ErrorReport.h"
#include "platform/DesktopEntries.h"
#include "ui/Controls.h"

static void initHostResources() {
    Q_INIT_RESOURCE(host);
}

namespace vigil {

namespace {

void errorLine(const QString& call, const QString& text) {
    reportError(call.toStdString(), text.toStdString());
}

}  // namespace

std::vector<ToolCommand> systemToolCommands(SystemTool tool) {
    switch (tool) {
        case SystemTool::systemMonitor:
            return {{"gnome-system-monitor", {}, "System Monitor"},
                    {"plasma-systemmonitor", {}, "System Monitor"},
                    {"mate-system-monitor", {}, "System Monitor"},
                    {"xfce4-taskmanager", {}, "Task Manager"},
                    {"lxtask", {}, "Task Manager"},
                    {"x-terminal-emulator", {"-e", "top"}, "top"}};
        case SystemTool::disks:
            return {{"gnome-disks", {}, "Disks"}, {"partitionmanager", {}, "Partition Manager"}};
        case SystemTool::diskUsage:
            return {{"baobab", {}, "Disk Usage Analyzer"},
                    {"filelight", {}, "Filelight"},
                    {"qdirstat", {}, "QDirStat"}};
        case SystemTool::networkSettings:
            return {{"gnome-control-center", {"network"}, "Network Settings"},
                    {"systemsettings", {"kcm_networkmanagement"}, "Network Settings"},
                    {"nm-connection-editor", {}, "Network Connections"}};
    }
    return {};
}

QString systemToolDescription(SystemTool tool) {
    switch (tool) {
        case SystemTool::systemMonitor:
            return QStringLiteral("system monitor");
        case SystemTool::disks:
            return QStringLiteral("disks");
        case SystemTool::diskUsage:
            return QStringLiteral("disk usage");
        case SystemTool::networkSettings:
            return QStringLiteral("network settings");
    }
    return QString();
}

DesktopWorkspace::Launcher DesktopWorkspace::systemLauncher() {
    // Read on first use and kept: refresh() reads the folders again only when they changed.
    auto entries = std::make_shared<std::unique_ptr<DesktopEntries>>();
    return Launcher{[](const QString& program) { return QStandardPaths::findExecutable(program); },
                    [](const QString& program, const QStringList& arguments) {
                        return QProcess::startDetached(program, arguments);
                    },
                    [entries](const QString& program) {
                        if (!*entries)
                            *entries = std::make_unique<DesktopEntries>();
                        (*entries)->refresh();
                        const DesktopEntry* entry = (*entries)->match(program.toStdString());
                        return entry ? QString::fromStdString(entry->name) : QString();
                    }};
}

DesktopWorkspace::DesktopWorkspace(Launcher launcher, QDBusConnection bus)
    : launcher_(std::move(launcher)), bus_(std::move(bus)) {
    initHostResources();
}

bool DesktopWorkspace::run(const QString& what, const QString& program,
                           const QStringList& arguments) {
    const QString path = launcher_.findExecutable(program);
    if (path.isEmpty()) {
        errorLine(what, program + QStringLiteral(" is not installed"));
        return false;
    }
    if (!launcher_.startDetached(path, arguments)) {
        errorLine(what, QStringLiteral("could not start ") + path);
        return false;
    }
    return true;
}

bool DesktopWorkspace::openURL(const QString& url) {
    const auto address = checkedAddress(url, "openURL");
    if (!address)
        return false;
    return run(QStringLiteral("openURL"), QStringLiteral("xdg-open"), {*address});
}

bool DesktopWorkspace::openFile(const QString& path) {
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists()) {
        errorLine(QStringLiteral("openFile"), QStringLiteral("no such file: ") + path);
        return false;
    }
    const QString url = QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded());
    return run(QStringLiteral("openFile"), QStringLiteral("xdg-open"), {url});
}

std::optional<DesktopWorkspace::FoundTool> DesktopWorkspace::findTool(SystemTool tool) const {
    for (const ToolCommand& command : systemToolCommands(tool)) {
        const QString path = launcher_.findExecutable(command.program);
        if (!path.isEmpty())
            return FoundTool{command, path};
    }
    return std::nullopt;
}

std::optional<QString> DesktopWorkspace::systemToolName(SystemTool tool) {
    const auto found = findTool(tool);
    if (!found)
        return std::nullopt;
    // A program started on one of its pages is named after the page, not the whole program.
    if (found->command.arguments.isEmpty() && launcher_.entryName) {
        const QString name = launcher_.entryName(found->command.program);
        if (!name.isEmpty())
            return name;
    }
    return found->command.name;
}

bool DesktopWorkspace::launchSystemTool(SystemTool tool) {
    const QString call = QStringLiteral("launchSystemTool ") + systemToolDescription(tool);
    const auto found = findTool(tool);
    if (!found) {
        QStringList programs;
        for (const ToolCommand& command : systemToolCommands(tool))
            programs.append(command.program);
        errorLine(call, QStringLiteral("none of these is installed: ") +
                            programs.join(QStringLiteral(", ")));
        return false;
    }
    if (!launcher_.startDetached(found->path, found->command.arguments)) {
        errorLine(call, QStringLiteral("could not start ") + found->path);
        return false;
    }
    return true;
}

bool DesktopWorkspace::selectFile(const QString& path, const QString& rootedAt) {
    Q_UNUSED(rootedAt);
    const QFileInfo file(path);
    if (path.isEmpty() || !file.exists()) {
        errorLine(QStringLiteral("selectFile"), QStringLiteral("no such file: ") + path);
        return false;
    }
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(file.absoluteFilePath()).toEncoded());
    const QString folder = QString::fromUtf8(QUrl::fromLocalFile(file.absolutePath()).toEncoded());
    if (!bus_.isConnected()) {
        errorLine(QStringLiteral("selectFile"),
                  QStringLiteral("no session bus; opening the folder"));
        return run(QStringLiteral("selectFile"), QStringLiteral("xdg-open"), {folder});
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), qApp);
    Launcher launcher = launcher_;
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, qApp,
        [watcher, folder, launcher](QDBusPendingCallWatcher*) {
            watcher->deleteLater();
            if (!watcher->isError())
                return;
            errorLine(QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                      watcher->error().message() + QStringLiteral("; opening the folder"));
            const QString opener = launcher.findExecutable(QStringLiteral("xdg-open"));
            if (opener.isEmpty() || !launcher.startDetached(opener, {folder})) {
                errorLine(QStringLiteral("selectFile"), QStringLiteral("could not open ") + folder);
            }
        });
    return true;
}

QIcon DesktopWorkspace::bundledIcon(const QString& name) {
    initHostResources();
    const QString file = QStringLiteral(":/vigil/icons/") + name + QStringLiteral(".svg");
    if (!QFileInfo::exists(file))
        return QIcon();
    return QIcon(file);
}

QIcon DesktopWorkspace::imageNamed(const QString& nameOrPath) {
    if (const auto found = images_.find(nameOrPath); found != images_.end())
        return found->second;
    QIcon icon = findImage(nameOrPath);
    images_.emplace(nameOrPath, icon);
    return icon;
}

QIcon DesktopWorkspace::findImage(const QString& name) const {
    if (QFileInfo(name).isAbsolute())
        return QIcon(name);
    QIcon icon = QIcon::fromTheme(name);
    if (!icon.isNull())
        return icon;
    icon = bundledIcon(name);
    if (!icon.isNull())
        return icon;
    return bundledIcon(QStringLiteral("application"));
}

QIcon DesktopWorkspace::iconForFile(const QString& path) {
    const QFileInfo file(path);
    const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(file);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (!icon.isNull())
        return icon;
    icon = bundledIcon(file.isDir() ? QStringLiteral("folder") : QStringLiteral("document"));
    if (!icon.isNull())
        return icon;
    return bundledIcon(QStringLiteral("application"));
}

void DesktopWorkspace::copyToClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

}  // namespace vigil
