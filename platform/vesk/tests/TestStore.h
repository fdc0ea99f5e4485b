// A policy store in a fresh temporary directory, named by VESK_POLICY_STORE
// for the length of one test, with what the process really is: its user,
// groups and host (see TestSupport.h).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
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

    std::string mRoot;  // the store
    std::string mTemp;  // holds the store, so the store itself can vanish
};

}  // namespace vesk::legacy::store::test
