// The private directory as a TestPolicyStore, and the behaviour suite run on it.
#include "DirectoryPolicyStore.h"

#include <gtest/gtest.h>
#include <ldap.h>
#include <stdlib.h>

#include <memory>

#include "PolicyBehaviourTest.h"
#include "TestPolicyStore.h"

namespace vesk::legacy::store::test {

namespace {

const char kSchema[] = HOLLIN_SOURCE_DIR "/platform/vesk/ldap/vesk.ldif";

class DirectoryPolicyStore : public TestPolicyStore {
  public:
    void open() override {
        std::string error;
        mDirectory = sharedDirectory(error);
        ASSERT_NE(mDirectory, nullptr) << error;
        mBase = freshBase(*mDirectory);
        ASSERT_EQ(setenv("VESK_POLICY_STORE", mDirectory->url(mBase).c_str(), 1), 0);
    }

    void close() override { unsetenv("VESK_POLICY_STORE"); }

    void writeLayer(const std::string& scope, const std::string& component,
                    const std::string& data) override {
        ensureScope(*mDirectory, scope, mBase);
        const std::string dn = layerDnOf(scope, component, mBase);
        const int added = mDirectory->addEntry(
            dn, {{"objectClass", {"veskLayer"}}, {"cn", {component}}, {"veskLayerData", {data}}});
        if (added == LDAP_ALREADY_EXISTS) {
            ASSERT_EQ(mDirectory->replaceValues(dn, "veskLayerData", {data}), LDAP_SUCCESS) << dn;
        } else {
            ASSERT_EQ(added, LDAP_SUCCESS) << dn;
        }
    }

    void replaceLayer(const std::string& scope, const std::string& component,
                      const std::string& data) override {
        writeLayer(scope, component, data);
    }

    void removeLayer(const std::string& scope, const std::string& component) override {
        ASSERT_EQ(mDirectory->deleteEntry(layerDnOf(scope, component, mBase)), LDAP_SUCCESS);
    }

    long long layerTime(const std::string& scope, const std::string& component) override {
        return mDirectory->modifyTime(layerDnOf(scope, component, mBase));
    }

  private:
    TestDirectory* mDirectory = nullptr;
    std::string mBase;
};

}  // namespace

TestDirectory* sharedDirectory(std::string& error) {
    static std::unique_ptr<TestDirectory> directory;
    static std::string failure;
    if (!directory && failure.empty()) {
        auto started = std::make_unique<TestDirectory>(kSchema);
        if (started->start(failure)) {
            directory = std::move(started);
        }
    }
    error = failure;
    return directory.get();
}

std::string freshBase(TestDirectory& directory) {
    static int sCount = 0;
    const std::string base = "ou=t" + std::to_string(++sCount) + "," + TestDirectory::kSuffix;
    EXPECT_EQ(directory.addEntry(base, {{"objectClass", {"organizationalUnit"}},
                                        {"ou", {"t" + std::to_string(sCount)}}}),
              LDAP_SUCCESS);
    return base;
}

std::string dnOf(const std::vector<std::pair<std::string, std::string>>& rdns,
                 const std::string& base) {
    std::vector<LDAPAVA> avas(rdns.size());
    std::vector<std::vector<LDAPAVA*>> rdnList(rdns.size());
    std::vector<LDAPRDN> dn;
    for (size_t i = 0; i < rdns.size(); ++i) {
        avas[i].la_attr = {static_cast<ber_len_t>(rdns[i].first.size()),
                           const_cast<char*>(rdns[i].first.data())};
        avas[i].la_value = {static_cast<ber_len_t>(rdns[i].second.size()),
                            const_cast<char*>(rdns[i].second.data())};
        avas[i].la_flags = LDAP_AVA_STRING;
        avas[i].la_private = nullptr;
        rdnList[i] = {&avas[i], nullptr};
        dn.push_back(rdnList[i].data());
    }
    dn.push_back(nullptr);
    char* text = nullptr;
    if (ldap_dn2str(dn.data(), &text, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS || text == nullptr) {
        ADD_FAILURE() << "cannot write a DN";
        return base;
    }
    const std::string result = std::string(text) + "," + base;
    ldap_memfree(text);
    return result;
}

namespace {

std::vector<std::pair<std::string, std::string>> scopeRdns(const std::string& scope) {
    const size_t slash = scope.find('/');
    if (slash == std::string::npos) {
        return {{"ou", scope}};
    }
    const std::string folder = scope.substr(0, slash);
    return {{folder == "users" ? "uid" : "cn", scope.substr(slash + 1)}, {"ou", folder}};
}

}  // namespace

std::string scopeDnOf(const std::string& scope, const std::string& base) {
    return dnOf(scopeRdns(scope), base);
}

std::string layerDnOf(const std::string& scope, const std::string& component,
                      const std::string& base) {
    std::vector<std::pair<std::string, std::string>> rdns = scopeRdns(scope);
    rdns.insert(rdns.begin(), {"cn", component});
    return dnOf(rdns, base);
}

void ensureScope(TestDirectory& directory, const std::string& scope, const std::string& base) {
    const std::vector<std::pair<std::string, std::string>> rdns = scopeRdns(scope);
    // From the top: the folder, then the scope below it.
    for (size_t depth = 1; depth <= rdns.size(); ++depth) {
        const std::vector<std::pair<std::string, std::string>> path(rdns.end() - depth, rdns.end());
        const auto& own = path.front();
        const bool folder = own.first == "ou";
        const int added = directory.addEntry(
            dnOf(path, base), {{"objectClass", {folder ? "organizationalUnit" : "veskScope"}},
                               {own.first, {own.second}}});
        ASSERT_TRUE(added == LDAP_SUCCESS || added == LDAP_ALREADY_EXISTS)
            << dnOf(path, base) << ": " << ldap_err2string(added);
    }
}

INSTANTIATE_TEST_SUITE_P(Directory, PolicyBehaviourTest,
                         ::testing::Values(&makeDirectoryPolicyStore),
                         [](const auto&) { return std::string("slapd"); });

std::unique_ptr<TestPolicyStore> makeDirectoryPolicyStore() {
    return std::make_unique<DirectoryPolicyStore>();
}

}  // namespace vesk::legacy::store::test
