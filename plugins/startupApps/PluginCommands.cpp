// SPDX-License-Identifier: LGPL-2.1-or-later
#include "PluginCommands.h"

#include "SessionConfig.h"
#include "StartupConstants.h"
#include "gnome2/gnome-config.h"

namespace vesk::legacy::plugins::startup {

void PluginCommands::readCommands(const std::string& prefix) {
    mCommands.clear();
    const std::string numItems = prefix + kNumItems;
    const int count = gnome_config_get_int_with_default_(numItems.c_str(), nullptr, FALSE);
    // Walk the keys that exist rather than every number below the count: a
    // damaged count such as 2000000000 must not stall the login.
    if (count > 0) {
        for (const std::string& key : sectionKeys(prefix)) {
            int index = 0;
            std::string suffix;
            std::string command;
            const std::string path = prefix + key;
            if (splitNumberedKey(key, index, suffix) && suffix == kCommandSuffix && index < count &&
                readConfigString(path, command)) {
                addCommand(command);
                gnome_config_clean_key_(path.c_str(), FALSE);
            }
        }
    }
    gnome_config_clean_key_(numItems.c_str(), FALSE);
}

void PluginCommands::writeCommands(const std::string& prefix) const {
    int written = 0;
    for (const auto& recorded : mCommands) {
        for (int i = 0; i < recorded.second; ++i) {
            const std::string path = prefix + std::to_string(written) + kCommandSuffix;
            gnome_config_set_string_(path.c_str(), recorded.first.c_str(), FALSE);
            ++written;
        }
    }
    if (written >= 1) {
        const std::string numItems = prefix + kNumItems;
        gnome_config_set_string_(numItems.c_str(), std::to_string(written).c_str(), FALSE);
    }
}

bool PluginCommands::isCommand(const std::string& command) {
    auto found = mCommands.find(command);
    if (found == mCommands.end() || found->second == 0) {
        return false;
    }
    --found->second;
    return true;
}

void PluginCommands::addCommand(const std::string& command) {
    ++mCommands[command];
}

}  // namespace vesk::legacy::plugins::startup
