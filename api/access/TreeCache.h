// SPDX-License-Identifier: LGPL-2.1-or-later
// The last-known-good copies of components' trees: after a build from layers
// that all read in full the facade keeps the tree in a file, and serves that
// file when, at a later start, the layers cannot be read in full.
//
//   TreeCache cache("", TreeCache::defaultFolder());
//   std::uint64_t digest = TreeCache::kDigestStart;
//   for (...) digest = TreeCache::digest(digest, layerText);
//   cache.store("org.example", tree, stamps, digest);  // skipped when nothing changed
//   std::optional<TreeCache::Copy> copy = cache.load("org.example");
//
// One tree file and one stamps file per connection string and component, in a
// folder of mode 0700, files of mode 0600, written and read under a lock on
// the folder. The stamps file records the user and the connection string the
// copy was made for; a copy made for someone else is never served. Names are
// encoded, so whatever the service calls a component, the files stay inside
// the folder, and the folder is used only where no one but root and this
// user can change it (see TrustedFolder).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/HollinExport.h"

namespace vesk::legacy {

class Tree;

class HOLLIN_EXPORT TreeCache {
  public:
    // A copy read back.
    struct Copy {
        std::unique_ptr<Tree> tree;  // never null, with a root
        std::string file;
        std::time_t written = 0;
        std::vector<std::string> stamps;  // of the layers it came from
    };

    // folder empty: no copies are kept or read.
    TreeCache(std::string connectionString, std::string folder);

    // $HOLLIN_CACHE_DIR (a value that is not an absolute path, such as "off",
    // keeps no copies), else $XDG_CACHE_HOME/hollin, else $HOME/.cache/hollin
    // (the home from the user database when $HOME is unset), else, for a
    // process without a usable home, /var/cache/hollin. A relative
    // XDG_CACHE_HOME is ignored.
    static std::string defaultFolder();
    // Keeps letters, digits, "-", "_" and "." (not leading); every other byte
    // becomes "%XX". Long names are cut and end in a hash, to fit a file name.
    static std::string encodeName(const std::string& name);

    // A digest of the layers' texts, one added at a time: the same layers
    // give the same tree, so a copy with the same stamps and digest is not
    // written again. Not a defence against anyone.
    static constexpr std::uint64_t kDigestStart = 14695981039346656037ull;
    static std::uint64_t digest(std::uint64_t previous, const std::string& text);

    const std::string& getFolder() const { return mFolder; }
    // Off, no process-wide store() writes: for commands that only read, so
    // that what they read never replaces a copy another program relies on.
    static void setWritesCopies(bool writes);

    // The tree file of the component.
    std::string fileOf(const std::string& component) const;

    // Writes the copy unless the one kept came from layers with the same
    // stamps and digest. A folder this process may not write (one filled for it by an
    // administrator) is left alone quietly; other failures are logged. False
    // when writing failed (a full disk), so that the caller may try again.
    bool store(const std::string& component, const Tree& tree,
               const std::vector<std::string>& stamps, std::uint64_t layersDigest) const;
    // The copy kept for the component; nullopt when there is none that can be
    // trusted (owned by this user or root, writable by no one else) and read.
    std::optional<Copy> load(const std::string& component) const;

  private:
    // What a stamps file says.
    struct Record {
        std::string text;
        bool recorded = false;  // says whom the copy was made for
        std::string user;       // encoded as in the file
        std::string connection;
        std::vector<std::string> stamps;
    };

    std::string stampsFileOf(const std::string& component) const;
    bool readStamps(int folder, const std::string& component, Record& record) const;
    // The folder's descriptor, or minus the errno of the failure (logged
    // where it matters): logging may change errno before the caller looks.
    int openFolder(bool create) const;

    std::string mConnectionString;
    std::string mFolder;
    std::string mUser;  // whose policy the copies hold
};

}  // namespace vesk::legacy
