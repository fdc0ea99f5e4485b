// SPDX-License-Identifier: LGPL-2.1-or-later
// The keys the installed GSettings schemas give a fixed dconf path, indexed by
// that path, with the type each is stored as and its range or choices.
//
//   SchemaIndex schemas;                     // the default schema source
//   if (const SchemaIndex::Key* key = schemas.find("/org/gnome/desktop/screensaver/lock-delay"))
//       key->type;                           // "u"
#pragma once

#include <map>
#include <string>
#include <vector>

typedef struct _GSettingsSchemaKey GSettingsSchemaKey;
typedef struct _GVariant GVariant;

namespace vesk::legacy::settings {

class SchemaIndex {
  public:
    struct Key {
        std::string schema;  // "org.gnome.desktop.screensaver"
        std::string type;    // GVariant type text: "u", "s", "as", ...
        GSettingsSchemaKey* key = nullptr;
    };

    // Reads the default schema source (GSETTINGS_SCHEMA_DIR and the data
    // directories); a machine without schemas gives an empty index.
    SchemaIndex();
    ~SchemaIndex();
    SchemaIndex(const SchemaIndex&) = delete;
    SchemaIndex& operator=(const SchemaIndex&) = delete;

    const Key* find(const std::string& path) const;
    // Every known key at the folder ("/org/gnome/") or below it.
    std::vector<std::string> keysBelow(const std::string& folder) const;
    // The known key in the same folder closest in spelling to path, "" when
    // none is close.
    std::string closest(const std::string& path) const;
    // Whether the value lies in the key's range or choices; false also for a
    // value of another type.
    static bool inRange(const Key& key, GVariant* value);
    // "one of 'a', 'b'" or "from 0 to 10", for messages; "" when any value of
    // the type will do.
    static std::string describeRange(const Key& key);

  private:
    std::map<std::string, Key> mKeys;
};

}  // namespace vesk::legacy::settings
