// SPDX-License-Identifier: LGPL-2.1-or-later
#include "ExportFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "CommandIo.h"
#include "DirectoryLayers.h"
#include "ExitStatus.h"
#include "LayerFileUpdate.h"
#include "PolicyStore.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

const char ExportFolder::kHelp[] =
    "Usage: hollinctl export FOLDER\n"
    "\n"
    "Writes every layer entry of the policy directory (VESK_POLICY_STORE=ldap://...)\n"
    "into FOLDER, new or empty, as a store folder: the inverse of export-ldif.\n";

int ExportFolder::run(const CommandLine& line, CommandIo& io) {
    if (line.getArguments().size() != 1) {
        throw CommandError(kUsage, "export takes one FOLDER");
    }
    const std::string store = PolicyStore::storePath();
    if (store.find("://") == std::string::npos) {
        throw CommandError(kUsage, "export reads a policy directory (ldap://...), not " +
                                       printable(store) + ": copy a store folder with cp -a");
    }
    const std::string& folder = line.getArguments()[0];
    std::error_code error;
    // Into a new or empty folder only: layers left from before would mix in.
    if (std::filesystem::exists(folder, error) && !std::filesystem::is_empty(folder, error)) {
        throw CommandError(kUsage, printable(folder) + " is not empty");
    }
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw CommandError(kServiceError,
                           "cannot make " + printable(folder) + ": " + error.message());
    }
    ::chmod(folder.c_str(), 0755);
    std::vector<std::string> skipped;
    for (const DirectoryLayers::Layer& layer : DirectoryLayers::read(store, skipped)) {
        LayerFileUpdate file(folder, layer.scope, layer.component);
        file.replace(layer.text);
        io.write(printable(file.fileName()) + "\n");
    }
    for (const std::string& reason : skipped) {
        io.complain("left out: " + reason);
    }
    return skipped.empty() ? kSuccess : kNotFound;
}

}  // namespace vesk::legacy::hollinctl
