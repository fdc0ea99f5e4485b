// SPDX-License-Identifier: LGPL-2.1-or-later
// A replicated directory as a site runs one, for tests and benchmarks: one
// provider and two read-only consumers replicating from it (syncrepl
// refreshAndPersist, syncprov on all three), each a private slapd with TLS
// from a CA made for the fleet, and a second CA that vouches for none of them.
//
//   TestFleet fleet(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
//   ASSERT_TRUE(fleet.start(error)) << error;
//   fleet.provider().addEntry(...);
//   fleet.replicated(dn, "ou", "x", 10s);
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "TestDirectory.h"

namespace vesk::legacy::store::test {

class TestFleet {
  public:
    static constexpr size_t kConsumers = 2;

    explicit TestFleet(std::string schemaLdif);
    TestFleet(const TestFleet&) = delete;
    TestFleet& operator=(const TestFleet&) = delete;

    // Starts whatever is not running (all three the first time).
    bool start(std::string& error);
    TestDirectory& provider() { return *mProvider; }
    TestDirectory& consumer(size_t index) { return *mConsumers.at(index); }
    // The CA of the fleet's certificates, and one of no server here.
    std::string caFile() const { return mFolder + "/ca/ca.pem"; }
    std::string otherCaFile() const { return mFolder + "/other/ca.pem"; }
    // Whether every running consumer shows the value of the attribute of the
    // entry before the timeout ("" waits for the entry to be gone).
    bool replicated(const std::string& dn, const std::string& name, const std::string& value,
                    std::chrono::milliseconds timeout);

  private:
    std::string mSchema;
    testsupport::TempDir mScratch{"vesk-fleet"};  // removed after the servers
    std::string mFolder = mScratch.path;
    std::unique_ptr<TestDirectory> mProvider;
    std::vector<std::unique_ptr<TestDirectory>> mConsumers;
};

}  // namespace vesk::legacy::store::test
