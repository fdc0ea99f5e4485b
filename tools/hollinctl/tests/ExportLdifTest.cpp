// SPDX-License-Identifier: LGPL-2.1-or-later
// hollinctl export-ldif, loaded with ldapadd into a private slapd: the
// directory then serves every entity the same layers as the exported store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>

#include "DocSessions.h"
#include "ExitStatus.h"
#include "GroupSeam.h"
#include "LdapLayer.h"
#include "Program.h"
#include "StoreTestSupport.h"
#include "TestDirectory.h"

namespace vesk::legacy::store::test {
namespace {

namespace fs = std::filesystem;

// Every component's layers as "entity|component|scope=data" (the stamp's time
// left out), for the user and for the kiosk entity.
std::vector<std::string> everything() {
    std::vector<std::string> all;
    for (const char* connection : {"", "kiosk.default"}) {
        PAPI* handle = openHandle(connection);
        PAPIStatus status = -1;
        for (const std::string& component : names(handle, "", status)) {
            for (const std::string& layer : describe(handle, component, status)) {
                const size_t time = layer.rfind(' ', layer.find('='));
                all.push_back(std::string(connection) + "|" + component + "|" +
                              layer.substr(0, time) + layer.substr(layer.find('=', time)));
            }
            EXPECT_EQ(status, PAPISuccess) << component;
        }
        closeHandle(handle);
    }
    return all;
}

// A file store's layers put into the directory below base, as an
// administrator would: export-ldif, then ldapadd.
void loadStore(TestDirectory& directory, const std::string& store, const std::string& base) {
    const Program::Result exported = Program::run({HOLLINCTL_BINARY, "export-ldif", store, base});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string ldif = directory.folder() + "/load.ldif";
    writeFile(ldif, exported.out);
    const Program::Result added =
        Program::run({"/usr/bin/ldapadd", "-x", "-H", directory.url(""), "-D",
                      TestDirectory::kAdminDn, "-w", TestDirectory::kAdminPassword, "-f", ldif});
    ASSERT_EQ(added.status, 0) << added.err;
}

// The same layers, in the same scopes and order, byte for byte; what a
// directory cannot hold is reported.
TEST(ExportLdifTest, ExportedFileStoreServesTheSameLayersFromTheDirectory) {
    TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    std::string error;
    ASSERT_TRUE(directory.start(error)) << error;
    const std::string scratch = directory.folder() + "/export";
    const std::string store = scratch + "/store";
    const std::string sample = HOLLIN_SOURCE_DIR "/examples/store";
    const std::string base = "ou=export," + std::string(TestDirectory::kSuffix);
    Program::Result sampleExport = Program::run({HOLLINCTL_BINARY, "export-ldif", sample, base});
    EXPECT_EQ(sampleExport.status, 0) << sampleExport.err;
    EXPECT_EQ(sampleExport.err, "");

    // The sample store, and what else a store may hold.
    fs::create_directories(scratch);
    fs::copy(sample, store, fs::copy_options::recursive);
    // A broken layer would fail in the directory as in the store: nothing is
    // exported then.
    for (const auto& [file, data] : std::vector<std::pair<std::string, std::string>>{
             {"default/org.bytes.xml", std::string(" <a>\n\0\xff</a> ", 13)},
             {"default/empty.xml", ""}}) {
        writeFile(store + "/" + file, data);
        const Program::Result refused =
            Program::run({HOLLINCTL_BINARY, "export-ldif", store, base});
        EXPECT_EQ(refused.status, 1) << file;
        EXPECT_EQ(refused.out, "") << file;
        EXPECT_NE(refused.err.find("malformed XML"), std::string::npos) << refused.err;
        fs::remove(store + "/" + file);
    }
    ASSERT_EQ(mkfifo((store + "/default/fifo.xml").c_str(), 0644), 0);
    EXPECT_EQ(Program::run({HOLLINCTL_BINARY, "export-ldif", store, base}).status, 1);
    fs::remove(store + "/default/fifo.xml");

    auto layer = [](const std::string& name) {
        return "<zel:component-data zel:name=\"" + name + "\"/>";
    };
    const std::vector<std::pair<std::string, std::string>> files{
        // Bytes that LDIF must carry in base64: leading blank, line end, CR, UTF-8.
        {"default/org.bytes.xml", " <zel:component-data>\r\n\xc3\xa9</zel:component-data> "},
        {"default/a,b+c.xml", layer("specials")},
        {"default/caf\xc3\xa9.xml", layer("utf8")},
        {"default/notes.txt", "not a layer"},
        {"groups/staff/org.a.xml", layer("group")},
        {"hosts/" + hostName() + "/org.a.xml", layer("host")},
        // Longer than an LDIF line.
        {"users/" + userName() + "/org.a.xml",
         "<zel:component-data zel:name=\"" + std::string(300, 'u') + "\"/>"},
        {"entities/kiosk.default/org.k.xml", layer("kiosk")},
        {"entities/other/org.k.xml", layer("other")},
        // Left out: a name differing from Org.A only in case (the later one in
        // byte order), and one that is not UTF-8.
        {"default/Org.A.xml", layer("capital")},
        {"default/org.a.xml", layer("small")},
        {"default/\xff.xml", layer("not-utf-8")}};
    for (const auto& [file, data] : files) {
        writeFile(store + "/" + file, data);
    }
    Program::Result exported = Program::run({HOLLINCTL_BINARY, "export-ldif", store, base});
    ASSERT_EQ(exported.status, 1) << exported.err;
    // The two left out, and notes.txt as a warning of check -r.
    EXPECT_EQ(std::count(exported.err.begin(), exported.err.end(), '\n'), 3) << exported.err;
    writeFile(scratch + "/policy.ldif", exported.out);
    Program::Result added = Program::run(
        {"/usr/bin/ldapadd", "-x", "-H", directory.url(""), "-D", TestDirectory::kAdminDn, "-w",
         TestDirectory::kAdminPassword, "-f", scratch + "/policy.ldif"});
    ASSERT_EQ(added.status, 0) << added.err;

    for (const char* leftOut : {"org.a.xml", "\xff.xml"}) {
        fs::remove(store + "/default/" + leftOut);
    }
    groupseam::set({"staff"});
    setenv("VESK_POLICY_STORE", store.c_str(), 1);
    const std::vector<std::string> fromFiles = everything();
    setenv("VESK_POLICY_STORE", directory.url(base).c_str(), 1);
    EXPECT_EQ(everything(), fromFiles);
    unsetenv("VESK_POLICY_STORE");
    groupseam::clear();
    // The demos' components, where the demos expect them.
    std::vector<std::string> demos;
    for (const std::string& layer : fromFiles) {
        if (layer.find("|com.orvek.") != std::string::npos) {
            demos.push_back(layer.substr(0, layer.find('=')));
        }
    }
    EXPECT_EQ(demos, (std::vector<std::string>{
                         "|com.orvek.ferrun.applications|default",
                         "kiosk.default|com.orvek.Lumora.Apps|entities/kiosk.default",
                         "kiosk.default|com.orvek.ferrun.applications|default"}));
}

// set, unset, lock and unlock on a directory: each edit is one modify (or one
// add) of the layer entry, signed in as libvesk signs in, and libvesk then
// reads the result.
TEST(ExportLdifTest, EditsDirectoryLayersWithTheConfiguredBind) {
    TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    std::string error;
    ASSERT_TRUE(directory.start(error)) << error;
    const std::string base = "ou=edit," + std::string(TestDirectory::kSuffix);
    const std::string user = "uid=" + userName() + ",ou=users," + base;
    const std::string defaultLayer = "cn=org.edit,ou=default," + base;
    const std::string userLayer = "cn=org.edit," + user;
    for (const auto& [dn, cls, rdn, value] : std::vector<std::array<std::string, 4>>{
             {base, "organizationalUnit", "ou", "edit"},
             {"ou=default," + base, "organizationalUnit", "ou", "default"},
             {"ou=users," + base, "organizationalUnit", "ou", "users"},
             {user, "veskScope", "uid", userName()}}) {
        ASSERT_EQ(directory.addEntry(dn, {{"objectClass", {cls}}, {rdn, {value}}}), 0) << dn;
    }
    const std::string nano =
        "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" zel:name=\"org.edit\">\n"
        "  <!-- kept -->\n  <node zel:name=\"apps\">\n"
        "    <prop zel:name=\"editor\" zel:type=\"xs:string\"><value>nano</value></prop>\n"
        "    <prop zel:name=\"pager\" zel:type=\"xs:string\"><value>less</value></prop>\n"
        "  </node>\n</zel:component-data>\n";
    ASSERT_EQ(directory.addEntry(defaultLayer, {{"objectClass", {"veskLayer"}},
                                                {"cn", {"org.edit"}},
                                                {"veskLayerData", {nano}}}),
              0);
    const std::string admin = directory.folder() + "/admin.pw";
    const std::string reader = directory.folder() + "/reader.pw";
    writeFile(admin, TestDirectory::kAdminPassword);
    writeFile(reader, TestDirectory::kReaderPassword);
    ASSERT_EQ(chmod(admin.c_str(), 0600) | chmod(reader.c_str(), 0600), 0);
    // Plain ldap:// on loopback, the lab case the opt-out is for.
    const std::map<std::string, std::string> asAdmin{{"VESK_POLICY_STORE", directory.url(base)},
                                                     {"VESK_LDAP_BINDDN", TestDirectory::kAdminDn},
                                                     {"VESK_LDAP_PASSWORD_FILE", admin},
                                                     {"VESK_LDAP_ALLOW_CLEARTEXT_BIND", "1"}};
    std::map<std::string, std::string> asReader = asAdmin;
    asReader["VESK_LDAP_BINDDN"] = TestDirectory::kReaderDn;
    asReader["VESK_LDAP_PASSWORD_FILE"] = reader;
    // Several servers: the first does not answer, the one that did is named.
    asReader["VESK_POLICY_STORE"] = "ldap://127.0.0.1:9 " + directory.url(base);
    const std::string wrong = directory.folder() + "/wrong.pw";
    writeFile(wrong, "wr0ng-Pa55word");
    ASSERT_EQ(chmod(wrong.c_str(), 0600), 0);
    std::map<std::string, std::string> asStranger = asReader;
    asStranger["VESK_LDAP_PASSWORD_FILE"] = wrong;
    const std::string scope = "users/" + userName();
    std::string server = directory.url("");
    server.pop_back();  // the slash before the base DN

    struct Case {
        const char* what;
        const std::map<std::string, std::string>* environment;
        std::vector<std::string> args;
        int status;
        std::string message;  // in standard error, or "" for none
        std::string dn;       // whose data then holds...
        std::vector<std::string> holds;
        std::vector<std::string> lacks;
        std::string editor;  // what get then says of org.edit/apps/editor
    };
    const std::vector<Case> cases{
        {"set makes the layer entry",
         &asAdmin,
         {"set", "--scope", scope, "org.edit/apps/editor", "vi"},
         0,
         "",
         userLayer,
         {">vi<"},
         {},
         "vi"},
        {"set replaces one value and keeps the rest",
         &asAdmin,
         {"set", "--scope", "default", "org.edit/apps/pager", "more"},
         0,
         "",
         defaultLayer,
         {"<!-- kept -->", ">nano<", ">more<"},
         {">less<"},
         "vi"},
        {"lock",
         &asAdmin,
         {"lock", "--scope", "default", "org.edit/apps/editor"},
         0,
         "",
         defaultLayer,
         {"zel:finalized=\"true\"", ">nano<"},
         {},
         "nano"},
        {"a value under the default layer's lock is refused",
         &asAdmin,
         {"set", "--scope", scope, "org.edit/apps/editor", "ed"},
         1,
         "would not apply in " + scope + ": locked by 1 default",
         userLayer,
         {">vi<"},
         {">ed<"},
         "nano"},
        {"unset",
         &asAdmin,
         {"unset", "--scope", scope, "org.edit/apps/editor"},
         0,
         "",
         userLayer,
         {},
         {">vi<"},
         "nano"},
        {"a reader may not write",
         &asReader,
         {"set", "--scope", "default", "org.edit/apps/editor", "ed"},
         3,
         "not written: " + defaultLayer + " on " + server + ": Insufficient access",
         defaultLayer,
         {">nano<"},
         {">ed<"},
         "nano"},
        {"a wrong password",
         &asStranger,
         {"set", "--scope", "default", "org.edit/apps/editor", "ed"},
         3,
         server + ": Invalid credentials",
         defaultLayer,
         {},
         {">ed<"},
         "nano"},
        {"a scope without its entry is not made",
         &asAdmin,
         {"set", "--scope", "groups/nobody", "org.edit/apps/editor", "ed"},
         1,
         "has no entry cn=nobody,ou=groups," + base,
         "",
         {},
         {},
         "nano"},
        {"unless asked to, with the folder entry above it",
         &asAdmin,
         {"set", "--scope", "groups/nobody", "org.edit/apps/pager", "pg", "--create-scope"},
         0,
         "",
         "cn=org.edit,cn=nobody,ou=groups," + base,
         {">pg<"},
         {},
         "nano"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{HOLLINCTL_BINARY};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Program::Result result = Program::run(args, *c.environment);
        EXPECT_EQ(result.status, c.status) << c.what << ": " << result.err;
        if (c.message.empty()) {
            EXPECT_EQ(result.err, "") << c.what;
        } else {
            EXPECT_NE(result.err.find(c.message), std::string::npos)
                << c.what << ": " << result.err;
        }
        for (const char* secret :
             {TestDirectory::kAdminPassword, TestDirectory::kReaderPassword, "wr0ng-Pa55word"}) {
            EXPECT_EQ(result.err.find(secret), std::string::npos) << c.what;
        }
        const std::string data = c.dn.empty() ? "" : directory.value(c.dn, "veskLayerData");
        for (const std::string& text : c.holds) {
            EXPECT_NE(data.find(text), std::string::npos)
                << c.what << ": " << text << " in " << data;
        }
        for (const std::string& text : c.lacks) {
            EXPECT_EQ(data.find(text), std::string::npos) << c.what << ": " << text;
        }
        const Program::Result get =
            Program::run({HOLLINCTL_BINARY, "get", "org.edit/apps/editor"}, asAdmin);
        EXPECT_EQ(get.out, c.editor + "\n") << c.what << ": " << get.err;
    }
    EXPECT_EQ(directory.value(userLayer, "objectClass"), "veskLayer");

    // Two editors of one layer: the second writes what it read before the
    // first wrote; it is refused and the first one's edit stands.
    for (const auto& [name, value] : asAdmin) {
        setenv(name.c_str(), value.c_str(), 1);
    }
    hollinctl::LdapLayer first(directory.url(base), "default", "org.edit");
    hollinctl::LdapLayer second(directory.url(base), "default", "org.edit");
    const std::string before = first.read();
    ASSERT_EQ(second.read(), before);
    first.write(before + "<!-- first -->\n");
    try {
        second.write(before + "<!-- second -->\n");
        ADD_FAILURE() << "an edit on a stale read was written";
    } catch (const hollinctl::CommandError& error) {
        EXPECT_EQ(error.getStatus(), hollinctl::kServiceError);
        EXPECT_NE(std::string(error.what()).find("changed since it was read"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(directory.value(defaultLayer, "veskLayerData"), before + "<!-- first -->\n");
    for (const auto& entry : asAdmin) {
        unsetenv(entry.first.c_str());
    }
}

// Questions about any user's stack get the same answers from the directory as
// from the folder it was loaded from.
TEST(ExportLdifTest, PlanningAndExplainAnswerAlikeOnBothStores) {
    TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    std::string error;
    ASSERT_TRUE(directory.start(error)) << error;
    const std::string store = directory.folder() + "/plan";
    const std::string base = "ou=plan," + std::string(TestDirectory::kSuffix);
    const auto layer = [](const std::string& body) {
        return "<zel:component-data xmlns:zel=\"urn:vesk:policy-layer\" zel:name=\"org.p\">"
               "<node zel:name=\"apps\">" +
               body + "</node></zel:component-data>\n";
    };
    const auto prop = [](const std::string& name, const std::string& value, bool lock) {
        return "<prop zel:name=\"" + name + "\"" + (lock ? " zel:finalized=\"true\"" : "") +
               "><value>" + value + "</value></prop>";
    };
    for (const auto& [scope, body] : std::vector<std::pair<std::string, std::string>>{
             {"default", prop("editor", "vi", false) + prop("browser", "firefox", false)},
             {"groups/hdevs", prop("browser", "chromium", true)},
             {"hosts/vm", prop("editor", "emacs", false)},
             {"users/halice", prop("browser", "links", false) + prop("editor", "nano", false)}}) {
        writeFile(store + "/" + scope + "/org.p.xml", layer(body));
    }
    loadStore(directory, store, base);
    const std::vector<std::string> halice{"--user", "halice", "--groups", "hdevs", "--host", "vm"};
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // a part of standard output or error
    };
    const Case cases[] = {
        {{"get", "org.p/apps/browser"}, 0, "chromium\n"},
        {{"get", "org.p/apps/editor"}, 0, "nano\n"},
        {{"explain", "org.p/apps/browser"},
         0,
         "  1 default       \"firefox\"          replaced by 2 groups/hdevs\n"
         "  2 groups/hdevs  \"chromium\"  locks  applied\n"
         "  3 hosts/vm      -                  not in this layer\n"
         "  4 users/halice  \"links\"            refused: locked by 2 groups/hdevs\n"},
        {{"explain", "org.p/apps/editor"},
         0,
         "  1 default       \"vi\"     replaced by 4 users/halice\n"
         "  2 groups/hdevs  -        not in this layer\n"
         "  3 hosts/vm      \"emacs\"  replaced by 4 users/halice\n"
         "  4 users/halice  \"nano\"   applied\n"},
        {{"explain", "org.p/apps/pager"}, 1, "no layer has \"org.p/apps/pager\""},
        {{"set", "--scope", "users/halice", "org.p/apps/browser", "w3m"},
         1,
         "would not apply in users/halice: locked by 2 groups/hdevs"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{HOLLINCTL_BINARY};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), halice.begin(), halice.end());
        const Program::Result files = Program::run(args, {{"VESK_POLICY_STORE", store}});
        const Program::Result entries =
            Program::run(args, {{"VESK_POLICY_STORE", directory.url(base)}});
        EXPECT_EQ(files.status, c.status) << c.args[0] << ": " << files.err;
        EXPECT_NE((files.out + files.err).find(c.out), std::string::npos)
            << c.args[0] << ": " << files.out << files.err;
        EXPECT_EQ(entries.status, files.status) << c.args[0] << ": " << entries.err;
        EXPECT_EQ(entries.out, files.out) << c.args[0];
    }

    // A planned watch follows folders; on a directory it would never report.
    Program watch({HOLLINCTL_BINARY, "watch", "org.p", "--user", "halice"},
                  {{"VESK_POLICY_STORE", directory.url(base)}});
    EXPECT_EQ(watch.wait(std::chrono::seconds(10)), 2);

    // check -r finds the same fight between layers in both.
    for (const auto& [where, place] : std::vector<std::pair<std::string, std::string>>{
             {store, store + "/users/halice/org.p.xml"},
             {directory.url(base), "users/halice/org.p"}}) {
        const Program::Result checked =
            Program::run({HOLLINCTL_BINARY, "check", "-r"}, {{"VESK_POLICY_STORE", where}});
        EXPECT_EQ(checked.status, 1) << checked.err;
        EXPECT_NE(checked.out.find(place + ": /apps/browser is locked by groups/hdevs: this "
                                           "layer's change never applies"),
                  std::string::npos)
            << checked.out;
    }

    // watch follows an edit of the directory as it follows one of the folder.
    const std::string admin = directory.folder() + "/admin.pw";
    writeFile(admin, TestDirectory::kAdminPassword);
    ASSERT_EQ(chmod(admin.c_str(), 0600), 0);
    for (const std::string& where : {store, directory.url(base)}) {
        const std::map<std::string, std::string> env{{"VESK_POLICY_STORE", where},
                                                     {"VESK_LDAP_BINDDN", TestDirectory::kAdminDn},
                                                     {"VESK_LDAP_PASSWORD_FILE", admin},
                                                     {"VESK_LDAP_ALLOW_CLEARTEXT_BIND", "1"}};
        Program watcher({HOLLINCTL_BINARY, "watch", "org.p"}, env);
        std::string line;
        ASSERT_TRUE(watcher.readErrLine(line, std::chrono::seconds(10))) << where;
        const Program::Result set = Program::run(
            {HOLLINCTL_BINARY, "set", "--scope", "default", "org.p/apps/pager", "less"}, env);
        EXPECT_EQ(set.status, 0) << set.err;
        std::string seen;
        while (seen.find("org.p/apps/pager = ") == std::string::npos &&
               watcher.readOutLine(line, std::chrono::seconds(10))) {
            seen += line + "\n";
        }
        EXPECT_NE(seen.find("added   org.p/apps/pager = \"less\" (1 default)"), std::string::npos)
            << where << ": " << seen;
        EXPECT_EQ(watcher.stop(SIGTERM), 0) << where;
    }

    // And back into a folder: the same layers, byte for byte.
    const std::string copy = directory.folder() + "/copy";
    const Program::Result back = Program::run({HOLLINCTL_BINARY, "export", copy},
                                              {{"VESK_POLICY_STORE", directory.url(base)}});
    EXPECT_EQ(back.status, 0) << back.err;
    for (const char* scope : {"default", "groups/hdevs", "hosts/vm", "users/halice"}) {
        const std::string layer = std::string("/") + scope + "/org.p.xml";
        EXPECT_EQ(readFile(copy + layer), readFile(store + layer)) << scope;
    }
    EXPECT_EQ(Program::run({HOLLINCTL_BINARY, "export", copy},
                           {{"VESK_POLICY_STORE", directory.url(base)}})
                  .status,
              2);
}

// The directory's console sessions in its README, on a private slapd that
// holds the sample policy and the layers the sessions add.
TEST(ExportLdifTest, DirectoryReadmeSessionsRunAsShown) {
    TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
    std::string error;
    ASSERT_TRUE(directory.start(error)) << error;
    const fs::path scratch = directory.folder() + "/docs";
    fs::create_directories(scratch);
    fs::copy(HOLLIN_SOURCE_DIR "/examples/store", scratch / "store", fs::copy_options::recursive);
    const std::string base = "ou=policy," + std::string(TestDirectory::kSuffix);
    std::string server = directory.url("");
    server.pop_back();  // the slash before the base DN
    DocSessions sessions(scratch);
    sessions.onDirectory(
        directory.url(base),
        {{"ldap://ldap.example.org/ou=policy,dc=example,dc=org", directory.url(base)},
         {"ou=policy,dc=example,dc=org", base},
         {"ldap://ldap.example.org:389", server}},
        [&](const fs::path& store) {
            // What an earlier session loaded goes first.
            Program::run({"/usr/bin/ldapdelete", "-x", "-r", "-H", server, "-D",
                          TestDirectory::kAdminDn, "-w", TestDirectory::kAdminPassword, base});
            loadStore(directory, store, base);
        });
    sessions.run("vesk/ldap/README.md");
}

}  // namespace
}  // namespace vesk::legacy::store::test
