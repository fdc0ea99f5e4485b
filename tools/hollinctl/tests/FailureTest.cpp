// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl end to end: listing, escaping of untrusted text, the failures
// and their statuses, the kept copies and help.
#include "HollinctlFixture.h"

namespace {

using namespace hollinctltest;

TEST_F(HollinctlTest, ListWithPrefixAndOtherEntities) {
    writeThreeLayers();
    writeLayer("default", "org.test.apps", "<zel:component-data/>");
    writeLayer("entities/kiosk.test", "com.other.kiosk", "<zel:component-data/>");

    EXPECT_EQ(tool({"list"}).out, "org.test.apps\norg.test.desktop\n");
    EXPECT_EQ(tool({"list", "org.test.d"}).out, "org.test.desktop\n");
    EXPECT_EQ(tool({"list", "--entity", "kiosk.test"}).out,
              "com.other.kiosk\norg.test.apps\norg.test.desktop\n");
    const Program::Result json = tool({"--format=json", "list"});
    EXPECT_EQ(python("print(json.load(open(sys.argv[1]))['components'])", json.out),
              "['org.test.apps', 'org.test.desktop']\n");

    // --store in place of the variable.
    EXPECT_EQ(Program::run({HOLLINCTL_BINARY, "list", "--store", mStore.string()},
                           {{"VESK_POLICY_STORE", ""}})
                  .out,
              "org.test.apps\norg.test.desktop\n");

    const Program::Result none = tool({"list", "net."});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("starting with \"net.\""), std::string::npos) << none.err;
}

TEST_F(HollinctlTest, UntrustedTextIsEscapedOnTerminalsAndValidInJson) {
    // A component name holding an escape sequence and a byte that is not
    // UTF-8, and values holding line breaks and display controls.
    const std::string evilName = "org.\x1b[31mred.\xff";
    writeLayer("default", evilName, "<zel:component-data/>");
    writeLayer("default", kComponent,
               "<zel:component-data><prop zel:name=\"p\"><value>one\ntwo\t\xe2\x80\xae"
               "txt.exe \xc2\x85\xe2\x80\xa8 \"q\" \\</value></prop></zel:component-data>");

    const Program::Result list = tool({"list"});
    EXPECT_EQ(list.out, "org.\\x1b[31mred.\\xff\norg.test.desktop\n");
    const Program::Result listJson = tool({"list", "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['components']))", listJson.out),
              "['org.\\x1b[31mred.\\ufffd', 'org.test.desktop']\n");

    const Program::Result text = tool({"dump", kComponent});
    EXPECT_NE(text.out.find(R"(    "one\ntwo\t\u{202E}txt.exe \xc2\x85\u{2028} \"q\" \\")"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.out.find("\xe2\x80\xae"), std::string::npos);

    const Program::Result json = tool({"dump", kComponent, "--format=json"});
    EXPECT_EQ(python("print(ascii(json.load(open(sys.argv[1]))['nodes'][1]['values']['default']))",
                     json.out),
              "'one\\ntwo\\t\\u202etxt.exe \\x85\\u2028 \"q\" \\\\'\n");

    // Component names of random bytes (all a file name may hold): the listing
    // is valid JSON with one entry per layer, and text without raw controls.
    std::mt19937 random(20241206);
    std::set<std::string> names{evilName, kComponent};
    while (names.size() < 300) {
        std::string name(1 + random() % 24, '\0');
        for (char& c : name) {
            c = static_cast<char>(1 + random() % 255);
        }
        if (name.find('/') == std::string::npos && name != "." && name != "..") {
            names.insert(name);
            writeLayer("default", name, "<zel:component-data/>");
        }
    }
    const Program::Result many = tool({"list", "--format=json"});
    EXPECT_EQ(python("print(len(json.load(open(sys.argv[1]))['components']))", many.out), "300\n");
    const std::string shown = tool({"list"}).out;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 300);
    for (unsigned char c : shown) {
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f)) << "raw control in " << shown;
    }
}

