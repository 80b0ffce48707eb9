#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <vector>

namespace vigil {

// What the views need from the desktop: opening addresses and files, the named system tools,
// showing a file in the file manager, icons and the clipboard. Main thread only.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // An absolute address with a scheme, handed to the desktop's opener.
    virtual bool openURL(const QString& url) = 0;
    // An existing file, opened with its default application.
    virtual bool openFile(const QString& path) = 0;
    // A named system tool ("Activity Monitor", "Disk Utility", "Storage Management",
    // "Network Utility", "Network"; a path ending in such a name and ".app" or ".prefPane" works
    // too): the first installed program that stands in for it. A missing tool gives one error line.
    virtual bool launchApplication(const QString& nameOrPath) = 0;
    // Shows the file selected in the file manager; `rootedAt` is only a hint.
    virtual bool selectFile(const QString& path, const QString& rootedAt) = 0;
    virtual QIcon iconForFile(const QString& path) = 0;
    // The icon file at an absolute path; else a themed icon by name, else the bundled icon of that
    // name, else the bundled generic one.
    virtual QIcon imageNamed(const QString& nameOrPath) = 0;
    // Clears the clipboard and puts plain text on it.
    virtual void copyToPasteboard(const QString& text) = 0;
};

// One way to start a stand-in for a system tool.
struct ToolCommand {
    QString program;
    QStringList arguments;
};

// The stand-ins for a named system tool, best first; empty for a name we do not know.
std::vector<ToolCommand> systemToolCommands(const QString& nameOrPath);
// "Disk Utility" from "/Applications/Utilities/Disk Utility.app", "Network" from
// "/System/Library/PreferencePanes/Network.prefPane/".
QString systemToolName(const QString& nameOrPath);

// The desktop's workspace: xdg-open, the stand-in tools on PATH,
// org.freedesktop.FileManager1.ShowItems on the session bus, the icon theme.
class DesktopWorkspace : public Workspace {
  public:
    struct Launcher {
        // The full path of an installed program, or empty.
        std::function<QString(const QString& program)> findExecutable;
        // Starts a program detached; false when it could not be started.
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
    };
    static Launcher systemLauncher();

    explicit DesktopWorkspace(Launcher launcher = systemLauncher(),
                              QDBusConnection bus = QDBusConnection::sessionBus());

    bool openURL(const QString& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& nameOrPath) override;
    bool selectFile(const QString& path, const QString& rootedAt) override;
    QIcon iconForFile(const QString& path) override;
    // Made once per name or path and kept: a copy shares the icon's pictures, so a view that sets
    // it again paints it from the picture cache instead of reading the file again. Main thread.
    QIcon imageNamed(const QString& nameOrPath) override;
    void copyToPasteboard(const QString& text) override;

    // The bundled icon of that name (empty when there is none).
    static QIcon bundledIcon(const QString& name);

  private:
    bool run(const QString& what, const QString& program, const QStringList& arguments);

    QIcon findImage(const QString& nameOrPath) const;

    Launcher launcher_;
    QDBusConnection bus_;
    std::map<QString, QIcon> images_;
};

}  // namespace vigil
