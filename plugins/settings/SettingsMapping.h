// SPDX-License-Identifier: LGPL-2.1-or-later
// Maps the merged tree of the settings component onto dconf: groups are path
// elements, properties keys, each value typed by the installed schemas, and a
// lock for every key the tree finalises or makes read-only, itself or through
// a group above it (a locked group locks every key the schemas know below it).
//
//   SchemaIndex schemas;
//   SettingsMapping mapping(schemas);
//   SettingsMapping::Result result = mapping.map(*tree.getRoot());
//   result.keyfile();   // "[org/gnome/desktop/screensaver]\nlock-delay=uint32 300\n"
//   result.locks();     // "/org/gnome/desktop/screensaver/lock-delay\n"
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace vesk::legacy {
class Node;
}

namespace vesk::legacy::settings {

class SchemaIndex;

class SettingsMapping {
  public:
    static constexpr const char* kComponent = "com.orvek.ferrun.settings";

    struct Setting {
        std::string key;     // "/org/gnome/desktop/screensaver/lock-delay"
        std::string type;    // "u"
        std::string value;   // "uint32 300"; empty for a lock without a value
        std::string schema;  // the schema that knows the key, "" for none
        bool locked = false;
    };
    // A node left out, by its names below the component, and why.
    struct Skipped {
        std::vector<std::string> names;
        std::string reason;
    };
    struct Result {
        std::map<std::string, Setting> settings;  // by key
        std::set<std::string> lockedKeys;
        std::vector<Skipped> skipped;
        bool empty() const { return settings.empty() && lockedKeys.empty(); }
        std::string keyfile() const;
        std::string locks() const;
    };

    explicit SettingsMapping(const SchemaIndex& schemas) : mSchemas(schemas) {}

    // root: the component's root; null maps to nothing.
    Result map(const Node* root) const;
    // A text that can stand as one dconf path element or key name in a key file.
    static bool isValidName(const std::string& name);

  private:
    void walk(const Node& node, std::vector<std::string>& names, bool locked, Result& result) const;
    void addProperty(const Node& node, const std::vector<std::string>& names, bool locked,
                     Result& result) const;

    const SchemaIndex& mSchemas;
};

}  // namespace vesk::legacy::settings
