// SPDX-License-Identifier: LGPL-2.1-or-later
// One dconf system database written by root: its key file and locks in
// <root>/<name>.d/, compiled into <root>/<name> by `dconf compile` into a
// temporary file and a rename (only this database, unlike `dconf update`),
// the replaced file invalidated and dconf's change signal sent on the system
// bus, so that running sessions read it again.
//
//   DconfDatabase database("hollin_1000");
//   database.write(result.keyfile(), result.locks());  // throws std::runtime_error
#pragma once

#include <string>

namespace vesk::legacy::settings {

class DconfDatabase {
  public:
    explicit DconfDatabase(std::string name, std::string root = "/etc/dconf/db");

    // Letters, digits and "_": the name becomes part of a D-Bus object path.
    static bool isValidName(const std::string& name);

    // False when the files and the compiled database were up to date and
    // nothing was written. Throws std::runtime_error naming the file and why.
    bool write(const std::string& keyfile, const std::string& locks) const;
    // Takes the database and its folder away and tells running sessions;
    // false when there was nothing to remove.
    bool remove() const;
    bool exists() const;

    const std::string& file() const { return mFile; }
    std::string keyfileName() const { return mFile + ".d/hollin"; }
    std::string locksName() const { return mFile + ".d/locks/hollin"; }

    // What `dconf update` sends: running sessions of every profile naming
    // the database read it again. A system bus that cannot be reached is
    // logged; the database stays written.
    static void announce(const std::string& name);

  private:
    void compile() const;

    std::string mName;
    std::string mFile;
};

}  // namespace vesk::legacy::settings
