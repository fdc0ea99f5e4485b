// SPDX-License-Identifier: LGPL-2.1-or-later
// Linked into every test binary: run directly as under ctest, no test keeps
// last-known-good copies in the tester's home nor serves one test's copy to
// another. A test of the copies names a folder of its own and sets "off" back.
#include <stdlib.h>

namespace {

[[maybe_unused]] const bool kNoKeptCopies = setenv("HOLLIN_CACHE_DIR", "off", 0) == 0;

}  // namespace
