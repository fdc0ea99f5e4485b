#include "StartupPlugin.h"

#include "AppVisitor.h"
#include "SessionConfig.h"
#include "StartupConstants.h"
#include "access/ConfigurationAccess.h"
#include "gnome2/gnome-config.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"

namespace vesk::legacy::plugins::startup {

namespace {

const char kCorrupted[] = "Corrupted session-manual";

bool isHandledSuffix(const std::string& suffix) {
    return suffix == kRestartCommand || suffix == kPriority || suffix == kRestartStyleHint;
}

void removeKey(const std::string& path) {
    gnome_config_clean_key_(path.c_str(), FALSE);
}

void setString(const std::string& path, const std::string& value) {
    gnome_config_set_string_(path.c_str(), value.c_str(), FALSE);
}

}  // namespace

StartupPlugin::StartupPlugin(int, const char* const*) {}

StartupPlugin::~StartupPlugin() = default;

void StartupPlugin::execute() {
    // The previous run's record is consumed while reading, so reading comes
    // before the record is refilled from policy.
    readSessionEntries();
    mNewEntries.clear();
    mCommands.clear();
    try {
        Node* list = ConfigurationAccess::defaultInstance().getNode(kStartupNode);
        if (list != nullptr) {
            AppVisitor visitor(mNewEntries, mCommands);
            list->visit(visitor);
            visitor.flush();
        }
    } catch (const Exception& e) {
        Logger::error("An error occurred starting the applications: %s\n",
                      logText(e.getMessage()).c_str());
    }
    writeSessionEntries();
}

void StartupPlugin::readSessionEntries() {
    const int count = gnome_config_get_int_with_default_(kNumClients, nullptr, FALSE);
    removeKey(kNumClients);
    if (count == 0) {
        return;
    }
    mCommands.readCommands(kMERX);
    collectOtherKeys(count);
    for (int index = 0; index < count; ++index) {
        readSessionEntry(index);
    }
    mOldOtherKeys.clear();
}

void StartupPlugin::collectOtherKeys(int count) {
    mOldOtherKeys.clear();
    for (const std::string& key : sectionKeys(kDefault)) {
        int index = 0;
        std::string suffix;
        std::string value;
        // A key our configuration layer cannot address stays where it is.
        if (splitNumberedKey(key, index, suffix) && index < count && !isHandledSuffix(suffix) &&
            readConfigString(kDefault + key, value)) {
            mOldOtherKeys[index].emplace_back(suffix, value);
        }
    }
}

void StartupPlugin::readSessionEntry(int index) {
    const std::string base = kDefault + std::to_string(index);
    const std::string commandKey = base + kRestartCommand;
    const std::string priorityKey = base + kPriority;
    const std::string styleKey = base + kRestartStyleHint;

    std::string command;
    if (!readConfigString(commandKey, command)) {
        throw Exception(kCorrupted);
    }
    auto others = mOldOtherKeys.find(index);
    if (!mCommands.isCommand(command)) {
        mKeptEntries.push_back(command);
        addEntry(priorityKey);
        addEntry(styleKey);
        mKeptOtherKeys.push_back(others != mOldOtherKeys.end() ? others->second : OtherKeys());
    }
    // A dropped entry takes all its keys with it; a kept one gets them back
    // under its new number.
    removeKey(commandKey);
    removeKey(priorityKey);
    removeKey(styleKey);
    if (others != mOldOtherKeys.end()) {
        for (const auto& other : others->second) {
            removeKey(base + other.first);
        }
    }
}

void StartupPlugin::addEntry(const std::string& key) {
    std::string value;
    if (!readConfigString(key, value)) {
        throw Exception(kCorrupted);
    }
    mKeptEntries.push_back(value);
}

void StartupPlugin::writeSessionEntries() const {
    const int kept = static_cast<int>(mKeptEntries.size() / 3);
    const int added = static_cast<int>(mNewEntries.size() / 3);
    const int total = kept + added;
    if (total > 0) {
        gnome_config_set_int_(kNumClients, total, FALSE);
        int index = 0;
        for (int entry = 0; entry < kept; ++entry, ++index) {
            storeEntry(index, entry * 3, mKeptEntries);
            if (static_cast<std::size_t>(entry) < mKeptOtherKeys.size()) {
                storeOtherKeys(index, mKeptOtherKeys[entry]);
            }
        }
        for (int entry = 0; entry < added; ++entry, ++index) {
            storeEntry(index, entry * 3, mNewEntries);
        }
        mCommands.writeCommands(kMERX);
    }
    if (!gnome_config_sync()) {
        Logger::error("The session list could not be saved; session-manual stays as it was.\n");
    }
}

void StartupPlugin::storeEntry(int index, int offset, const std::vector<std::string>& list) const {
    const std::string base = kDefault + std::to_string(index);
    setString(base + kRestartCommand, list[offset]);
    setString(base + kPriority, list[offset + 1]);
    setString(base + kRestartStyleHint, list[offset + 2]);
}

void StartupPlugin::storeOtherKeys(int index, const OtherKeys& keys) const {
    const std::string base = kDefault + std::to_string(index);
    for (const auto& key : keys) {
        setString(base + key.first, key.second);
    }
}

}  // namespace vesk::legacy::plugins::startup