TEST_F(HollinctlTest, FailuresNameTheStoreAndEndWithTheirStatus) {
    writeThreeLayers();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{}, 2, "no command given"},
        {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
        {{"dump"}, 2, "dump: missing argument"},
        {{"dump", "a", "b", "c"}, 2, "unexpected argument \"c\""},
        {{"layers", kComponent, "--format=xml"}, 2, "layers has no such --format"},
        {{"dump", kComponent, "--format=yaml"}, 2, "unknown format \"yaml\""},
        {{"dump", kComponent, "--locale", "de"}, 2, "dump takes no --locale"},
        {{"check", "--entity", "x", "f.xml"}, 2, "check takes no --entity"},
        {{"dump", kComponent, "--entity"}, 2, "--entity needs a value"},
        {{"--bogus", "list"}, 2, "unknown option \"--bogus\""},
        {{"dump", ".."}, 2, "not a component name"},
        {{"dupm", "x"}, 2, "unknown command \"dupm\" (did you mean dump?)"},
        // The command is looked up before its options.
        {{"chek", "-r"}, 2, "unknown command \"chek\" (did you mean check?)"},
        {{"help", "lyers"}, 2, "unknown command \"lyers\" (did you mean layers?)"},
        {{"dump", "org.test.dekstop"}, 1, "(did you mean org.test.desktop?)"},
        {{"get", "org.test.Desktop/apps/browser"}, 1, "(did you mean org.test.desktop?)"},
        {{"get", kComponent + "/aps/browser"}, 1, "/aps/browser\" (did you mean apps?)"},
        {{"dump", kComponent, "apps/brwoser"}, 1, "(did you mean browser?)"},
        {{"set", "--scope", "grops/x", kComponent + "/a", "v"}, 2, "(did you mean groups?)"},
        {{"get", kComponent, "apps/browser"},
         2,
         "COMPONENT/PATH as one word: \"org.test.desktop/apps/browser\""},
        {{"list", "--store="}, 2, "--store needs a folder"},
        {{"watch", kComponent, "--strict"}, 2, "watch takes no --strict"},
        {{"cache"}, 2, "cache takes the subcommand refresh"},
        {{"cache", "refresh"}, 2, "cache refresh takes --user NAME"},
    };
    for (const Case& test : cases) {
        const Program::Result result = tool(test.args);
        EXPECT_EQ(result.status, test.status) << result.err;
        EXPECT_NE(result.err.find(test.err), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }

    // A store that is not there is a service failure, never "no policy"
    // (watch waits for it to appear, as the programs do).
    const std::string missing = (mDir / "no-store").string();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list"},
                                                 {"dump", kComponent},
                                                 {"layers", kComponent},
                                                 {"get", kComponent + "/apps/browser"}}) {
        std::vector<std::string> command = args;
        command.insert(command.begin(), HOLLINCTL_BINARY);
        const Program::Result result =
            Program::run(command, {{"VESK_POLICY_STORE", missing}, {"VESKLEG_LOG", ""}});
        EXPECT_EQ(result.status, 3) << args[0] << ": " << result.err;
        EXPECT_NE(result.err.find("policy store " + missing), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(missing + ": No such file or directory (Connection failure)"),
                  std::string::npos)
            << result.err;
    }
    // watch waits for the store to come, and says why it sees nothing yet.
    Program watcher({HOLLINCTL_BINARY, "watch", kComponent},
                    {{"VESK_POLICY_STORE", missing}, {"VESKLEG_LOG", ""}});
    std::string line;
    ASSERT_TRUE(watcher.readErrLine(line, 10s));
    EXPECT_NE(line.find("programs starting now get no policy, as the policy service could not "
                        "read its layers (Connection failure)"),
              std::string::npos)
        << line;
    EXPECT_EQ(watcher.stop(SIGTERM), 0);
}

