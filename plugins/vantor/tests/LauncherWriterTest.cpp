// LauncherWriter on trees built in memory: the files it writes, compared with
// reviewed golden files and checked by the real desktop entry validator.
#include "LauncherWriter.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LauncherTestSupport.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

using namespace vesk::legacy;
using namespace launchertest;
using vesk::legacy::plugins::launchers::LauncherWriter;

namespace {

StructuralNode& addLauncher(StructuralNode& list, const std::string& name) {
    auto* launcher = new StructuralNode(name);
    list.adoptChild(*launcher);
    return *launcher;
}

void addProperty(StructuralNode& parent, const std::string& name, const std::string& value) {
    auto* property = new PropertyNode(name, TypeString);
    property->setStringValue(value, "default");
    parent.adoptChild(*property);
}

void addList(StructuralNode& parent, const std::string& name,
             const std::vector<std::string>& values) {
    auto* property = new PropertyNode(name, TypeStringList);
    property->setListValue(values, "default");
    parent.adoptChild(*property);
}

void addLocalised(StructuralNode& parent, const std::string& name,
                  const std::map<std::string, std::string>& values) {
    auto* property = new PropertyNode(name, TypeString);
    property->localise();
    for (const auto& value : values) {
        property->setStringValue(value.second, value.first);
    }
    parent.adoptChild(*property);
}

// Writes the list into dir the way the plug-in does and returns the names it
// reports as written.
std::set<std::string> write(StructuralNode& list, const std::string& dir) {
    LauncherWriter writer(dir + "/");
    list.visit(writer);
    writer.saveLauncher();
    return writer.getFileNames();
}

TEST(LauncherWriterTest, WritesEachLauncherAsItsGoldenFile) {
    StructuralNode list("launcher_list");
    // A property directly under the list belongs to no launcher.
    addProperty(list, "Type", "Link");
    // Refused: through the user's folder MERXsub it would lead out of the
    // desktop folder.
    StructuralNode& escape = addLauncher(list, "sub/../../escape");
    addProperty(escape, "Exec", "rm -rf ~");
    StructuralNode& browser = addLauncher(list, "browser");
    addProperty(browser, "Name", "Browser");
    addProperty(browser, "Type", "Link");
    addProperty(browser, "Exec", "https://example.org/");
    StructuralNode& editor = addLauncher(list, "editor");
    addProperty(editor, "Name", "Editor");
    addProperty(editor, "Exec", "gedit %U");
    addList(editor, "Categories", {"Utility", "TextEditor"});
    StructuralNode& helpdesk = addLauncher(list, "helpdesk");
    addProperty(helpdesk, "Name", "Helpdesk");
    addProperty(helpdesk, "Type", "Link");
    addProperty(helpdesk, "URL", "https://help.example.org/");
    StructuralNode& notes = addLauncher(list, "notes");
    addProperty(notes, "Name", "Notes");
    addProperty(notes, "Type", "link");
    addProperty(notes, "Exec", "xedit");
    StructuralNode& shell = addLauncher(list, "shell");
    addLocalised(shell, "Name", {{"default", "Shell"}, {"de-CH", "Kommandozeile"}});
    addProperty(shell, "Type", "Application");

    TempDir dir;
    const std::string desktop = dir / "Desktop";
    std::filesystem::create_directories(desktop + "/MERXsub");
    std::string log;
    std::set<std::string> written;
    {
        LogCapture capture;
        written = write(list, desktop);
        log = capture.text();
    }

    const std::vector<std::string> expected = {"MERXbrowser.desktop", "MERXeditor.desktop",
                                               "MERXhelpdesk.desktop", "MERXnotes.desktop",
                                               "MERXshell.desktop"};
    std::vector<std::string> present = expected;
    present.push_back("MERXsub");
    EXPECT_EQ(listDir(desktop), present);
    EXPECT_EQ(written, std::set<std::string>(expected.begin(), expected.end()));
    EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"Desktop"});
    for (const std::string& name : expected) {
        EXPECT_EQ(readFile(desktop + "/" + name), golden("writer/" + name)) << name;
    }
    EXPECT_NE(log.find("Skipping a launcher whose name would leave the desktop folder: "
                       "sub/../../escape\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("outside any launcher: Type\n"), std::string::npos) << log;
}

TEST(LauncherWriterTest, ApplicationAndExecConfiguredLinkPassTheValidator) {
    if (!std::filesystem::exists("/usr/bin/desktop-file-validate")) {
        FAIL() << "desktop-file-validate is missing: install desktop-file-utils";
    }
    StructuralNode list("launcher_list");
    StructuralNode& app = addLauncher(list, "app");
    addProperty(app, "Name", "Calculator");
    addProperty(app, "Exec", "xcalc");
    addProperty(app, "Type", "Application");
    StructuralNode& link = addLauncher(list, "link");
    addProperty(link, "Name", "Intranet");
    addProperty(link, "Type", "Link");
    addProperty(link, "Exec", "http://intranet.example.com/");
    TempDir dir;
    write(list, dir.path());
    EXPECT_EQ(validate(dir / "MERXapp.desktop"), "");
    EXPECT_EQ(validate(dir / "MERXlink.desktop"), "");
}

TEST(LauncherWriterTest, WritesInAscendingNameOrderAndReportsFailedSaves) {
    StructuralNode list("launcher_list");
    addProperty(addLauncher(list, "b"), "Exec", "b");
    addProperty(addLauncher(list, "a"), "Exec", "a");
    addProperty(addLauncher(list, "B"), "Exec", "B");
    TempDir dir;
    const std::string missing = dir / "missing";
    LogCapture capture;
    const std::set<std::string> written = write(list, missing);
    const std::string& log = capture.text();

    const std::string prefix = "Could not save the launcher " + missing + "/MERX";
    const size_t upperB = log.find(prefix + "B.desktop");
    const size_t a = log.find(prefix + "a.desktop");
    const size_t b = log.find(prefix + "b.desktop");
    ASSERT_NE(b, std::string::npos) << log;
    EXPECT_LT(upperB, a);
    EXPECT_LT(a, b);
    // A failed save keeps the name: an older file of that launcher must stay.
    EXPECT_EQ(written.size(), 3u);
}

TEST(LauncherWriterTest, EmptyListWritesNothing) {
    StructuralNode list("launcher_list");
    TempDir dir;
    {
        LauncherWriter writer(dir.path() + "/");
        list.visit(writer);
        EXPECT_TRUE(writer.getFileNames().empty());
    }
    EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST(LauncherWriterTest, DestructorSavesTheLastLauncher) {
    StructuralNode list("launcher_list");
    addProperty(addLauncher(list, "last"), "Name", "Last");
    TempDir dir;
    {
        LauncherWriter writer(dir.path() + "/");
        list.visit(writer);
        EXPECT_TRUE(listDir(dir.path()).empty());
    }
    EXPECT_EQ(readFile(dir / "MERXlast.desktop"), "[Desktop Entry]\nName=Last\nType=Application\n");
}

}  // namespace
