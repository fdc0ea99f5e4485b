// SPDX-License-Identifier: LGPL-2.1-or-later
// Built by the tests only: a text from outside must never become a format.
#include "model/Logger.h"

void logOutsideText(const char* fromPolicy) {
#ifdef HOLLIN_MISUSE
    vesk::legacy::Logger::warning(fromPolicy);
#else
    vesk::legacy::Logger::warning("%s", fromPolicy);
#endif
}
