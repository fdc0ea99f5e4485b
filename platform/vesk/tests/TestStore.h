// A policy store in a fresh temporary directory, named by VESK_POLICY_STORE
// for the length of one test, with what the process really is: its user,
// groups and host.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "papi.h"

namespace vesk::legacy::store::test {

class TestStore : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes <store>/<scope>/<component>.xml, creating folders as needed,
    // with a fixed modification time unless mtime is negative.
    void writeLayer(const std::string& scope, const std::string& component, const std::string& data,
                    long mtime = 1733500000);
    // Writes through a temporary file and a rename, as editors do.
    void replaceLayer(const std::string& scope, const std::string& component,
                      const std::string& data);
    // Any file below the store, folders created as needed.
    void writeStoreFile(const std::string& relative, const std::string& data);
    void removeLayer(const std::string& scope, const std::string& component);
    void makeFolder(const std::string& relative);
    void removeTree(const std::string& relative);
    std::string path(const std::string& relative) const { return mRoot + "/" + relative; }

    static std::string userName();
    static std::vector<std::string> groupNames();  // ascending
    static std::string hostName();

    // Runs body in a forked child and gives its result, or -1 when the child
    // did not exit normally (it is killed after ten seconds).
    static int runInChild(const std::function<int()>& body);

    // Every layer of a read as "stamp=data", most general first.
    static std::vector<std::string> describe(PAPI* handle, const std::string& component,
                                             PAPIStatus& status);

    std::string mRoot;  // the store
    std::string mTemp;  // holds the store, so the store itself can vanish
};

}  // namespace vesk::legacy::store::test
