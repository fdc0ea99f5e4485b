// LauncherWriter on trees built in memory: its files against reviewed golden
// files and the real desktop entry validator.
#include "LauncherWriter.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>

#include "LauncherTestSupport.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"

using namespace vesk::legacy;
using namespace launchertest;
using vesk::legacy::plugins::launchers::LauncherWriter;

namespace {

// A launcher from name=value pairs; a name ending in "[]" makes a string
// list of the space-separated value, "Name@" a localised Name (value
// "default text|de-CH text").
StructuralNode& addLauncher(StructuralNode& list, const std::string& name,
                            const std::map<std::string, std::string>& properties) {
    StructuralNode* launcher = name.empty() ? &list : new StructuralNode(name);
    for (const auto& p : properties) {
        PropertyNode* property;
        if (p.first.back() == ']') {
            property = new PropertyNode(p.first.substr(0, p.first.size() - 2), TypeStringList);
            std::istringstream words(p.second);
            property->setListValue({std::istream_iterator<std::string>(words), {}}, "default");
        } else if (p.first == "Name@") {
            property = new PropertyNode("Name", TypeString);
            property->localise();
            property->setStringValue(p.second.substr(0, p.second.find('|')), "default");
            property->setStringValue(p.second.substr(p.second.find('|') + 1), "de-CH");
        } else {
            property = new PropertyNode(p.first, TypeString);
            property->setStringValue(p.second, "default");
        }
        launcher->adoptChild(*property);
    }
    if (launcher != &list) {
        list.adoptChild(*launcher);
    }
    return *launcher;
}

std::set<std::string> write(StructuralNode& list, const std::string& dir) {
    LauncherWriter writer(dir + "/");
    list.visit(writer);
    writer.saveLauncher();
    return writer.getFileNames();
}

TEST(LauncherWriterTest, WritesEachLauncherAsItsGoldenFile) {
    StructuralNode list("launcher_list");
    // Directly under the list: belongs to no launcher, changes none.
    addLauncher(list, "", {{"Type", "Link"}});
    // Through the user's folder MERXsub this would lead out of the folder.
    addLauncher(list, "sub/../../escape", {{"Exec", "rm -rf ~"}});
    addLauncher(list, "browser",
                {{"Name", "Browser"}, {"Type", "Link"}, {"Exec", "https://example.org/"}});
    addLauncher(list, "editor",
                {{"Name", "Editor"},
                 {"Exec", "gedit %U"},
                 {"Categories[]", "Utility TextEditor"},
                 {"Type", "Application"}});
    addLauncher(list, "helpdesk",
                {{"Name", "Helpdesk"}, {"Type", "Link"}, {"URL", "https://help.example.org/"}});
    addLauncher(list, "notes", {{"Name", "Notes"}, {"Type", "link"}, {"Exec", "xedit"}});
    addLauncher(list, "shell", {{"Name@", "Shell|Kommandozeile"}});
    TempDir dir;
    const std::string desktop = dir / "Desktop";
    std::filesystem::create_directories(desktop + "/MERXsub");
    LogCapture capture;
    const std::set<std::string> written = write(list, desktop);

    const Names expected = {"MERXbrowser.desktop", "MERXeditor.desktop", "MERXhelpdesk.desktop",
                            "MERXnotes.desktop", "MERXshell.desktop"};
    EXPECT_EQ(written, std::set<std::string>(expected.begin(), expected.end()));
    Names present = expected;
    present.push_back("MERXsub");
    EXPECT_EQ(listDir(desktop), present);
    EXPECT_EQ(listDir(dir.path), Names{"Desktop"});
    for (const std::string& name : expected) {
        EXPECT_EQ(readFile(desktop + "/" + name), golden("writer/" + name)) << name;
    }
    // An application with Name, Exec and Type, and a link configured through Exec.
    EXPECT_EQ(validate(desktop + "/MERXeditor.desktop"), "");
    EXPECT_EQ(validate(desktop + "/MERXbrowser.desktop"), "");
    const std::string& log = capture.text();
    EXPECT_NE(log.find("leave the desktop folder: sub/../../escape\n"), std::string::npos) << log;
    EXPECT_NE(log.find("outside any launcher: Type\n"), std::string::npos) << log;
}

TEST(LauncherWriterTest, WritesInNameOrderAndReportsFailedSaves) {
    StructuralNode list("launcher_list");
    for (const char* name : {"b", "a", "B"}) {
        addLauncher(list, name, {{"Exec", name}});
    }
    TempDir dir;
    LogCapture capture;
    // A failed save keeps the name, so that an older file of it stays.
    EXPECT_EQ(write(list, dir / "missing").size(), 3u);
    const std::string& log = capture.text();
    const std::string failed = "Could not save the launcher " + dir / "missing/MERX";
    ASSERT_NE(log.find(failed + "b.desktop"), std::string::npos) << log;
    EXPECT_LT(log.find(failed + "B.desktop"), log.find(failed + "a.desktop"));
    EXPECT_LT(log.find(failed + "a.desktop"), log.find(failed + "b.desktop"));
}

}  // namespace
