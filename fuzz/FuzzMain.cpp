// SPDX-License-Identifier: LGPL-2.1-or-later
// The libFuzzer entry of one target; FUZZ_TARGET names its function
// (FuzzTargets.h) and is set per binary by the build.
#include <libxml/xmlerror.h>

#include <cstdarg>
#include <cstdio>

#include "FuzzTargets.h"
#include "output/FileSystemCalls.h"

// The library logs every broken layer, and the system log costs a socket per
// message. The message is still formatted, so a bad format or argument shows.
extern "C" void vsyslog(int, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
}

// ASan keeps 256 MB of freed memory away from reuse by default, so nearly
// every allocation of a run touches fresh pages (page faults and fill cost
// more than the code under test). 16 MB is still many times what one input
// of 8 KiB frees, so a use after free within an input is caught as before.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

namespace {

void ignoreParserMessage(void*, const char*, ...) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // libxml2 prints some errors (a bad encoding) itself; the reader's result
    // already says the layer is broken.
    xmlSetGenericErrorFunc(nullptr, ignoreParserMessage);
    // Files written per input live in a scratch folder nobody reads after a
    // crash; syncing them to disk only costs time.
    vesk::legacy::FileSystemCalls::sCurrent.mSync = [](int) { return 0; };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int result = vesk::legacy::fuzz::FUZZ_TARGET(data, size);
    // libxml2 keeps the last parse error (its message allocated) until the
    // next one; freed here, each input frees what it allocated, so libFuzzer
    // does not run it a second time to look for a leak.
    xmlResetLastError();
    return result;
}
