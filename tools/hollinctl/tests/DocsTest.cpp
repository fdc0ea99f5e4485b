// SPDX-License-Identifier: LGPL-2.1-or-later
// The console sessions of README.md and docs/policy-layers.md, run as written
// on a scratch file store (DocSessions); the directory's run with the
// directory tests.
#include <gtest/gtest.h>

#include "DocSessions.h"
#include "TestFiles.h"

namespace {

class DocsTest : public ::testing::Test {
  protected:
    const testsupport::TempDir mScratch{"hollinctl-docs"};
    DocSessions mSessions{mScratch.path};
};

TEST_F(DocsTest, ReadmeSessionRunsAsShown) {
    mSessions.run("README.md");
}

TEST_F(DocsTest, ReferenceSessionsRunAsShown) {
    mSessions.run("docs/policy-layers.md");
}

}  // namespace
