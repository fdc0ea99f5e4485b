// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SettingsCheck.h"

#include <dirent.h>

#include <memory>
#include <sstream>

#include "MandatoryProfile.h"
#include "SchemaIndex.h"
#include "SettingValue.h"
#include "SettingsMapping.h"
#include "model/Node.h"
#include "model/PropertyNode.h"
#include "output/RegularFile.h"

namespace vesk::legacy::settings {

namespace {

const SchemaIndex& schemas() {
    static const std::unique_ptr<SchemaIndex> index = std::make_unique<SchemaIndex>();
    return *index;
}

std::string pathOf(const std::vector<std::string>& names) {
    std::string path;
    for (const std::string& name : names) {
        path += "/" + name;
    }
    return path;
}

}  // namespace

std::set<std::string> SettingsCheck::siteLocks(const std::vector<std::string>& databases,
                                               const std::string& root) {
    std::set<std::string> locks;
    for (const std::string& line : databases) {
        const std::string folder = root + "/" + line.substr(line.find(':') + 1) + ".d/locks";
        DIR* listing = ::opendir(folder.c_str());
        while (const struct dirent* entry = listing != nullptr ? ::readdir(listing) : nullptr) {
            std::string text, problem;
            if (entry->d_name[0] == '.' ||
                !readRegularFile(folder + "/" + entry->d_name, 1024 * 1024, "too large", text,
                                 problem)) {
                continue;
            }
            std::istringstream lines(text);
            std::string key;
            while (std::getline(lines, key)) {
                if (!key.empty() && key[0] == '/') {
                    locks.insert(key.substr(0, key.find_last_not_of(" \t\r") + 1));
                }
            }
        }
        if (listing != nullptr) {
            ::closedir(listing);
        }
    }
    return locks;
}

std::vector<std::string> SettingsCheck::run(const Node* root) {
    std::vector<std::string> warnings;
    const SettingsMapping::Result result = SettingsMapping(schemas()).map(root);
    for (const SettingsMapping::Skipped& skipped : result.skipped) {
        warnings.push_back(pathOf(skipped.names) + ": " + skipped.reason);
    }
    for (const auto& [key, setting] : result.settings) {
        if (!setting.schema.empty()) {
            continue;
        }
        const std::string near = schemas().closest(key);
        warnings.push_back(key + ": no installed schema knows this key" +
                           (near.empty() ? "" : " (did you mean " + near + "?)"));
    }
    const std::set<std::string> site = siteLocks(MandatoryProfile(0).siteDatabases());
    for (const std::string& key : result.lockedKeys) {
        if (site.count(key) != 0 && result.settings.count(key) != 0) {
            warnings.push_back(key +
                               ": a database of the site's profile locks this key already; "
                               "the policy's value wins for users it is applied to");
        }
    }
    return warnings;
}

std::string SettingsCheck::describe(const std::vector<std::string>& names,
                                    const PropertyNode& property) {
    const std::string key = pathOf(names);
    const SchemaIndex::Key* known = schemas().find(key);
    std::string reason;
    SettingValue value =
        SettingValue::convert(property, known != nullptr ? known->type.c_str() : nullptr, reason);
    if (value && known != nullptr && !SchemaIndex::inRange(*known, value.get())) {
        reason = value.text() + " is not " + SchemaIndex::describeRange(*known);
        value = SettingValue();
    }
    const std::string type = known != nullptr ? known->type : SettingValue::ownType(property);
    std::string text = "dconf key " + key + " (" +
                       (known != nullptr ? "schema " + known->schema : "no schema knows it") +
                       ", type " + type + "), ";
    return text + (value ? "written as " + value.text() : "not written: " + reason);
}

}  // namespace vesk::legacy::settings
