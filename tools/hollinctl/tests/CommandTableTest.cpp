// SPDX-License-Identifier: LGPL-2.1-or-later
// What is made from the command table: the shipped completion and manual page
// must be what the table makes now, and every command and option must reach
// the help, the completion and the manual page.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "CommandHelp.h"
#include "CommandTable.h"
#include "CompletionScript.h"
#include "ManualPage.h"
#include "TestFiles.h"

namespace {

using testsupport::readFile;
using vesk::legacy::hollinctl::CommandHelp;
using vesk::legacy::hollinctl::CommandTable;
using vesk::legacy::hollinctl::CompletionScript;
using vesk::legacy::hollinctl::ManualPage;

const char kRemake[] = "the table changed: run \"ninja -C build hollinctl-docs\"";

TEST(CommandTableTest, ShippedCompletionAndManualPageAreMadeFromTheTable) {
    EXPECT_EQ(readFile(HOLLIN_SOURCE_DIR "/dist/completion/hollinctl"), CompletionScript::text())
        << kRemake;
    const std::string page = readFile(HOLLIN_SOURCE_DIR "/docs/hollinctl.1.scd");
    ASSERT_NE(page.find(ManualPage::kBegin), std::string::npos);
    EXPECT_EQ(page, ManualPage::spliced(page)) << kRemake;
}

TEST(CommandTableTest, EveryCommandAndOptionReachesHelpCompletionAndManualPage) {
    const std::string help = CommandHelp::tool();
    const std::string completion = CompletionScript::text();
    const std::string page = ManualPage::generated();
    for (const CommandTable::Command& command : CommandTable::commands()) {
        const std::string name = command.name;
        EXPECT_NE(help.find("\n  " + name + " "), std::string::npos) << name;
        EXPECT_NE(completion.find("\n        " + name + ")"), std::string::npos) << name;
        EXPECT_NE(page.find("\n*" + name + "* "), std::string::npos) << name;
        EXPECT_NE(CommandHelp::command(command).find("hollinctl " + name), std::string::npos)
            << name;
        // A misspelt option in a row would make the command refuse it.
        for (const char* list : {command.options, CommandTable::kCommonOptions}) {
            std::istringstream options(list);
            for (std::string option; options >> option;) {
                EXPECT_NE(CommandTable::findOption(option), nullptr) << name << " " << option;
            }
        }
    }
    for (const CommandTable::Option& option : CommandTable::options()) {
        const std::string name = option.name;
        EXPECT_NE(help.find(name), std::string::npos) << name;
        EXPECT_NE(completion.find(" " + name + " "), std::string::npos) << name;
        EXPECT_NE(page.find("*" + name + "*"), std::string::npos) << name;
    }
}

}  // namespace
