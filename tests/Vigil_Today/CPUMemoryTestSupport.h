#pragma once

#include <QCoreApplication>
#include <QIcon>
#include <QImage>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/Workspace.h"
#include "settings/Defaults.h"
#include "support/QtTestApp.h"
#include "support/TestTree.h"
#include "system/Applications.h"
#include "system/Battery.h"
#include "system/CPU.h"
#include "system/GPU.h"
#include "system/Memory.h"
#include "system/System.h"
#include "themes/Theme.h"

namespace vigil::test {

// A workspace that records what the views ask of it and opens nothing.
class RecordingWorkspace : public vigil::Workspace {
  public:
    std::vector<QString> opened, icons;
    std::vector<SystemTool> launched;
    // The tools "installed", by the name the desktop gives them.
    std::map<SystemTool, QString> tools{{SystemTool::systemMonitor, "System Monitor"}};
    bool openURL(const QString& url) override {
        opened.push_back(url);
        return true;
    }
    bool openFile(const QString& path) override {
        opened.push_back(path);
        return true;
    }
    std::optional<QString> systemToolName(SystemTool tool) override {
        const auto found = tools.find(tool);
        return found != tools.end() ? std::optional<QString>(found->second) : std::nullopt;
    }
    bool launchSystemTool(SystemTool tool) override {
        launched.push_back(tool);
        return tools.count(tool) > 0;
    }
    bool selectFile(const QString&, const QString&) override { return true; }
    QIcon iconForFile(const QString& path) override {
        icons.push_back(path);
        return QIcon();
    }
    QIcon imageNamed(const QString& name) override {
        icons.push_back(name);
        return QIcon();
    }
    void copyToClipboard(const QString&) override {}
};

// A settings suite of its own in a temporary folder.
struct TempDefaults {
    TempDefaults() : tree(), defaults("vigil-test-suite", std::filesystem::path(tree.root)) {}
    TempTree tree;
    Defaults defaults;
};

// One fixture machine for the detail views: processor, graphics and memory from fixture trees
// (the files the figures come from rewritten by the tests), the applications of the
// "apps-cgroup" session, and a machine without battery.
struct FixtureMachine {
    FixtureMachine() : tree("zram"), appsTree("apps-cgroup"), batteryTree("power-no-battery") {
        namespace fs = std::filesystem;
        const auto overwrite = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
        fs::copy(fixturePath("two-gpu"), tree.root, overwrite);
        fs::copy(fixturePath("thermal-throttled"), tree.root, overwrite);
        cpu = std::make_shared<CPU>(tree.root);
        gpu = std::make_shared<GPU>(tree.root);
        mem = std::make_shared<Memory>(tree.root);
        struct stat info {};
        ::stat((appsTree.root + "/proc/1200").c_str(), &info);
        Applications::Options options;
        options.workspace.root = appsTree.root;
        options.workspace.applicationDirectories =
            std::vector<std::string>{"/usr/share/applications"};
        options.workspace.uid = info.st_uid;
        options.interval = 0;
        apps = std::make_shared<Applications>(options);
        Battery::Options power;
        power.root = batteryTree.root;
        power.watchKernel = false;
        battery = std::make_shared<Battery>(power);
        System::Resources resources;
        resources.cpu = cpu;
        resources.gpu = gpu;
        resources.mem = mem;
        resources.apps = apps;
        resources.battery = battery;
        // Long intervals: the tests sample by hand; the tasks only show what was started.
        system = std::make_unique<System>(resources, std::vector<System::TaskSpec>{
                                                         {cpu, 3600, System::Group::system, false},
                                                         {apps, 3600, System::Group::system, true},
                                                         {gpu, 3600, System::Group::system, true},
                                                     });
    }
    ~FixtureMachine() { system->stop(); }

    // The first /proc/stat line with these tick counts, then a sample over them.
    void cpuTicks(int user, int sys, int idle) {
        tree.write("proc/stat", "cpu  1000 0 1000 10000 0 0 0 0 0 0\nbtime 1700000000\n");
        cpu->update();
        std::ostringstream line;
        line << "cpu  " << 1000 + user << " 0 " << 1000 + sys << " " << 10000 + idle
             << " 0 0 0 0 0 0\nbtime 1700000000\n";
        tree.write("proc/stat", line.str());
        cpu->update();
    }

    // Sets one field (1-based, as proc(5) counts) of /proc/<pid>/stat in the applications tree.
    void setProcField(int pid, const std::string& file, size_t field, const std::string& value) {
        const std::string rel = "proc/" + std::to_string(pid) + "/" + file;
        std::istringstream in(readText(appsTree.path(rel)));
        std::vector<std::string> fields;
        for (std::string word; in >> word;)
            fields.push_back(word);
        if (field - 1 < fields.size())
            fields[field - 1] = value;
        std::string out;
        for (const auto& word : fields)
            out += (out.empty() ? "" : " ") + word;
        appsTree.write(rel, out + "\n");
    }

    System::Task* task(const SystemResource& resource) const {
        for (const auto& task : system->tasks()) {
            if (&task->resource() == &resource)
                return task.get();
        }
        return nullptr;
    }

    TempTree tree, appsTree, batteryTree;
    std::shared_ptr<CPU> cpu;
    std::shared_ptr<GPU> gpu;
    std::shared_ptr<Memory> mem;
    std::shared_ptr<Applications> apps;
    std::shared_ptr<Battery> battery;
    std::unique_ptr<System> system;
};

// Waits for the running fades of the widget tree to end.
inline void settleAnimations(QWidget& root) {
    qtWaitUntil([&] {
        for (auto* animation : root.findChildren<QVariantAnimation*>()) {
            if (animation->state() == QAbstractAnimation::Running)
                return false;
        }
        return true;
    });
}

// Renders a view on the panel's background of the theme (320 px wide) into the gallery.
inline QString renderOnTheme(QWidget* view, const Theme& theme, const char* name) {
    QWidget panel;
    panel.setFixedWidth(320);
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* previousParent = view->parentWidget();
    layout->addWidget(view);
    if (theme.isDark) {
        theme.updateBackgroundColor(&panel);
    } else {
        // The host's own light background.
        panel.setAutoFillBackground(true);
        QPalette palette = panel.palette();
        palette.setColor(QPalette::Window, QColor(246, 246, 246));
        panel.setPalette(palette);
    }
    panel.adjustSize();
    // adjustSize() keeps a window within two thirds of the screen: a long view is shown whole.
    const int whole =
        panel.hasHeightForWidth() ? panel.heightForWidth(320) : panel.sizeHint().height();
    panel.resize(320, std::max(panel.height(), whole));
    panel.show();
    settleAnimations(panel);
    QCoreApplication::processEvents();
    const QString path =
        galleryDir("Vigil_Today") + QStringLiteral("/") + QString::fromLatin1(name) + ".png";
    render(panel).save(path);
    std::printf("gallery: %s\n", qPrintable(path));
    panel.hide();
    layout->removeWidget(view);
    view->setParent(previousParent);
    return path;
}

}  // namespace vigil::test
