// SPDX-License-Identifier: LGPL-2.1-or-later
// Desktop items: the files the launcher plug-in writes, checked byte for byte
// and by the desktop's own validator; refused keys and locales; failed saves.
#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempHomeTest.h"

namespace {

using DesktopItemTest = TempHomeTest;

std::string validate(const std::string& path) {
    FILE* pipe = popen(("desktop-file-validate '" + path + "' 2>&1").c_str(), "r");
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int status = pclose(pipe);
    return status == 0 ? output : "exit " + std::to_string(status) + ": " + output;
}

TEST_F(DesktopItemTest, LaunchersMatchTheirGoldenFilesAndValidate) {
    if (system("command -v desktop-file-validate >/dev/null") != 0) {
        GTEST_SKIP() << "desktop-file-validate is not installed";
    }
    GnomeDesktopItem* app = gnome_desktop_item_new();
    gnome_desktop_item_set_string(app, "Name", "Browser");
    gnome_desktop_item_set_localestring_lang(app, "Name", "de-CH", "Netz \"Surfer\"");
    gnome_desktop_item_set_localestring_lang(app, "Comment", "default", " Browse\tthe web\\");
    gnome_desktop_item_set_string(app, "Type", "Application");
    gnome_desktop_item_set_string(app, "Exec", "firefox %u");
    GnomeDesktopItem* link = gnome_desktop_item_new();
    gnome_desktop_item_set_string(link, "Name", "Home page");
    gnome_desktop_item_set_string(link, "Type", "Link");
    gnome_desktop_item_set_string(link, "URL", "https://example.org/?a=1&b=[2]");
    for (auto item : {std::make_pair(app, "MERXbrowser.desktop"),
                      std::make_pair(link, "MERXhome-page.desktop")}) {
        const std::string path = mHome + "/" + item.second;
        ASSERT_TRUE(gnome_desktop_item_save(item.first, path.c_str(), TRUE, nullptr));
        gnome_desktop_item_unref(item.first);
        EXPECT_EQ(readFile(path), fixture(item.second));
        EXPECT_EQ(validate(path), "");
        EXPECT_EQ(modeOf(path), S_IFREG | 0755u);
    }
    EXPECT_TRUE(mWarnings.empty());
}

// Refused names leave the rest of the item alone and are named in a warning.
TEST_F(DesktopItemTest, KeysAndLocalesAreCheckedAgainstTheFormat) {
    const struct {
        const char* key;
        const char* locale;
        const char* written;  // key as it appears in the file; nullptr: refused
        const char* named;    // what the warning names
    } cases[] = {
        {"Name", "default", "Name", nullptr},
        {"Comment", "", "Comment", nullptr},
        {"Name", "de-CH", "Name[de_CH]", nullptr},
        {"Name", "es-419", "Name[es_419]", nullptr},
        {"Name", "sr@latin", "Name[sr@latin]", nullptr},
        {"Name", "de_CH.UTF-8@euro", "Name[de_CH.UTF-8@euro]", nullptr},
        {"X-Orvek-Id", nullptr, "X-Orvek-Id", nullptr},
        {"Name", "de\nExec=rm", nullptr, "de\\nExec=rm"},
        {"Name", "../x", nullptr, "../x"},
        {"Name", "zh-Hant-TW", nullptr, "zh-Hant-TW"},
        {"Name", "_CH", nullptr, "_CH"},
        {"Foo\nExec", nullptr, nullptr, "Foo\\nExec"},
        {"Name[de]", nullptr, nullptr, "Name[de]"},
        {"", nullptr, nullptr, "\"\""},
        {"N\xc3\xa4me", nullptr, nullptr, "N\\303\\244me"},
    };
    GnomeDesktopItem* item = gnome_desktop_item_new();
    gnome_desktop_item_set_string(item, "Type", "Application");
    std::string expected = "[Desktop Entry]\nType=Application\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " / " + (c.locale ? c.locale : "(null)"));
        mWarnings.clear();
        gnome_desktop_item_set_localestring_lang(item, c.key, c.locale, "value");
        if (c.written != nullptr) {
            expected += std::string(c.written) + "=value\n";
            EXPECT_TRUE(mWarnings.empty());
        } else {
            EXPECT_TRUE(warned(c.named));
        }
    }
    mWarnings.clear();
    gnome_desktop_item_set_string(item, "Icon", "\xff not UTF-8");
    gnome_desktop_item_set_string(item, "Icon", "\vvertical tab");
    // Control characters the format cannot carry, wherever they stand.
    gnome_desktop_item_set_string(item, "Icon", "bell\a");
    gnome_desktop_item_set_localestring_lang(item, "Icon", "de", "esc\x1b[2J");
    const char* const list[] = {"fine", "del\x7f", nullptr};
    gnome_desktop_item_set_strings(item, "Keywords", list);
    gnome_desktop_item_set_string(nullptr, "Name", "no item");
    EXPECT_EQ(mWarnings.size(), 6u);

