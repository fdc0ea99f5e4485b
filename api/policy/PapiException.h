// SPDX-License-Identifier: LGPL-2.1-or-later
// A failure of the policy service: the Exception for a non-success PAPIStatus,
// carrying the status. checkPapiStatus turns a call's status into one.
//
//   PAPIStatus status = 0;
//   PAPI* handle = papiInitialise(nullptr, &status);
//   checkPapiStatus(status);  // throws PapiException("Connection failure\n", 1)
#pragma once

#include <string>

#include "model/Exception.h"
#include "model/HollinExport.h"
#include "papi.h"

namespace vesk::legacy {

class HOLLIN_EXPORT PapiException : public Exception {
  public:
    PapiException(const std::string& message, PAPIStatus status, std::string detail = "")
        : Exception(message), mStatus(status), mDetail(std::move(detail)) {}

    PAPIStatus getStatus() const { return mStatus; }
    // What failed and why, in the service's words ("/etc/vesk/store: Permission
    // denied"); empty when the service said nothing more than the status.
    const std::string& getDetail() const { return mDetail; }

  private:
    PAPIStatus mStatus;
    std::string mDetail;
};

// The text for a status, without line end: "Connection failure" for 1 up to
// "Unknown failure" for 7, "Unknown error" for any value outside 0..7.
HOLLIN_EXPORT const char* getPapiStatusText(PAPIStatus status);

// Returns for 0; otherwise throws PapiException with the status's text plus "\n".
HOLLIN_EXPORT void checkPapiStatus(PAPIStatus status);
// The same with the service's detail of the failure on the handle (a null
// handle: of the last failed papiInitialise on this thread).
HOLLIN_EXPORT void checkPapiStatus(PAPIStatus status, PAPI* handle);

}  // namespace vesk::legacy
