// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SchemaIndex.h"

#include <gio/gio.h>

#include <algorithm>

#include "model/EditDistance.h"

namespace vesk::legacy::settings {

namespace {

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

SchemaIndex::SchemaIndex() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return;
    }
    gchar** fixed = nullptr;
    g_settings_schema_source_list_schemas(source, TRUE, &fixed, nullptr);
    for (gchar** id = fixed; id != nullptr && *id != nullptr; ++id) {
        GSettingsSchema* schema = g_settings_schema_source_lookup(source, *id, TRUE);
        const gchar* folder = schema != nullptr ? g_settings_schema_get_path(schema) : nullptr;
        if (folder != nullptr) {
            gchar** names = g_settings_schema_list_keys(schema);
            for (gchar** name = names; *name != nullptr; ++name) {
                Key& entry = mKeys[std::string(folder) + *name];
                if (entry.key != nullptr) {
                    continue;  // two schemas on one path: the first one read decides
                }
                entry.schema = *id;
                entry.key = g_settings_schema_get_key(schema, *name);
                gchar* type =
                    g_variant_type_dup_string(g_settings_schema_key_get_value_type(entry.key));
                entry.type = type;
                g_free(type);
            }
            g_strfreev(names);
        }
        if (schema != nullptr) {
            g_settings_schema_unref(schema);
        }
    }
    g_strfreev(fixed);
}

SchemaIndex::~SchemaIndex() {
    for (auto& [path, key] : mKeys) {
        g_settings_schema_key_unref(key.key);
    }
}

const SchemaIndex::Key* SchemaIndex::find(const std::string& path) const {
    auto found = mKeys.find(path);
    return found == mKeys.end() ? nullptr : &found->second;
}

std::vector<std::string> SchemaIndex::keysBelow(const std::string& folder) const {
    std::vector<std::string> keys;
    for (auto it = mKeys.lower_bound(folder);
         it != mKeys.end() && it->first.compare(0, folder.size(), folder) == 0; ++it) {
        keys.push_back(it->first);
    }
    return keys;
}

std::string SchemaIndex::closest(const std::string& path) const {
    const std::string folder = folderOf(path);
    const std::string name = path.substr(folder.size());
    std::string best;
    size_t bestDistance = std::max<size_t>(2, name.size() / 3) + 1;
    for (const std::string& candidate : keysBelow(folder)) {
        if (folderOf(candidate) != folder) {
            continue;
        }
        const size_t distance = editDistance(name, candidate.substr(folder.size()));
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

bool SchemaIndex::inRange(const Key& key, GVariant* value) {
    return g_variant_is_of_type(value, g_settings_schema_key_get_value_type(key.key)) &&
           g_settings_schema_key_range_check(key.key, value);
}

std::string SchemaIndex::describeRange(const Key& key) {
    GVariant* range = g_settings_schema_key_get_range(key.key);
    const gchar* kind = nullptr;
    GVariant* detail = nullptr;
    g_variant_get(range, "(&sv)", &kind, &detail);
    std::string text;
    if (g_strcmp0(kind, "range") == 0) {
        GVariant* low = g_variant_get_child_value(detail, 0);
        GVariant* high = g_variant_get_child_value(detail, 1);
        gchar* lowText = g_variant_print(low, FALSE);
        gchar* highText = g_variant_print(high, FALSE);
        text = std::string("from ") + lowText + " to " + highText;
        g_free(lowText);
        g_free(highText);
        g_variant_unref(low);
        g_variant_unref(high);
    } else if (g_strcmp0(kind, "enum") == 0 || g_strcmp0(kind, "flags") == 0) {
        gchar* choices = g_variant_print(detail, FALSE);
        text = std::string(g_strcmp0(kind, "flags") == 0 ? "any of " : "one of ") + choices;
        g_free(choices);
    }
    g_variant_unref(detail);
    g_variant_unref(range);
    return text;
}

}  // namespace vesk::legacy::settings
