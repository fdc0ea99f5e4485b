// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl check on broken layers kept as files: each names what is wrong
// with it, and the check must find that on the right line.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "Program.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(HOLLIN_SOURCE_DIR) + "/tools/hollinctl/tests/data/";

Program::Result check(const std::vector<std::string>& files) {
    std::vector<std::string> args = {HOLLINCTL_BINARY, "check"};
    args.insert(args.end(), files.begin(), files.end());
    return Program::run(args, {{"VESKLEG_LOG", ""}});
}

TEST(CheckTest, EachKindOfBrokenLayerIsFoundOnItsLine) {
    struct Case {
        const char* file;
        const char* where;  // after the file name
        const char* message;
    };
    const Case cases[] = {
        // The SAX1 parser itself names the open element's line as 0.
        {"malformed-unclosed-prop.xml",
         ":5:10: ", "malformed XML: Opening and ending tag mismatch: prop line 4 and node"},
        {"bare-ampersand.xml",
         ":3:38: ", "malformed XML: xmlParseEntityRef: no name (a bare \"&\": write &amp;)"},
        {"blanks-around-value.xml",
         ":4: ", "the value of <prop> \"browser\" has blanks or line breaks around it"},
        {"attributes-without-prefix.xml", ":3: ",
         "<prop> has no zel:name: the reader drops it with everything inside it (did you mean "
         "zel:name?)"},
        {"attributes-without-prefix.xml",
         ":4: ", "attribute type on <prop> \"favourites\" is ignored: did you mean zel:type?"},
        {"node-without-name.xml", ":4: ", "<node> has no zel:name: the reader drops it"},
        {"unknown-type-name.xml", ":4: ", "unknown type \"xs:float\" on <prop> \"ratio\""},
        {"tree-file-list-type.xml", ":3: ",
         "unknown type \"xs:string-list\" on <prop> \"browsers\" is read as xs:string (list "
         "types are written zel:string-list)"},
        {"unknown-operation.xml", ":4: ", "unknown operation zel:op=\"Remove\""},
        {"two-values-same-locale.xml",
         ":6: ", "a second value for locale \"de\" in <prop> \"title\" (the first is on line 4)"},
        {"default-locale-twice.xml", ":5: ", "a second value for locale \"default\""},
        {"finalised-then-replaced.xml",
         ":4: ", "finalising <prop> \"browser\" has no effect: a later element of this layer"},
        {"finalised-removal.xml", ":3: ", "finalising the removal <prop> \"browser\""},
        {"finalized-not-true.xml", ":3: ",
         "zel:finalized=\"1\" on <prop> \"browser\" finalises "
         "nothing"},
        {"finalised-british-spelling.xml", ":3: ",
         "zel:finalised on <prop> \"browser\" is a word "
         "of tree files"},
        {"content-of-removed-node.xml",
         ":4: ", "<prop> inside the removed <node> \"apps\" (line 3) is ignored"},
        {"prefixed-prop-element.xml", ":3: ", "unknown element <zel:prop> is ignored"},
        // Settings: the key no schema knows, with the nearest one it does.
        {"settings-misspelt-locked-key.xml", ":0: ",
         "/org/gnome/desktop/screensaver/lock-dely: no installed schema knows this key (did you "
         "mean /org/gnome/desktop/screensaver/lock-delay?)"},
        {"slash-in-name.xml",
         ":3: ", "<node> \"apps/editors\": a \"/\" in zel:name makes the node unreachable"},
    };
    for (const Case& test : cases) {
        const std::string file = kData + test.file;
        const Program::Result result = check({file});
        EXPECT_EQ(result.status, 1) << test.file;
        const std::string expected = file + test.where + test.message;
        EXPECT_NE(result.out.find(expected), std::string::npos)
            << "expected: " << expected << "\nfound:\n"
            << result.out;
    }
}

TEST(CheckTest, CleanFilesPassAndFinalisingInTheLastScopeIsFound) {
    const std::string sample = std::string(HOLLIN_SOURCE_DIR) +
                               "/examples/store/default/com.orvek.ferrun.applications.xml";
    const std::string finalising = kData + "finalises-browser.xml";
    const Program::Result clean = check({sample, finalising});
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_EQ(clean.out, sample + ": ok\n" + finalising + ": ok\n");

    // The same file as a user's layer: nothing is merged after it.
    const testsupport::TempDir scratch("hollinctl-check");
    const fs::path userLayer = scratch / "store/users/alice/org.test.xml";
    fs::create_directories(userLayer.parent_path());
    fs::copy_file(finalising, userLayer);
    const Program::Result last = check({sample, userLayer.string(), kData + "missing.xml"});
    EXPECT_EQ(last.status, 1);
    EXPECT_NE(last.out.find(sample + ": ok\n"), std::string::npos);
    EXPECT_NE(last.out.find(userLayer.string() + ":3: finalising <prop> \"browser\" has no "
                                                 "effect: this scope is merged last"),
              std::string::npos)
        << last.out;
    EXPECT_NE(last.err.find("cannot read " + kData + "missing.xml"), std::string::npos) << last.err;
    // A settings lock in a user's layer holds against the user's own changes.
    const fs::path userSettings = scratch / "store/users/alice/com.orvek.ferrun.settings.xml";
    fs::copy_file(kData + "settings-misspelt-locked-key.xml", userSettings);
    const Program::Result settings = check({userSettings.string()});
    EXPECT_EQ(settings.out.find("merged last"), std::string::npos) << settings.out;

    // Standard input, and the findings as JSON.
    const Program::Result json =
        Program::run({"sh", "-c",
                      std::string(HOLLINCTL_BINARY) + " check --format=json " + sample +
                          " - missing.xml < " + kData + "node-without-name.xml"},
                     {{"VESKLEG_LOG", ""}});
    EXPECT_EQ(json.status, 1) << json.err;
    const Program::Result summary = Program::run(
        {"python3", "-c",
         "import json, sys\n"
         "for f in json.loads(sys.argv[1])['files']:\n"
         "    print(f['file'], f['error'], [(x['line'], x['column']) for x in f['findings']])",
         json.out});
    EXPECT_EQ(summary.out, sample +
                               " None []\n- None [(4, None)]\nmissing.xml No such file or "
                               "directory []\n")
        << json.out << summary.err;
}

}  // namespace
