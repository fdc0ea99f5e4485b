// SPDX-License-Identifier: LGPL-2.1-or-later
// gnome_config: round trips, what survives an edit, refusals and failed syncs.
#include <errno.h>
#include <sys/stat.h>

#include <random>
#include <sstream>

#include "TempHomeTest.h"
#include "gnome2/gnome-program.h"

namespace {

using GnomeConfigTest = TempHomeTest;

std::string getString(const std::string& path) {
    gchar* value = gnome_config_get_string_with_default_(path.c_str(), nullptr, FALSE);
    std::string result = value != nullptr ? value : "(missing)";
    g_free(value);
    return result;
}

// Each value must read back unchanged from a fresh load, and no value may add a
// key or a section to the file.
TEST_F(GnomeConfigTest, ValuesRoundTripAndNeverAddKeysOrSections) {
    std::vector<std::string> values = {"",
                                       "plain",
                                       "xterm ",
                                       "  two leading blanks",
                                       "\tleading tab",
                                       "\vvertical tab",
                                       "a=b",
                                       "[Default]",
                                       "x\n[Evil]\nnum_clients=99",
                                       "cr\r\nlf",
                                       "back\\slash \\n \\s",
                                       "\xff\xfe not UTF-8"};
    std::mt19937 random(42);
    for (int i = 0; i < 300; ++i) {
        std::string value(random() % 12, ' ');
        for (char& c : value) {
            c = static_cast<char>(1 + random() % 255);
        }
        values.push_back(value);
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        gnome_config_set_string_(("rt/S/k" + std::to_string(i)).c_str(), values[i].c_str(), FALSE);
    }
    ASSERT_TRUE(gnome_config_sync());
    gnome_config_drop_all();
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(getString("rt/S/k" + std::to_string(i)), values[i]) << "value " << i;
    }
    std::istringstream lines(readFile(config("rt")));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line) && line == "[S]");
    std::size_t count = 0;
    for (; std::getline(lines, line); ++count) {
        EXPECT_EQ(line.rfind("k" + std::to_string(count) + "=", 0), 0u) << line;
    }
    EXPECT_EQ(count, values.size());
}

TEST_F(GnomeConfigTest, ReadsIntegersFromLeadingDigitsAndTellsMissingFromEmpty) {
    install("f", "[S]\na=3abc\nb=-7\nc=abc\nd=\ne=99999999999\nf=\\s42\ng=+5\n");
    const struct {
        const char* key;
        gint value;
        gboolean missing;
    } cases[] = {{"a", 3, FALSE},  {"b", -7, FALSE}, {"c", 0, FALSE},       {"d", 0, FALSE},
                 {"f", 42, FALSE}, {"g", 5, FALSE},  {"e", INT_MAX, FALSE}, {"zz", 0, TRUE}};
    for (const auto& c : cases) {
        gboolean missing = !c.missing;
        EXPECT_EQ(gnome_config_get_int_with_default_((std::string("f/S/") + c.key).c_str(),
                                                     &missing, FALSE),
                  c.value)
            << c.key;
        EXPECT_EQ(missing, c.missing) << c.key;
    }
    EXPECT_EQ(getString("f/S/d"), "");
    EXPECT_EQ(getString("f/S/zz"), "(missing)");
    EXPECT_EQ(getString("/f/S/a"), "3abc");
}

TEST_F(GnomeConfigTest, EditKeepsCommentsTranslationsAndUntouchedKeys) {
    install("session-manual", fixture("session-manual-with-comments"));
    EXPECT_EQ(getString("session-manual/Default/1,RestartCommand"), " clock\\n");
    EXPECT_EQ(getString("session-manual/Default/0,CurrentDirectory"), "/home/u/\xe9t\xe9");
    gnome_config_set_int_("session-manual/Default/num_clients", 3, FALSE);
    gnome_config_set_string_("session-manual/Default/2,RestartCommand", "new\n[Evil]", FALSE);
    gnome_config_clean_key_("session-manual/Default/1,Priority", FALSE);
    gnome_config_set_string_("session-manual/Other/Name", "Clock", FALSE);
    ASSERT_TRUE(gnome_config_sync());
    EXPECT_EQ(readFile(config("session-manual")), fixture("session-manual-with-comments.edited"));
}

