// SPDX-License-Identifier: LGPL-2.1-or-later
#include "CommandIo.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "CommandLine.h"
#include "DidYouMean.h"
#include "ExitStatus.h"
#include "PolicyStore.h"
#include "TextEscape.h"
#include "access/ConfigurationAccess.h"

namespace vesk::legacy::hollinctl {

void CommandIo::write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), mOut);
}

void CommandIo::complain(const std::string& message) {
    std::fprintf(mErr, "hollinctl: %s\n", message.c_str());
}

bool CommandIo::noteServed(ConfigurationAccess& access, const std::string& component) {
    if (access.isComplete(component)) {
        return false;
    }
    complain("note: for " + printable(component) + ", programs starting now get " +
             printable(access.getIncompleteReason(component)));
    return true;
}

bool CommandIo::servesKeptCopy(ConfigurationAccess& access, const std::string& component) {
    return !access.isComplete(component) &&
           access.getIncompleteReason(component).compare(0, 12, "the copy in ") == 0;
}

std::shared_ptr<const Tree> CommandIo::noteServed(const std::string& component,
                                                  const std::string& entity) {
    try {
        ConfigurationAccess access(entity);
        if (noteServed(access, component) && servesKeptCopy(access, component)) {
            return access.snapshot(component);
        }
    } catch (const std::exception&) {
        // The layers' own read below says what fails.
    }
    return nullptr;
}

int CommandIo::reportBroken(const CommandLine& line, const std::vector<LayerInfo>& layers,
                            bool keptCopy) {
    bool broken = false;
    for (const LayerInfo& layer : layers) {
        if (layer.error.failed) {
            complain("warning: " +
                     (keptCopy ? brokenText(layer) + "; programs starting now apply the kept "
                                                     "copy, shown here"
                               : brokenWarning(layer)));
            broken = true;
        }
    }
    return broken && line.isStrict() ? kBrokenLayer : kSuccess;
}

void CommandIo::warnOfMissingFolder(const CommandLine& line) {
    const std::string store = PolicyStore::storePath();
    if (store.find("://") != std::string::npos) {
        return;
    }
    // Scopes named on the command line; not --user: most users have no folder
    // of their own.
    std::vector<std::string> named;
    if (line.hasEntity() && !line.getEntity().empty()) {
        named.push_back("entities/" + line.getEntity());
    }
    for (const std::string& group : line.getGroups()) {
        named.push_back("groups/" + group);
    }
    if (line.hasHost()) {
        named.push_back("hosts/" + line.getHost());
    }
    for (const std::string& folder : named) {
        struct stat info;
        if (::stat((store + "/" + folder).c_str(), &info) == 0 || errno != ENOENT) {
            continue;
        }
        const size_t slash = folder.find('/');
        std::vector<std::string> known;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(store + "/" + folder.substr(0, slash), error)) {
            known.push_back(entry.path().filename().string());
        }
        const std::string hint = DidYouMean::hint(folder.substr(slash + 1), known);
        complain("warning: the store " + printable(store) + " has no folder " + printable(folder) +
                 (hint.empty() ? " (a misspelt name?)" : hint));
    }
}

}  // namespace vesk::legacy::hollinctl