// Run by root for a user: the copy goes where the user may read and not write;
// a component that does not read in full is not refreshed, and a copy made for
// the user is not served to root.
TEST_F(HollinctlTest, CacheRefreshKeepsAUsersPolicyInRootsFolder) {
    const struct passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody";
    }
    const gid_t group = nobody->pw_gid;
    fs::permissions(mDir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    writeLayer("default", kComponent, kDefaultLayer);
    const fs::path folder = mDir / "cache" / "users" / "nobody";
    std::map<std::string, std::string> env = environment();
    env["HOLLIN_CACHE_DIR"] = folder.string();
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), HOLLINCTL_BINARY);
        return Program::run(args, env);
    };
    Program::Result result = run({"cache", "refresh", "--user", "nobody"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, kComponent + "\n");
    const struct {
        fs::path path;
        mode_t mode;
        gid_t gid;
    } expected[] = {{folder / ("@" + kComponent + ".xml"), 0640, group},
                    {folder / ("@" + kComponent + ".stamps"), 0640, group},
                    {folder, 0750, group},
                    {folder.parent_path(), 0755, 0}};
    for (const auto& e : expected) {
        struct stat status;
        ASSERT_EQ(stat(e.path.c_str(), &status), 0) << e.path;
        EXPECT_EQ(status.st_uid, 0u) << e.path;
        EXPECT_EQ(status.st_gid, e.gid) << e.path;
        EXPECT_EQ(status.st_mode & 07777, e.mode) << e.path;
    }
    EXPECT_NE(testsupport::readFile(folder / ("@" + kComponent + ".stamps")).find("user nobody\n"),
              std::string::npos);

    result = run({"cache", "refresh", "--user", "nobody", "org.nothing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("org.nothing not refreshed: nobody has no layers of it"),
              std::string::npos)
        << result.err;

    // Read-only commands leave the copy alone, even where root may write.
    const std::string copy = testsupport::readFile(folder / ("@" + kComponent + ".xml"));
    writeLayer(mUserScope, kComponent, kUserLayer);
    EXPECT_EQ(run({"dump", kComponent}).status, 0);
    EXPECT_EQ(testsupport::readFile(folder / ("@" + kComponent + ".xml")), copy);

    writeLayer("default", kComponent, std::string(kDefaultLayer).substr(0, 200));
    result = run({"cache", "refresh", "--user", "nobody", kComponent});
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("not refreshed: the copy in"), std::string::npos) << result.err;
    result = run({"dump", kComponent});
    EXPECT_NE(result.err.find("note: for " + kComponent +
                              ", programs starting now get only the layers "
                              "before the broken one"),
              std::string::npos)
        << "nobody's copy served to root: " << result.err;

    const fs::path hidden = mDir / "hidden" / "users" / "nobody";
    fs::create_directories(hidden.parent_path());
    fs::permissions(mDir / "hidden", fs::perms::owner_all);
    env["HOLLIN_CACHE_DIR"] = hidden.string();
    writeLayer("default", kComponent, kDefaultLayer);
    result = run({"cache", "refresh", "--user", "nobody"});
    EXPECT_EQ(result.status, 3);
    EXPECT_NE(result.err.find("nobody cannot reach " + hidden.string()), std::string::npos)
        << result.err;
}