// startlist rewrites the same keys at every login: the file must not grow.
TEST_F(GnomeConfigTest, RewritingTheSameKeysEveryRunKeepsTheFileStable) {
    install("session-manual", "[Default]\nnum_clients=1\n\n\n# mine\n[MERX]\na=1\n");
    std::string previous;
    for (int run = 0; run < 4; ++run) {
        gnome_config_clean_key_("session-manual/Default/num_clients", FALSE);
        gnome_config_set_int_("session-manual/Default/num_clients", 2, FALSE);
        ASSERT_TRUE(gnome_config_sync());
        gnome_config_drop_all();
        const std::string now = readFile(config("session-manual"));
        if (run > 0) {
            EXPECT_EQ(now, previous) << "run " << run;
        }
        previous = now;
    }
    EXPECT_NE(previous.find("# mine"), std::string::npos);
    EXPECT_EQ(getString("session-manual/MERX/a"), "1");
}

TEST_F(GnomeConfigTest, ChangesReachTheFileOnlyAtSync) {
    gnome_config_clean_key_("absent/Default/num_clients", FALSE);
    EXPECT_TRUE(gnome_config_sync());
    EXPECT_FALSE(std::filesystem::exists(config())) << "removing an absent key is no change";

    install("session-manual", "[Default]\nnum_clients=2\n");
    EXPECT_EQ(getString("session-manual/Default/num_clients"), "2");
    writeFile(config("session-manual"), "[Default]\nnum_clients=7\n");
    EXPECT_EQ(getString("session-manual/Default/num_clients"), "2") << "held since first use";
    gnome_config_set_int_("session-manual/Default/num_clients", 5, FALSE);
    gnome_config_drop_all();
    EXPECT_EQ(readFile(config("session-manual")), "[Default]\nnum_clients=7\n");
}

// A replaced file keeps the mode of the regular file it replaces, never one
// that lets others change it or run it as someone else; a link (dotfiles kept
// elsewhere) is written through and stays a link.
TEST_F(GnomeConfigTest, ModesComeFromTheRegularFileAndLinksAreWrittenThrough) {
    const struct {
        const char* file;
        mode_t before;  // 0: no file yet
        bool linked;
        mode_t after;
    } cases[] = {
        {"new", 0, false, 0600},
        {"old", 0640, false, 0640},
        {"setuid", 04755, false, 0755},
        {"shared", 0666, false, 0644},
        {"sticky", 01770, false, 0750},
        {"session-manual", 0640, true, 0640},
        {"linked-suid", 04755, true, 0755},
        {"linked-shared", 0666, true, 0644},
    };
    std::filesystem::create_directories(config());
    for (const auto& c : cases) {
        const std::string file = c.before != 0 ? plant(config(c.file), c.before, c.linked) : "";
        gnome_config_set_string_((std::string(c.file) + "/S/k").c_str(), "v", FALSE);
        ASSERT_TRUE(gnome_config_sync()) << c.file;
        const std::string written = c.linked ? file : config(c.file);
        EXPECT_EQ(modeOf(written), S_IFREG | c.after) << c.file;
        EXPECT_EQ(S_ISLNK(modeOf(config(c.file), true)), c.linked) << c.file;
        EXPECT_NE(readFile(written).find("k=v\n"), std::string::npos) << c.file;
    }
}

// A file GLib cannot read back would lose the user's whole list if it were
// treated as empty and written: it must stay byte for byte as it is.
TEST_F(GnomeConfigTest, UnusableFileIsReportedAndNeverWritten) {
    for (const char* name :
         {"session-manual-key-before-first-section", "session-manual-stray-line"}) {
        SCOPED_TRACE(name);
        install("session-manual", fixture(name));
        EXPECT_EQ(getString("session-manual/Default/num_clients"), "(missing)");
        gnome_config_set_int_("session-manual/Default/num_clients", 4, FALSE);
        EXPECT_FALSE(gnome_config_sync());
        EXPECT_FALSE(gnome_config_sync()) << "still refused at the next sync";
        EXPECT_EQ(readFile(config("session-manual")), fixture(name));
        EXPECT_TRUE(warned("session-manual"));
        gnome_config_drop_all();
    }
    std::filesystem::remove(config("session-manual"));
    std::filesystem::create_directories(config("session-manual"));
    gnome_config_set_int_("session-manual/Default/num_clients", 4, FALSE);
    EXPECT_FALSE(gnome_config_sync());
    EXPECT_TRUE(std::filesystem::is_directory(config("session-manual")));
}

