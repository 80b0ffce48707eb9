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

#include "ui/Controls.h"

static void initHostResources() {
    Q_INIT_RESOURCE(host);
}

namespace vigil {

namespace {

void errorLine(const QString& call, const QString& text) {
    std::fprintf(stderr, "Error: %s -- %s\n", qPrintable(call), qPrintable(text));
}

}  // namespace

QString systemToolName(const QString& nameOrPath) {
    QString name = nameOrPath.trimmed();
    while (name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.section(QLatin1Char('/'), -1);
    for (const QString& suffix : {QStringLiteral(".app"), QStringLiteral(".prefPane")}) {
        if (name.endsWith(suffix))
            name.chop(suffix.size());
    }
    return name;
}

std::vector<ToolCommand> systemToolCommands(const QString& nameOrPath) {
    const QString name = systemToolName(nameOrPath);
    if (name == QLatin1String("Activity Monitor")) {
        return {{"gnome-system-monitor", {}},      {"plasma-systemmonitor", {}},
                {"xfce4-taskmanager", {}},         {"x-terminal-emulator", {"-e", "top"}},
                {"gnome-terminal", {"--", "top"}}, {"konsole", {"-e", "top"}},
                {"xfce4-terminal", {"-x", "top"}}, {"xterm", {"-e", "top"}}};
    }
    if (name == QLatin1String("Disk Utility"))
        return {{"gnome-disks", {}}};
    if (name == QLatin1String("Storage Management"))
        return {{"baobab", {}}, {"filelight", {}}};
    if (name == QLatin1String("Network Utility") || name == QLatin1String("Network")) {
        return {{"nm-connection-editor", {}},
                {"gnome-control-center", {"network"}},
                {"systemsettings", {"kcm_networkmanagement"}}};
    }
    return {};
}

DesktopWorkspace::Launcher DesktopWorkspace::systemLauncher() {
    return Launcher{[](const QString& program) { return QStandardPaths::findExecutable(program); },
                    [](const QString& program, const QStringList& arguments) {
                        return QProcess::startDetached(program, arguments);
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

bool DesktopWorkspace::launchApplication(const QString& nameOrPath) {
    const QString name = systemToolName(nameOrPath);
    const std::vector<ToolCommand> commands = systemToolCommands(nameOrPath);
    const QString call = QStringLiteral("launchApplication ") + name;
    if (commands.empty()) {
        errorLine(call, QStringLiteral("no stand-in known for this tool"));
        return false;
    }
    QStringList tried;
    for (const ToolCommand& command : commands) {
        const QString path = launcher_.findExecutable(command.program);
        tried.append(command.program);
        if (path.isEmpty())
            continue;
        if (launcher_.startDetached(path, command.arguments))
            return true;
        errorLine(call, QStringLiteral("could not start ") + path);
        return false;
    }
    errorLine(call,
              QStringLiteral("none of these is installed: ") + tried.join(QStringLiteral(", ")));
    return false;
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

void DesktopWorkspace::copyToPasteboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

}  // namespace vigil