// Root refreshing a folder the user controls: neither a link planted as the
// folder nor one planted as a copy lends root's rights to what it points to.
TEST_F(HollinctlTest, CacheRefreshRefusesWhatTheUserPlanted) {
    const struct passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root and the user nobody";
    }
    writeLayer("default", "com.orvek.ferrun.applications",
               "<zel:component-data zel:name=\"com.orvek.ferrun.applications\"/>");
    const fs::path victim = mDir / "victim";
    const fs::path home = mDir / "home";
    fs::create_directories(home);
    const auto plant = [&](const fs::path& link, const fs::path& target) {
        fs::remove_all(home);
        fs::create_directories(home / "cache");
        fs::create_symlink(target, link);
        for (const fs::path& path : {home, home / "cache", link}) {
            ASSERT_EQ(lchown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    };
    const struct {
        const char* name;
        std::function<void()> setUp;
        fs::path folder;
        std::string reason;
    } cases[] = {
        {"the folder a link to a root file", [&] { plant(home / "link", victim); }, home / "link",
         home.string() + ": owned by another user"},
        {"a copy a link to a root file",
         [&] { plant(home / "cache" / "@com.orvek.ferrun.applications.xml", victim); },
         home / "cache", home.string() + ": owned by another user"},
        {"a link of the user's in root's folder",
         [&] {
             plant(home / "cache" / "x", victim);
             fs::remove(mDir / "link");
             fs::create_symlink(home / "cache", mDir / "link");
             lchown((mDir / "link").c_str(), nobody->pw_uid, nobody->pw_gid);
         },
         mDir / "link", (mDir / "link").string() + ": a link owned by another user"},
    };
    for (const auto& c : cases) {
        testsupport::writeFile(victim.string(), "secret");
        chmod(victim.c_str(), 0600);
        c.setUp();
        std::map<std::string, std::string> env = environment();
        env["HOLLIN_CACHE_DIR"] = c.folder.string();
        const Program::Result result =
            Program::run({HOLLINCTL_BINARY, "cache", "refresh", "--user", "nobody"}, env);
        EXPECT_EQ(result.status, 3) << c.name;
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << c.name << ": " << result.err;
        struct stat status;
        ASSERT_EQ(stat(victim.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u) << c.name;
        EXPECT_EQ(status.st_gid, 0u) << c.name;
        EXPECT_EQ(testsupport::readFile(victim), "secret") << c.name;
    }
}

TEST_F(HollinctlTest, StoreFailuresNameThePlaceAndTheSystemsReason) {
    writeThreeLayers();
    const fs::path file = mDir / "a-file";
    std::ofstream(file) << "not a store";
    const fs::path locked = mDir / "locked";
    fs::create_directories(locked / "default");
    fs::permissions(locked, fs::perms::none);
    fs::create_directories(mStore / mUserScope / (kComponent + ".xml.d"));
    const std::string folderLayer = "org.test.folder";
    fs::create_directories(mStore / "default" / (folderLayer + ".xml"));
    // Password files for a simple bind; the server is never reached.
    const std::string password = (mDir / "password").string();
    const std::string empty = (mDir / "empty").string();
    const std::string shared = (mDir / "shared").string();
    for (const std::string& name : {password, empty, shared}) {
        std::ofstream(name) << (name == empty ? "" : "secret\n");
        fs::permissions(name, name == shared ? fs::perms(0644) : fs::perms::owner_read);
    }
    const std::string bindDn = "VESK_LDAP_BINDDN=cn=admin,dc=x";
    // Past the refusal of a password sent in clear, to the password file.
    const std::string clearText = "VESK_LDAP_ALLOW_CLEARTEXT_BIND=1";
    struct Case {
        std::string store;
        std::string component;
        int status;
        std::string err;  // a part of standard error
        std::vector<std::string> environment = {};
        bool asNobody = false;  // run as uid 65534 (when the test is root)
    };
    const std::string directory = "ldap://127.0.0.1:1/dc=x";
    const Case cases[] = {
        {file.string(), kComponent, 3, file.string() + ": Not a directory (Connection failure)"},
        // A wrong setting, not a connection that failed.
        {"ldap://127.0.0.1:1/", kComponent, 3, "ldap://127.0.0.1:1/: URL has no base DN\n"},
        {directory,
         kComponent,
         3,
         "VESK_LDAP_PASSWORD_FILE is set without VESK_LDAP_BINDDN",
         {"VESK_LDAP_PASSWORD_FILE=" + password}},
        {directory,
         kComponent,
         3,
         "the password file " + empty + " is empty",
         {bindDn, clearText, "VESK_LDAP_PASSWORD_FILE=" + empty}},
        {directory,
         kComponent,
         3,
         "the password file " + shared + " is open to others (mode 0644",
         {bindDn, clearText, "VESK_LDAP_PASSWORD_FILE=" + shared}},
        {directory,
         kComponent,
         3,
         "the password file " + password + "x is missing",
         {bindDn, clearText, "VESK_LDAP_PASSWORD_FILE=" + password + "x"}},
        {directory,
         kComponent,
         3,
         "the password file " + password + " cannot be read: Permission denied",
         {bindDn, clearText, "VESK_LDAP_PASSWORD_FILE=" + password},
         true},
        {locked.string(), kComponent, 3, locked.string() + ": Permission denied"},
        {mStore.string(), folderLayer, 3,
         (mStore / "default" / (folderLayer + ".xml")).string() +
             ": not a regular file (Database error)"},
        // Nothing listens on port 1 of the loopback.
        {"ldap://127.0.0.1:1/dc=example", kComponent, 3,
         "ldap://127.0.0.1:1: Can't contact LDAP server (connect 127.0.0.1:1: Connection refused)"},
        {"ldap://no-such-host.invalid/dc=x", kComponent, 3, "host no-such-host.invalid: "},
        {"ldap://127.0.0.1:1/dc=x?cn", kComponent, 3, "URL has a query"},
        {"http://example.org/policy", kComponent, 3,
         "http://example.org/policy: not a URL libvesk reads"},
        {"", kComponent, -1, "VESK_POLICY_STORE is empty, so the built-in store"},
    };
    for (const Case& test : cases) {
        if (test.store == locked.string() && geteuid() == 0) {
            continue;  // root reads any folder
        }
        if (test.asNobody && geteuid() != 0) {
            continue;  // no other user to be
        }
        // An empty value given to the runner would unset the variable.
        std::vector<std::string> command{"env", "VESK_POLICY_STORE=" + test.store};
        command.insert(command.end(), test.environment.begin(), test.environment.end());
        command.insert(command.end(), {HOLLINCTL_BINARY, "dump", test.component});
        if (test.asNobody) {
            command.insert(command.begin(),
                           {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
        }
        const Program::Result result = Program::run(command, {{"VESKLEG_LOG", ""}});
        if (test.status >= 0) {
            EXPECT_EQ(result.status, test.status) << test.store << ": " << result.err;
        }
        EXPECT_NE(result.err.find(test.err), std::string::npos) << test.store << ": " << result.err;
    }
    fs::permissions(locked, fs::perms::owner_all);
}

// Reads lines of standard output until one starts with prefix (node events

TEST_F(HollinctlTest, HelpForTheToolAndEachCommand) {
    EXPECT_NE(tool({"--help"}).out.find("Usage: hollinctl COMMAND"), std::string::npos);
    EXPECT_EQ(tool({"--version"}).out, "hollinctl " HOLLIN_VERSION "\n");
    for (const char* command :
         {"list", "layers", "dump", "get", "watch", "check", "set", "export-ldif", "help"}) {
        const Program::Result result = tool({command, "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.find(std::string("Usage: hollinctl ") + command), 0u) << result.out;
        for (const std::string& line : lines(result.out)) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    EXPECT_NE(tool({"check", "--help"}).out.find("merged last"), std::string::npos);
    EXPECT_NE(tool({"check", "--help"}).out.find("3 when the store of check -r"),
              std::string::npos);
    EXPECT_EQ(tool({"check", "-r", (mDir / "none").string()}).status, 3);
    EXPECT_EQ(tool({"help", "dump"}).out, tool({"dump", "--help"}).out);
    EXPECT_EQ(tool({"help"}).out, tool({"--help"}).out);
}

}  // namespace