    const std::string path = mHome + "/item.desktop";
    ASSERT_TRUE(gnome_desktop_item_save(item, path.c_str(), TRUE, nullptr));
    gnome_desktop_item_unref(item);
    EXPECT_EQ(readFile(path), expected);
}

// What the launcher writer sets reads back item for item, and validates.
TEST_F(DesktopItemTest, ListItemsAndValuesReadBackAsSet) {
    const bool validator = system("command -v desktop-file-validate >/dev/null") == 0;
    const std::vector<std::vector<std::string>> lists = {
        {"math", "sum;x"}, {"back\\slash", "\\;", ";"}, {" lead", "tab\there", "end "}, {"x"}};
    const std::string path = mHome + "/MERXlist.desktop";
    for (const auto& list : lists) {
        SCOPED_TRACE(list.front());
        GnomeDesktopItem* item = gnome_desktop_item_new();
        gnome_desktop_item_set_string(item, "Type", "Application");
        gnome_desktop_item_set_string(item, "Name", "tab\tinside");
        gnome_desktop_item_set_string(item, "Exec", "x");
        std::vector<const char*> strings;
        for (const std::string& text : list) {
            strings.push_back(text.c_str());
        }
        strings.push_back(nullptr);
        gnome_desktop_item_set_strings(item, "Keywords", strings.data());
        gnome_desktop_item_set_localestrings_lang(item, "Keywords", "de-CH", strings.data());
        ASSERT_TRUE(gnome_desktop_item_save(item, path.c_str(), TRUE, nullptr));
        gnome_desktop_item_unref(item);

        GKeyFile* keys = g_key_file_new();
        ASSERT_TRUE(
            g_key_file_load_from_file(keys, path.c_str(), G_KEY_FILE_KEEP_TRANSLATIONS, nullptr));
        // (GLib's locale lookup splits at every ";", escaped or not: the keys
        // are read by name.)
        for (const char* key : {"Keywords", "Keywords[de_CH]"}) {
            gsize length = 0;
            gchar** back = g_key_file_get_string_list(keys, "Desktop Entry", key, &length, nullptr);
            ASSERT_NE(back, nullptr);
            EXPECT_EQ(std::vector<std::string>(back, back + length), list);
            g_strfreev(back);
        }
        gchar* name = g_key_file_get_string(keys, "Desktop Entry", "Name", nullptr);
        EXPECT_STREQ(name, "tab\tinside");
        g_free(name);
        g_key_file_free(keys);
        if (validator) {
            EXPECT_EQ(validate(path), "");
        }
    }
}

