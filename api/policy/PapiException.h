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
    PapiException(const std::string& message, PAPIStatus status)
        : Exception(message), mStatus(status) {}

    PAPIStatus getStatus() const { return mStatus; }

  private:
    PAPIStatus mStatus;
};

// The text for a status, without line end: "Connection failure" for 1 up to
// "Unknown failure" for 7, "Unknown error" for any value outside 0..7.
HOLLIN_EXPORT const char* getPapiStatusText(PAPIStatus status);

// Returns for 0; otherwise throws PapiException with the status's text plus "\n".
HOLLIN_EXPORT void checkPapiStatus(PAPIStatus status);

}  // namespace vesk::legacy
