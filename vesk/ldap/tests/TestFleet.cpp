// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TestFleet.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "TestFiles.h"

namespace vesk::legacy::store::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TestFleet::TestFleet(std::string schemaLdif) : mSchema(std::move(schemaLdif)) {}

bool TestFleet::start(std::string& error) {
    if (!mProvider) {
        if (!TestDirectory::makeCertificates(mFolder + "/ca", error) ||
            !TestDirectory::makeCertificates(mFolder + "/other", error)) {
            return false;
        }
        mProvider =
            std::make_unique<TestDirectory>(mSchema, TestDirectory::Options{mFolder + "/ca", ""});
    }
    if (!mProvider->start(error)) {
        return false;
    }
    while (mConsumers.size() < kConsumers) {
        mConsumers.push_back(std::make_unique<TestDirectory>(
            mSchema, TestDirectory::Options{mFolder + "/ca", mProvider->url("")}));
    }
    for (const auto& consumer : mConsumers) {
        if (!consumer->start(error)) {
            return false;
        }
    }
    return true;
}

bool TestFleet::replicated(const std::string& dn, const std::string& name, const std::string& value,
                           std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (const auto& consumer : mConsumers) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (!testsupport::waitUntil(
                [&] { return consumer->pid() <= 0 || consumer->value(dn, name) == value; },
                std::max(left, std::chrono::milliseconds(0)))) {
            return false;
        }
    }
    return true;
}

}  // namespace vesk::legacy::store::test
