// SPDX-License-Identifier: LGPL-2.1-or-later
#include "StartupPlugin.h"

#include <cstdlib>
#include <exception>
#include <utility>

#include "AppVisitor.h"
#include "AutostartWriter.h"
#include "DesktopFolder.h"
#include "ManagedFile.h"
#include "PolicyCopy.h"
#include "SessionConfig.h"
#include "StartupConstants.h"
#include "access/ConfigurationAccess.h"
#include "gnome2/gnome-config.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/Node.h"
#include "model/NodePath.h"

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

StartupPlugin::~StartupPlugin() {
    if (!mListening) {
        return;
    }
    NodePath path;
    path.setPath(kStartupNode);
    try {
        ConfigurationAccess::defaultInstance().removeListener(path, this);
    } catch (const Exception& e) {
        Logger::error(
            "An error occurred while stopping to listen for the startup applications: "
            "%s\n",
            logText(e.getMessage()).c_str());
    }
}

PolicyCopy StartupPlugin::readList(const ChangeOutcome& outcome) const {
    try {
        return outcome.tree
                   ? PolicyCopy::take(outcome.tree, outcome.complete, kStartupNode)
                   : PolicyCopy::take(ConfigurationAccess::defaultInstance(), kStartupNode);
    } catch (const Exception& e) {
        Logger::error("An error occurred starting the applications: %s\n",
                      logText(e.getMessage()).c_str());
    }
    return PolicyCopy();
}

void StartupPlugin::execute() {
    write(mRetry.generation(), readList());
}

void StartupPlugin::onChangeComplete() {
    onChangeCompleteWith(ChangeOutcome());
}

void StartupPlugin::onChangeCompleteWith(const ChangeOutcome& outcome) {
    try {
        write(mRetry.generation(), readList(outcome));
    } catch (const Exception& e) {
        Logger::error("An error occurred while running the startup applications plugin: %s\n",
                      logText(e.getMessage()).c_str());
    }
}

void StartupPlugin::write(std::uint64_t since, const PolicyCopy& copy) {
    // A corrupted list is nothing a retry can mend: it settles, and leaves
    // the first run with its Exception; a retry logs it as the host would.
    std::exception_ptr corrupted;
    bool first = true;
    mRetry.runUnlessReplaced(since, [this, copy, first, &corrupted]() mutable {
        const bool synchronous = std::exchange(first, false);
        try {
            return rewrite(copy.node.get(), copy.complete);
        } catch (const Exception& e) {
            settle(true);
            if (synchronous) {
                corrupted = std::current_exception();  // only while run() runs it
            } else {
                Logger::error(
                    "An error occurred while running the startup applications plugin: %s\n",
                    logText(e.getMessage()).c_str());
            }
            return true;
        }
    });
    if (corrupted) {
        std::rethrow_exception(corrupted);
    }
}

bool StartupPlugin::removeWritten() {
    bool removed = true;
    try {
        // An empty list read in full takes back all that earlier runs wrote.
        removed = rewrite(nullptr, true) && isSettled();
    } catch (const Exception& e) {
        Logger::error("Could not remove the startup applications: %s\n",
                      logText(e.getMessage()).c_str());
        removed = false;
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        const std::string plain = std::string(home) + (home[1] != '\0' ? "/Desktop" : "Desktop");
        std::string named = launchers::userDesktopDir();
        while (named.size() > 1 && named.back() == '/') {
            named.pop_back();
        }
        for (const std::string& dir : {plain, named}) {
            if (!dir.empty()) {
                ManagedFile::removeAll(dir, {}, "launcher");
            }
        }
    }
    return removed;
}

bool StartupPlugin::rewrite(const Node* list, bool complete) {
    const bool autostarted = writeAutostartEntries(list, complete);
    // The previous run's record is consumed while reading, so reading comes
    // before the record is refilled from policy. A retry reads again what the
    // failed run left in memory.
    mKeptEntries.clear();
    mKeptOtherKeys.clear();
    readSessionEntries();
    mNewEntries.clear();
    mCommands.clear();
    if (list != nullptr) {
        try {
            AppVisitor visitor(mNewEntries, mCommands);
            list->visit(visitor);
            visitor.flush();
        } catch (const Exception& e) {
            Logger::error("An error occurred starting the applications: %s\n",
                          logText(e.getMessage()).c_str());
        }
    }
    // A failed autostart entry is retried with the session, like it.
    const bool saved = writeSessionEntries() && autostarted;
    if (saved) {
        settle(complete);
        return true;
    }
    // Nothing to wait for when no retry can save it.
    const bool forGood = gnome_config_sync_failed_for_good();
    settle(forGood);
    return forGood;
}

bool StartupPlugin::writeAutostartEntries(const Node* list, bool complete) const {
    // From a policy read in part the applications it lost would go; the
    // entries of the last full read stay until the next one.
    if (!complete) {
        Logger::info("The autostart entries stay as they were until the policy is read in full\n");
        return true;
    }
    std::vector<StartupApp> apps;
    try {
        if (list != nullptr) {
            std::vector<std::string> entries;
            PluginCommands commands;
            AppVisitor visitor(entries, commands, &apps);
            list->visit(visitor);
            visitor.flush();
        }
        // An entry that could not be saved (a full disk) fails the run even
        // when session-manual then saves: space that comes back between the
        // two would otherwise end startlist with the old entry in place.
        return AutostartWriter(AutostartWriter::defaultDir()).write(apps);
    } catch (const Exception& e) {
        Logger::error("An error occurred writing the autostart entries: %s\n",
                      logText(e.getMessage()).c_str());
        return false;
    }
}

void StartupPlugin::settle(bool settled) {
    {
        std::lock_guard<std::mutex> lock(mSettledMutex);
        mSettled = settled;
    }
    mSettledChanged.notify_all();
}

bool StartupPlugin::isSettled() const {
    std::lock_guard<std::mutex> lock(mSettledMutex);
    return mSettled;
}

void StartupPlugin::followUntilWritten(std::chrono::seconds limit) {
    if (isSettled()) {
        return;
    }
    NodePath path;
    path.setPath(kStartupNode);
    try {
        ConfigurationAccess::defaultInstance().addListener(path, this);
        mListening = true;
    } catch (const Exception& e) {
        Logger::error("Cannot listen for changes to the startup applications: %s\n",
                      logText(e.getMessage()).c_str());
        return;
    }
    Logger::info("waiting to write the startup applications from the policy in full\n");
    // The policy may have come back between the first read and the
    // registration, which no change event reports.
    const std::uint64_t since = mRetry.generation();
    const PolicyCopy copy = readList();
    if (copy.complete) {
        try {
            write(since, copy);
        } catch (const Exception& e) {
            Logger::error("An error occurred while running the startup applications plugin: %s\n",
                          logText(e.getMessage()).c_str());
        }
    }
    std::unique_lock<std::mutex> lock(mSettledMutex);
    if (!mSettledChanged.wait_for(lock, limit, [this] { return mSettled; })) {
        Logger::warning(
            "The startup applications could not be written from the policy in full within %lld "
            "s; the next login tries again\n",
            static_cast<long long>(limit.count()));
    }
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

bool StartupPlugin::writeSessionEntries() const {
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
        return false;
    }
    return true;
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