TEST_F(GnomeConfigTest, FailedSyncLeavesTheOldFileAndKeepsTheChange) {
    const struct {
        const char* what;
        void (*arm)();
        const char* warning = "Not written";
    } failures[] = {
        {"no folder",
         [] {
             FileSystemCalls::sCurrent.mMkdir = [](const char*, mode_t) {
                 return errno = EACCES, -1;
             };
         },
         "Cannot create"},
        {"no temporary file",
         [] {
             FileSystemCalls::sCurrent.mOpen = [](const char*, int, mode_t) {
                 return errno = EACCES, -1;
             };
         }},
        {"full disk",
         [] {
             FileSystemCalls::sCurrent.mWrite = [](int, const void*, size_t) -> ssize_t {
                 return errno = ENOSPC, -1;
             };
         }},
        {"short writes, then full",
         [] {
             FileSystemCalls::sCurrent.mWrite = [](int fd, const void* data, size_t n) -> ssize_t {
                 static int calls = 0;
                 return ++calls % 3 != 0 ? ::write(fd, data, n > 4 ? 4 : n) : 0;
             };
         }},
        {"fsync", [] { FileSystemCalls::sCurrent.mSync = [](int) { return errno = EIO, -1; }; }},
        {"rename",
         [] {
             FileSystemCalls::sCurrent.mRename = [](const char*, const char*) {
                 return errno = EIO, -1;
             };
         }},
    };
    const std::string before = fixture("session-manual-with-comments");
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.what);
        mWarnings.clear();
        install("session-manual", before);
        gnome_config_set_int_("session-manual/Default/num_clients", 9, FALSE);
        failure.arm();
        EXPECT_FALSE(gnome_config_sync());
        EXPECT_EQ(readFile(config("session-manual")), before);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config()), {}), 1)
            << "temporary file left behind";
        EXPECT_TRUE(warned(failure.warning));
        FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
        EXPECT_TRUE(gnome_config_sync());
        EXPECT_NE(readFile(config("session-manual")).find("num_clients=9\n"), std::string::npos);
        gnome_config_drop_all();
    }
}

TEST_F(GnomeConfigTest, PathsOutsideTheSettingsFolderOrFormatAreRefused) {
    const char* paths[] = {"../S/k",  ".//k",    "noslash",   "f/S",        "f//k",
                           "f/S/",    "f/S/a=b", "f/S/#c",    "f/S/[x",     "f/S/k\nj",
                           "f/S]/k",  "f/S/ k",  "f/S/k ",    "f/S/k[a b]", "f/S/k]",
                           "f/S\n/k", "/S/k",    "f\x01/S/k", nullptr};
    for (const char* path : paths) {
        SCOPED_TRACE(path != nullptr ? path : "(null)");
        gnome_config_set_string_(path, "v", FALSE);
        EXPECT_EQ(gnome_config_get_string_with_default_(path, nullptr, FALSE), nullptr);
        EXPECT_FALSE(gnome_config_sync()) << "a dropped write is reported";
    }
    EXPECT_FALSE(std::filesystem::exists(config()));

    gnome_config_set_string_("f/S/Name[de_CH]", "v", FALSE);
    EXPECT_TRUE(gnome_config_sync());

    setenv("HOME", "relative-home", 1);
    gnome_config_set_string_("f/S/k", "v", FALSE);
    EXPECT_FALSE(gnome_config_sync());
    EXPECT_FALSE(std::filesystem::exists("relative-home"));
}

TEST_F(GnomeConfigTest, IteratorWalksASnapshotOfTheSection) {
    install("it", "[S]\n0,A=x\n# comment\n0,B=\\sy\n1,A=z\n0,A=last\n[T]\nq=1\n");
    std::vector<std::pair<std::string, std::string>> seen;
    gchar* key = nullptr;
    gchar* value = nullptr;
    void* it = gnome_config_init_iterator_("it/S", FALSE);
    while ((it = gnome_config_iterator_next(it, &key, &value)) != nullptr) {
        seen.emplace_back(key, value);
        gnome_config_clean_key_(("it/S/" + seen.back().first).c_str(), FALSE);
        g_free(key);
        g_free(value);
    }
    EXPECT_EQ(key, nullptr);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"0,A", "last"}, {"0,B", " y"}, {"1,A", "z"}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(gnome_config_init_iterator_("it/S", FALSE), nullptr) << "all keys cleaned";
    gnome_config_iterator_free(gnome_config_init_iterator_("it/T", FALSE));  // left early
}

TEST(GnomeProgramTest, NamesTheProcessOnce) {
    char* args[] = {const_cast<char*>("StartupApps"), nullptr};
    GnomeProgram* program =
        gnome_program_init("StartupApps", "1.0", libgnome_module_info_get(), 1, args, nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_STREQ(g_get_prgname(), "StartupApps");
    EXPECT_STREQ(g_get_application_name(), "StartupApps");
    EXPECT_EQ(gnome_program_init("launchers", "2.0", libgnome_module_info_get(), 1, args, nullptr),
              program);
    EXPECT_STREQ(gnome_program_get_app_id(program), "StartupApps");
}

}  // namespace