TEST_F(DesktopItemTest, FailedSaveIsReportedAndLeavesTheOldFile) {
    GnomeDesktopItem* item = gnome_desktop_item_new();
    gnome_desktop_item_set_string(item, "Name", "New");
    GError* error = nullptr;
    const std::string missing = mHome + "/no/such/dir/MERXa.desktop";
    EXPECT_FALSE(gnome_desktop_item_save(item, missing.c_str(), TRUE, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    EXPECT_NE(std::string(error->message).find(missing), std::string::npos);
    g_clear_error(&error);

    const std::string path = mHome + "/MERXa.desktop";
    writeFile(path, "[Desktop Entry]\nName=Old\n");
    chmod(path.c_str(), 0755);
    FileSystemCalls::sCurrent.mRename = [](const char*, const char*) { return errno = EIO, -1; };
    EXPECT_FALSE(gnome_desktop_item_save(item, path.c_str(), TRUE, &error));
    ASSERT_NE(error, nullptr);
    g_clear_error(&error);
    EXPECT_EQ(readFile(path), "[Desktop Entry]\nName=Old\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mHome), {}), 1);

    FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
    ASSERT_TRUE(gnome_desktop_item_save(item, path.c_str(), TRUE, nullptr));
    EXPECT_EQ(readFile(path), "[Desktop Entry]\nName=New\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    gnome_desktop_item_unref(item);
}

// A launcher replaces a link planted under its name instead of writing
// through it, and never takes over setuid, setgid or write access for others.
TEST_F(DesktopItemTest, ModesComeFromTheReplacedRegularFileNeverThroughALink) {
    const struct {
        std::string name;
        mode_t before;  // 0: no file yet
        bool linked;
        mode_t after;
    } cases[] = {
        {"MERXnew", 0, false, 0755},
        {"MERXold", 0644, false, 0644},
        {"MERXsetuid", 04755, false, 0755},
        {"MERXshared", 0666, false, 0644},
        {"MERXsetgid", 02775, false, 0755},
        {"MERXlinked-setuid", 04755, true, 0755},
        {"MERXlinked-shared", 0666, true, 0755},
        {"MERX" + std::string(240, 'x'), 0, false, 0755},  // its temporary name must be shorter
    };
    GnomeDesktopItem* item = gnome_desktop_item_new();
    gnome_desktop_item_set_string(item, "Name", "New");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = mHome + "/" + c.name + ".desktop";
        const std::string planted = c.before != 0 ? plant(path, c.before, c.linked) : "";
        GError* error = nullptr;
        EXPECT_TRUE(gnome_desktop_item_save(item, path.c_str(), TRUE, &error))
            << (error != nullptr ? error->message : "");
        g_clear_error(&error);
        EXPECT_EQ(modeOf(path, true), S_IFREG | c.after);
        if (c.linked) {
            EXPECT_EQ(modeOf(planted), S_IFREG | c.before);
            EXPECT_EQ(readFile(planted), "[S]\nplanted=1\n");
        }
    }
    gnome_desktop_item_unref(item);
}

TEST_F(DesktopItemTest, TemporariesOfAKilledWriterGoAtTheNextSave) {
    const pid_t dead = fork();
    if (dead == 0) {
        _exit(0);
    }
    ASSERT_GT(dead, 0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const std::string gone = ".MERXa.desktop.tmp" + std::to_string(dead) + ".7";
    // A live writer's (init's), another launcher's, and a user's own file stay.
    const std::vector<std::string> kept = {".MERXa.desktop.tmp1.0",
                                           ".MERXb.desktop.tmp" + std::to_string(dead) + ".0",
                                           ".MERXa.desktop.tmp-notes"};
    for (const std::string& name : kept) {
        writeFile(mHome + "/" + name, "x");
    }
    writeFile(mHome + "/" + gone, "[Desktop Entry]\nName=Half");
    GnomeDesktopItem* item = gnome_desktop_item_new();
    gnome_desktop_item_set_string(item, "Name", "New");
    ASSERT_TRUE(gnome_desktop_item_save(item, (mHome + "/MERXa.desktop").c_str(), TRUE, nullptr));
    gnome_desktop_item_unref(item);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(mHome)) {
        left.push_back(entry.path().filename().string());
    }
    std::vector<std::string> expected = kept;
    expected.push_back("MERXa.desktop");
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

}  // namespace
