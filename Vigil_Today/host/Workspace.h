#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vigil {

// The desktop tools the views offer to open.
enum class SystemTool {
    systemMonitor,    // processes and their use of the machine
    disks,            // drives, partitions and their health
    diskUsage,        // what fills a volume
    networkSettings,  // the desktop's network connections
};

// What the views need from the desktop: opening addresses and files, the desktop's tools,
// showing a file in the file manager, icons and the clipboard. Main thread only.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // An absolute address with a scheme, handed to the desktop's opener.
    virtual bool openURL(const QString& url) = 0;
    // An existing file, opened with its default application.
    virtual bool openFile(const QString& path) = 0;
    // The name of the installed program that does a tool's job, as its desktop entry gives it
    // ("System Monitor", "Disks"); nothing when no such program is installed.
    virtual std::optional<QString> systemToolName(SystemTool tool) = 0;
    // Starts that program; a missing tool gives one error line.
    virtual bool launchSystemTool(SystemTool tool) = 0;
    // Shows the file selected in the file manager; `rootedAt` is only a hint.
    virtual bool selectFile(const QString& path, const QString& rootedAt) = 0;
    virtual QIcon iconForFile(const QString& path) = 0;
    // The icon file at an absolute path; else a themed icon by name, else the bundled icon of that
    // name, else the bundled generic one.
    virtual QIcon imageNamed(const QString& nameOrPath) = 0;
    // Clears the clipboard and puts plain text on it.
    virtual void copyToClipboard(const QString& text) = 0;
};

// One program that does a tool's job.
struct ToolCommand {
    QString program;
    QStringList arguments;
    // The name shown when the program's desktop entry gives none, or when the arguments make it
    // open only a part of a bigger program (a settings page).
    QString name;
};

// The programs that do a tool's job, best first.
std::vector<ToolCommand> systemToolCommands(SystemTool tool);
// For error lines: "system monitor", "disks"...
QString systemToolDescription(SystemTool tool);

// The desktop's workspace: xdg-open, the tools' programs on PATH named by their desktop entries,
// org.freedesktop.FileManager1.ShowItems on the session bus, the icon theme.
class DesktopWorkspace : public Workspace {
  public:
    struct Launcher {
        // The full path of an installed program, or empty.
        std::function<QString(const QString& program)> findExecutable;
        // Starts a program detached; false when it could not be started.
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
        // The Name of the desktop entry that runs a program, or empty.
        std::function<QString(const QString& program)> entryName;
    };
    static Launcher systemLauncher();

    explicit DesktopWorkspace(Launcher launcher = systemLauncher(),
                              QDBusConnection bus = QDBusConnection::sessionBus());

    bool openURL(const QString& url) override;
    bool openFile(const QString& path) override;
    std::optional<QString> systemToolName(SystemTool tool) override;
    bool launchSystemTool(SystemTool tool) override;
    bool selectFile(const QString& path, const QString& rootedAt) override;
    QIcon iconForFile(const QString& path) override;
    // Made once per name or path and kept: a copy shares the icon's pictures, so a view that sets
    // it again paints it from the picture cache instead of reading the file again. Main thread.
    QIcon imageNamed(const QString& nameOrPath) override;
    void copyToClipboard(const QString& text) override;

    // The bundled icon of that name (empty when there is none).
    static QIcon bundledIcon(const QString& name);

  private:
    bool run(const QString& what, const QString& program, const QStringList& arguments);
    // The first of the tool's programs that is installed, with its full path.
    struct FoundTool {
        ToolCommand command;
        QString path;
    };
    std::optional<FoundTool> findTool(SystemTool tool) const;

    QIcon findImage(const QString& nameOrPath) const;

    Launcher launcher_;
    QDBusConnection bus_;
    std::map<QString, QIcon> images_;
};

}  // namespace vigil
