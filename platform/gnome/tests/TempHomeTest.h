// Test fixture for the GNOME 2 stand-in: a fresh HOME per test, the real system
// calls, no files held in memory, and the layer's warnings collected.
#ifndef GNOME2_TESTS_TEMP_HOME_TEST_H
#define GNOME2_TESTS_TEMP_HOME_TEST_H

#include <gtest/gtest.h>
#include <stdlib.h>

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
        char name[] = "/tmp/gnome2-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        mHome = name;
        setenv("HOME", mHome.c_str(), 1);
        gnome_config_drop_all();
        gnome2_io_hooks_reset();
        for (const char* domain : {GNOME_CONFIG_LOG_DOMAIN, GNOME_DESKTOP_ITEM_LOG_DOMAIN}) {
            mHandlers.emplace_back(
                domain, g_log_set_handler(domain, G_LOG_LEVEL_WARNING, collect, &mWarnings));
        }
    }

    void TearDown() override {
        for (const auto& handler : mHandlers) {
            g_log_remove_handler(handler.first, handler.second);
        }
        gnome2_io_hooks_reset();
        gnome_config_drop_all();
        std::filesystem::remove_all(mHome);
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

    std::string mHome;
    std::vector<std::string> mWarnings;

  private:
    static void collect(const gchar*, GLogLevelFlags, const gchar* message, gpointer warnings) {
        static_cast<std::vector<std::string>*>(warnings)->push_back(message);
    }

    std::vector<std::pair<const char*, guint>> mHandlers;
};

#endif
