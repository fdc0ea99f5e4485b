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
// folder of mode 0700, files of mode 0600. Names are encoded, so whatever the
// service calls a component, the files stay inside the folder.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vesk::legacy {

class Tree;

class TreeCache {
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
    // The tree file of the component.
    std::string fileOf(const std::string& component) const;

    // Writes the copy unless the one kept came from layers with the same
    // stamps and digest. A folder this process may not write (one filled for it by an
    // administrator) is left alone quietly; other failures are logged.
    void store(const std::string& component, const Tree& tree,
               const std::vector<std::string>& stamps, std::uint64_t layersDigest) const;
    // The copy kept for the component; nullopt when there is none that can be
    // trusted (owned by this user or root, writable by no one else) and read.
    std::optional<Copy> load(const std::string& component) const;

  private:
    std::string stampsFileOf(const std::string& component) const;
    bool readStamps(const std::string& component, std::vector<std::string>& stamps) const;
    bool prepareFolder() const;

    std::string mConnectionString;
    std::string mFolder;
};

}  // namespace vesk::legacy
