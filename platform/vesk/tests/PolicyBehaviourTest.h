// The behaviour every backend shows alike, as one parametrised suite: each
// test binary instantiates it with the stores it can offer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestPolicyStore.h"
#include "TestSupport.h"
#include "papi.h"

namespace vesk::legacy::store::test {

class PolicyBehaviourTest : public ::testing::TestWithParam<TestPolicyStoreFactory> {
  protected:
    void SetUp() override;
    void TearDown() override;

    PAPI* open(const char* connection = "");
    PAPIListenerId listen(PAPI* handle, Recorder& recorder, const std::string& component);
    // "scope <time>" as the backend stamps the layer.
    std::string stamp(const std::string& scope, const std::string& component);

    std::unique_ptr<TestPolicyStore> mStore;
    std::string mUserScope;
};

}  // namespace vesk::legacy::store::test
