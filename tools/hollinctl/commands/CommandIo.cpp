#include "CommandIo.h"

#include <sys/stat.h>

#include <cerrno>

#include "CommandLine.h"
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

void CommandIo::noteServed(const std::string& component, const std::string& entity) {
    try {
        ConfigurationAccess access(entity);
        noteServed(access, component);
    } catch (const std::exception&) {
        // The layers' own read below says what fails.
    }
}

int CommandIo::reportBroken(const CommandLine& line, const std::vector<LayerInfo>& layers) {
    bool broken = false;
    for (const LayerInfo& layer : layers) {
        if (layer.error.failed) {
            complain("warning: " + brokenText(layer) + "; only what comes before is applied");
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
    std::string folder;
    if (line.hasEntity() && !line.getEntity().empty()) {
        folder = "entities/" + line.getEntity();
    } else if (line.hasUser()) {
        folder = "users/" + line.getUser();
    }
    struct stat info;
    if (!folder.empty() && ::stat((store + "/" + folder).c_str(), &info) != 0 && errno == ENOENT) {
        complain("warning: the store " + printable(store) + " has no folder " + printable(folder) +
                 " (a misspelt name?)");
    }
}

}  // namespace vesk::legacy::hollinctl
