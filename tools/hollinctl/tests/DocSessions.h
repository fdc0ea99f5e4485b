// SPDX-License-Identifier: LGPL-2.1-or-later
// Runs the console sessions of a document as written on a scratch store, so
// that the documentation cannot drift from the tool. A line "$ COMMAND" runs
// in sh with hollinctl on the PATH; the lines after it are its output ("..."
// stands for any lines), or the input of a "cat > FILE". Root's "# COMMAND"
// lines work on system folders and are not run.
// A "<!-- layer: SCOPE/FILE -->" before an xml block puts the block there
// (an absolute path: outside the store); "<!-- layer: SCOPE/FILE as NAME -->"
// keeps it under NAME, "<!-- layer: SCOPE/FILE from NAME -->" writes a kept
// block again; "<!-- store: empty -->" starts again from an empty store.
// "<!-- store: directory -->" makes the layers and the console block after
// it a session on a directory: those run only where one is given
// (onDirectory), the others only where none is. The store those layers went
// to is loaded into the directory before the next command. Compared with
// times, stamps, the scratch paths, the directory's names and this
// machine's user, groups and host masked and runs of blanks taken as one.
//
//   DocSessions sessions(scratch);
//   sessions.run("README.md");
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class DocSessions {
  public:
    explicit DocSessions(std::filesystem::path scratch);

    // Puts the layers of the scratch file store into the directory, in
    // place of those it put there before.
    using Loader = std::function<void(const std::filesystem::path& store)>;
    // Runs the directory sessions instead, with VESK_POLICY_STORE at url;
    // the documents' names (a URL, DNs) stand for the given ones.
    void onDirectory(std::string url, std::vector<std::pair<std::string, std::string>> names,
                     Loader load);

    // Runs the document's sessions (a path below the source folder); each
    // difference is a test failure naming the document's line.
    void run(const std::string& documentName);

  private:
    std::string local(std::string text) const;
    std::string masked(std::string text) const;

    std::filesystem::path mDir;
    std::string mUser;
    std::string mGroup;
    std::string mHost;
    std::string mDirectory;                                   // empty: the sessions on a file store
    std::vector<std::pair<std::string, std::string>> mNames;  // documented, local
    Loader mLoad;
};
