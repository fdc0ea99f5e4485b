// SPDX-License-Identifier: LGPL-2.1-or-later
// A private slapd for tests and benchmarks: a temporary folder, a free
// loopback port and a local socket, the mdb backend with the syncprov
// overlay and the vesk schema, a suffix with one reader account (configured
// by data/slapd-*.ldif). Optionally with TLS (ldaps:// on a second port and
// StartTLS) and as a read-only consumer replicating the suffix from a
// provider with syncrepl. Stopped and removed with the object; start() after
// stop() brings the same database back on the same ports.
//
//   TestDirectory directory(HOLLIN_SOURCE_DIR "/vesk/ldap/vesk.ldif");
//   ASSERT_TRUE(directory.start(error)) << error;
//   directory.addEntry("ou=t1,dc=vesk,dc=test", {{"objectClass", {"organizationalUnit"}}});
#pragma once

#include <ldap.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace vesk::legacy::store::test {

class TestDirectory {
  public:
    static constexpr const char* kSuffix = "dc=vesk,dc=test";
    static constexpr const char* kAdminDn = "cn=admin,dc=vesk,dc=test";
    static constexpr const char* kAdminPassword = "admin-secret";
    static constexpr const char* kReaderDn = "cn=reader,dc=vesk,dc=test";
    static constexpr const char* kReaderPassword = "reader-Pa55word";

    struct Attribute {
        std::string name;
        std::vector<std::string> values;
    };

    struct Options {
        // Holds ca.pem, server.pem and server.key (see makeCertificates): TLS on.
        std::string tlsFolder;
        // A consumer of this provider (its plain ldap:// URL), with an empty database.
        std::string provider;
    };

    explicit TestDirectory(std::string schemaLdif, Options options = {});
    ~TestDirectory();
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    bool start(std::string& error);
    void stop();
    pid_t pid() const { return mPid; }

    std::string url(const std::string& base) const;       // ldap://127.0.0.1:<port>/<base>
    std::string localUrl(const std::string& base) const;  // ldapi://...
    std::string tlsUrl(const std::string& base) const;    // ldaps://127.0.0.1:<port>/<base>
    const std::string& folder() const { return mFolder; }

    // Writes as the directory's administrator; each returns the LDAP code.
    int addEntry(const std::string& dn, const std::vector<Attribute>& attributes);
    int replaceValues(const std::string& dn, const std::string& name,
                      const std::vector<std::string>& values);
    int deleteEntry(const std::string& dn);
    int rename(const std::string& dn, const std::string& newRdn);
    // The first value of the entry's attribute, read as the administrator; empty if none.
    std::string value(const std::string& dn, const std::string& name);
    // The entry's modifyTimestamp in seconds since 1970, or -1.
    long long modifyTime(const std::string& dn);
    // Changes the database while the server is stopped (slapmodify).
    bool modifyOffline(const std::string& ldif, std::string& error);

    // A CA (ca.pem, ca.key) and a server certificate it signed for 127.0.0.1
    // (server.pem, server.key) made with openssl in the folder.
    static bool makeCertificates(const std::string& folder, std::string& error);

    // Starts a program with a few variables of its own and its output in a file.
    static pid_t spawn(const std::vector<std::string>& argv, const std::string& output,
                       const std::map<std::string, std::string>& env = {});
    // Its exit status (128 + the signal if killed), or -1 while it still runs.
    static int finish(pid_t pid, std::chrono::milliseconds timeout);
    // Runs a program to its end; its exit status.
    static int runTool(const std::vector<std::string>& argv, const std::string& output);

  private:
    bool configure(std::string& error);
    bool launch(std::string& error);
    LDAP* admin();
    int change(bool add, const std::string& dn, const std::vector<Attribute>& attributes);

    std::string mSchema;
    Options mOptions;
    testsupport::TempDir mScratch{"vesk-slapd"};
    std::string mFolder = mScratch.path;
    int mPort = 0;
    int mTlsPort = 0;
    pid_t mPid = 0;
    bool mConfigured = false;
    LDAP* mAdmin = nullptr;
    pid_t mOwner;  // a forked child leaves the server and its folder alone
};

}  // namespace vesk::legacy::store::test
