#include <filesystem>
#include <fstream>

#include "platform/DesktopEntries.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

TEST(DesktopEntriesTest, SplitsExecLines) {
    EXPECT_EQ(splitExec(R"("/opt/My App/bin/app" --new-window %U)"),
              (Args{"/opt/My App/bin/app", "--new-window"}));
    EXPECT_EQ(splitExec(R"(sh -c "echo \"hi \$HOME\" \\ done")"),
              (Args{"sh", "-c", R"(echo "hi $HOME" \ done)"}));
    EXPECT_EQ(splitExec("prog --level=100%% %f %i %c"), (Args{"prog", "--level=100%"}));
    EXPECT_EQ(splitExec("  prog\t  arg  "), (Args{"prog", "arg"}));
    EXPECT_EQ(splitExec(R"("unterminated quote)"), (Args{"unterminated quote"}));
    EXPECT_TRUE(splitExec("").empty());
    EXPECT_TRUE(splitExec("%U").empty());
}

TEST(DesktopEntriesTest, ParsesEntriesWithOddFields) {
    auto entry = parseDesktopEntry(
        "# comment\n[Desktop Entry]\nType=Application\nName=Text\\sEditor\nName[de]=Texteditor\n"
        "Icon = accessories-text-editor \nExec=env GTK_THEME=Adwaita LANG=C "
        "\"/usr/bin/gnome text editor\" %U\nStartupWMClass=Gnome-text-editor\n"
        "[Desktop Action new-window]\nExec=other --new\nName=New\n",
        "org.gnome.TextEditor", {"de_AT", "de"});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->id, "org.gnome.TextEditor");
    EXPECT_EQ(entry->name, "Texteditor");
    EXPECT_EQ(entry->icon, "accessories-text-editor");
    EXPECT_EQ(entry->program, "gnome text editor");
    EXPECT_EQ(entry->startupWMClass, "Gnome-text-editor");
    EXPECT_EQ(
        parseDesktopEntry("[Desktop Entry]\nType=Application\nName=Text\\sEditor\n", "x")->name,
        "Text Editor");

    // No Exec: still an application, named only by its window class.
    entry =
        parseDesktopEntry("[Desktop Entry]\nType=Application\nName=Web\nStartupWMClass=web\n", "w");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->program, "");
    // A program that only starts another names nothing.
    entry = parseDesktopEntry("[Desktop Entry]\nType=Application\nName=S\nExec=sh -c 'x'\n", "s");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->program, "");
    entry = parseDesktopEntry(
        "[Desktop Entry]\nType=Application\nName=Python\nExec=/usr/bin/python3.11\n", "p");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->program, "");
    entry = parseDesktopEntry("[Desktop Entry]\nType=Application\nName=N\nNoDisplay=true\nExec=n\n",
                              "n");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->noDisplay);
    EXPECT_EQ(entry->program, "n");
    entry = parseDesktopEntry("[Desktop Entry]\nHidden=true\n", "h");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->hidden);

    EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Link\nName=L\nURL=x\n", "l"));
    EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Application\nExec=noname\n", "q"));
    EXPECT_FALSE(parseDesktopEntry("Type=Application\nName=NoGroup\n", "g"));
    EXPECT_FALSE(parseDesktopEntry("\xff\xfe garbage \0 bytes", "b"));
}

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/vigil-desktop-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path); }
    void write(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(path + "/" + relative).parent_path());
        std::ofstream(path + "/" + relative) << text;
    }
    std::string path;
};

TEST(DesktopEntriesTest, DirectoriesInOrderHiddenDeletesAndRefresh) {
    TempDir dir;
    dir.write("home/apps/editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Mine\nExec=myeditor\n");
    dir.write("home/apps/gone.desktop", "[Desktop Entry]\nHidden=true\n");
    dir.write("share/apps/editor.desktop",
              "[Desktop Entry]\nType=Application\nName=System\nExec=editor\n");
    dir.write("share/apps/gone.desktop",
              "[Desktop Entry]\nType=Application\nName=Gone\nExec=gone\n");
    dir.write("share/apps/kde/konsole.desktop",
              "[Desktop Entry]\nType=Application\nName=Konsole\nExec=konsole\n"
              "StartupWMClass=KonsoleWindow\n");
    DesktopEntries entries(dir.path, {"/home/apps", "/share/apps", "/missing/apps"});
    EXPECT_TRUE(entries.refresh());
    EXPECT_FALSE(entries.refresh());  // nothing changed
    ASSERT_NE(entries.byId("editor"), nullptr);
    EXPECT_EQ(entries.byId("editor")->name, "Mine");
    EXPECT_EQ(entries.match("editor"), nullptr);  // the shadowed entry names nothing
    EXPECT_EQ(entries.match("myeditor")->name, "Mine");
    EXPECT_EQ(entries.byId("gone"), nullptr);
    EXPECT_EQ(entries.match("gone"), nullptr);
    ASSERT_NE(entries.byId("kde-konsole"), nullptr);
    EXPECT_EQ(entries.match("konsolewindow")->id, "kde-konsole");
    EXPECT_EQ(entries.match(""), nullptr);

    dir.write("share/apps/new.desktop",
              "[Desktop Entry]\nType=Application\nName=New\nExec=newapp\n");
    EXPECT_TRUE(entries.refresh());
    ASSERT_NE(entries.match("newapp"), nullptr);
}

TEST(DesktopEntriesTest, RefreshSeesEditsInPlaceSubfoldersAndDirectoriesMadeLater) {
    TempDir dir;
    dir.write("share/apps/editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor\n");
    dir.write("share/apps/kde/konsole.desktop",
              "[Desktop Entry]\nType=Application\nName=Konsole\nExec=konsole\n");
    DesktopEntries entries(dir.path, {"/home/apps", "/share/apps"});
    ASSERT_TRUE(entries.refresh());
    EXPECT_FALSE(entries.refresh());

    // Written in place: the directory's own time does not change.
    dir.write("share/apps/editor.desktop",
              "[Desktop Entry]\nType=Application\nName=Better Editor\nExec=editor\n");
    EXPECT_TRUE(entries.refresh());
    ASSERT_NE(entries.byId("editor"), nullptr);
    EXPECT_EQ(entries.byId("editor")->name, "Better Editor");
    EXPECT_FALSE(entries.refresh());

    dir.write("share/apps/kde/dolphin.desktop",
              "[Desktop Entry]\nType=Application\nName=Dolphin\nExec=dolphin\n");
    EXPECT_TRUE(entries.refresh());
    EXPECT_NE(entries.byId("kde-dolphin"), nullptr);

    // The user's directory appears once something is installed there, and is then watched.
    dir.write("home/apps/mine.desktop",
              "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n");
    EXPECT_TRUE(entries.refresh());
    EXPECT_NE(entries.byId("mine"), nullptr);
    EXPECT_FALSE(entries.refresh());
    fs::remove(dir.path + "/home/apps/mine.desktop");
    EXPECT_TRUE(entries.refresh());
    EXPECT_EQ(entries.byId("mine"), nullptr);
    EXPECT_FALSE(entries.refresh());
}

}  // namespace
}  // namespace vigil
