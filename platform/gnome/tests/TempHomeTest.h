// SPDX-License-Identifier: LGPL-2.1-or-later
// Test fixture for the GNOME 2 stand-in: a fresh HOME per test, the real system
// calls, no files held in memory, and the layer's warnings collected.
#ifndef GNOME2_TESTS_TEMP_HOME_TEST_H
#define GNOME2_TESTS_TEMP_HOME_TEST_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "gnome2-io.h"
#include "gnome2/gnome-config.h"
#include "gnome2/gnome-desktop-item.h"
#include "output/FileSystemCalls.h"

using vesk::legacy::FileSystemCalls;

using testsupport::readFile;

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string fixture(const std::string& name) {
    return readFile(std::string(HOLLIN_SOURCE_DIR) + "/platform/gnome/tests/data/" + name);
}

class TempHomeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("HOME", mHome.c_str(), 1);
        gnome_config_drop_all();
        FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
        mSavedMask = umask(022);
        for (const char* domain : {GNOME_CONFIG_LOG_DOMAIN, GNOME_DESKTOP_ITEM_LOG_DOMAIN}) {
            mHandlers.emplace_back(
                domain, g_log_set_handler(domain, G_LOG_LEVEL_WARNING, collect, &mWarnings));
        }
    }

    void TearDown() override {
        for (const auto& handler : mHandlers) {
            g_log_remove_handler(handler.first, handler.second);
        }
        FileSystemCalls::sCurrent = FileSystemCalls::kSystem;
        umask(mSavedMask);
        gnome_config_drop_all();
    }

    std::string config(const std::string& file = "") const { return mHome + "/.gnome2/" + file; }

    // Places a settings file in ~/.gnome2 as if the user had it before.
    void install(const std::string& file, const std::string& text) const {
        std::filesystem::create_directories(config());
        writeFile(config(file), text);
    }

    bool warned(const std::string& part) const {
        return std::any_of(mWarnings.begin(), mWarnings.end(),
                           [&](const std::string& w) { return w.find(part) != std::string::npos; });
    }

    // The permission bits and type of path (of a link itself when link), 0 when
    // there is nothing.
    static mode_t modeOf(const std::string& path, bool link = false) {
        struct stat st;
        return (link ? lstat : stat)(path.c_str(), &st) == 0 ? st.st_mode : 0;
    }

    // A file of that mode at path, or (asLink) a symbolic link there to
    // a file of that mode elsewhere, in mHome/elsewhere.
    std::string plant(const std::string& path, mode_t mode, bool asLink) const {
        std::string file = path;
        if (asLink) {
            std::filesystem::create_directories(mHome + "/elsewhere");
            file = mHome + "/elsewhere/" + path.substr(path.rfind('/') + 1);
            std::filesystem::create_symlink(file, path);
        }
        writeFile(file, "[S]\nplanted=1\n");
        chmod(file.c_str(), mode);
        return file;
    }

    const testsupport::TempDir mScratch{"gnome2-test"};
    const std::string mHome = mScratch.path;
    std::vector<std::string> mWarnings;
    mode_t mSavedMask = 022;

  private:
    static void collect(const gchar*, GLogLevelFlags, const gchar* message, gpointer warnings) {
        static_cast<std::vector<std::string>*>(warnings)->push_back(message);
    }

    std::vector<std::pair<const char*, guint>> mHandlers;
};

#endif
