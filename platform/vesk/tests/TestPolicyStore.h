// The store a behaviour test runs against, named by VESK_POLICY_STORE from
// open() to close(): the file store in a temporary folder, or a base of its own
// in the private directory. Each test binary offers one (kBackend).
//
//   std::unique_ptr<TestPolicyStore> store = kBackend();
//   store->open();
//   store->writeLayer("users/" + userName(), "org.example", "<layer/>");
#pragma once

#include <memory>
#include <string>

namespace vesk::legacy::store::test {

class TestPolicyStore {
  public:
    virtual ~TestPolicyStore() = default;

    virtual void open() = 0;
    virtual void close() = 0;
    // Scopes are written as the file store names them ("groups/adm"); what
    // they need around them is made on the way.
    virtual void writeLayer(const std::string& scope, const std::string& component,
                            const std::string& data) = 0;
    // The layer replaced as a whole: renamed into place, or modified in one go.
    virtual void replaceLayer(const std::string& scope, const std::string& component,
                              const std::string& data) = 0;
    virtual void removeLayer(const std::string& scope, const std::string& component) = 0;
    // The modification time the backend keeps for the layer.
    virtual long long layerTime(const std::string& scope, const std::string& component) = 0;
};

using TestPolicyStoreFactory = std::unique_ptr<TestPolicyStore> (*)();
extern const TestPolicyStoreFactory kBackend;
extern const char kBackendName[];  // the suffix of the suite's test names
}  // namespace vesk::legacy::store::test
