// SPDX-License-Identifier: LGPL-2.1-or-later
#include "FailureDetail.h"

#include <cstring>

namespace vesk::legacy::store {

namespace {

thread_local std::string tDetail;

}  // namespace

PAPIStatus FailureDetail::fail(PAPIStatus status, std::string text) {
    note(std::move(text));
    return status;
}

PAPIStatus FailureDetail::failWithErrno(PAPIStatus status, const std::string& what, int error) {
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in buffer.
    const char* reason = strerror_r(error, buffer, sizeof buffer);
    return fail(status, what + ": " + reason);
}

void FailureDetail::note(std::string text) {
    tDetail = std::move(text);
}

void FailureDetail::clear() {
    tDetail.clear();
}

const std::string& FailureDetail::current() {
    return tDetail;
}

}  // namespace vesk::legacy::store
