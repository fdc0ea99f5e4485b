// A scratch world for running the built startlist: a HOME, a policy store with
// a default layer of startup applications, and the program's exit status and
// standard error.
//
//   StartlistRun run;
//   run.setApplications({{"clock", "xclock", "20"}});
//   run.installSession(fixture("three-entries-one-ours"));
//   ASSERT_EQ(run.run(), 0);
//   EXPECT_EQ(run.session(), fixture("three-entries-one-ours.expected"));
#pragma once

#include <string>
#include <vector>

namespace startlist_test {

struct Application {
    std::string node;     // node name, decides the order of the entries
    std::string command;  // XML text; "" leaves the property out
    std::string order;    // XML text; "" leaves the property out
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
// A file of tests/data.
std::string fixture(const std::string& name);

class StartlistRun {
  public:
    StartlistRun();
    ~StartlistRun();

    // The default layer of the store lists exactly these applications.
    void setApplications(const std::vector<Application>& apps);
    // No layer at all: the startup list does not exist.
    void removeApplications();
    // The store directory is missing: the policy service cannot be opened.
    void breakStore();

    void installSession(const std::string& text) const;
    bool hasSession() const;
    std::string session() const;
    std::string sessionPath() const { return mHome + "/.gnome2/session-manual"; }
    const std::string& home() const { return mHome; }

    // Runs startlist with VESKLEG_LOG=1; the exit status, or -1 when it did
    // not exit normally.
    int run();
    const std::string& errors() const { return mErrors; }

  private:
    std::string mRoot;
    std::string mHome;
    std::string mStore;
    std::string mErrors;
};

}  // namespace startlist_test
