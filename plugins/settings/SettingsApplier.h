// SPDX-License-Identifier: LGPL-2.1-or-later
// Applies one user's settings policy: the tree mapped onto the database
// hollin_<uid> and the user's mandatory profile naming it; an empty tree takes
// both away. Nothing is written when nothing changed.
//
//   SettingsApplier applier(SettingsApplier::Places::system());
//   SettingsApplier::Outcome outcome = applier.apply("alice");   // throws std::runtime_error
#pragma once

#include <sys/types.h>
#include <string>

namespace vesk::legacy::settings {

class SchemaIndex;

class SettingsApplier {
  public:
    // Where the files go; the tests point them elsewhere.
    struct Places {
        std::string databases = "/etc/dconf/db";
        std::string profiles = "/run/dconf/user";
        std::string cache;  // the kept copies
        static Places system();
    };
    enum class Outcome { Written, Unchanged, Removed, NoPolicy };

    explicit SettingsApplier(Places places) : mPlaces(std::move(places)) {}

    // Throws std::runtime_error with the message for the administrator: an
    // unknown user, a store that cannot be read without a kept copy, a file
    // that cannot be written.
    Outcome apply(const std::string& user) const;
    // Takes the user's database and profile away; false when there was none.
    bool remove(const std::string& user) const;

    static std::string databaseName(uid_t uid) { return "hollin_" + std::to_string(uid); }

  private:
    Places mPlaces;
};

}  // namespace vesk::legacy::settings
