// SPDX-License-Identifier: LGPL-2.1-or-later
// What the last failure on this thread was about, in words for an
// administrator: the file, folder or URL and the system's or the network's
// reason. The backends note it where they fail; papi.cpp hands it out.
//
//   return FailureDetail::fail(PAPILdbFailure, path + ": " + std::strerror(errno));
#pragma once

#include <string>

#include "papi.h"

namespace vesk::legacy::store {

class FailureDetail {
  public:
    // Notes the text and returns the status, so a failure is one statement.
    static PAPIStatus fail(PAPIStatus status, std::string text);
    // "<what>: <strerror(error)>".
    static PAPIStatus failWithErrno(PAPIStatus status, const std::string& what, int error);
    static void note(std::string text);
    static void clear();
    // The text noted last on this thread ("" when none).
    static const std::string& current();
};

}  // namespace vesk::legacy::store
