// SPDX-License-Identifier: LGPL-2.1-or-later
// The failure report of the whole system: a message text, thrown by value and
// caught by reference. It is a std::runtime_error, so one catch of
// std::exception also takes it.
#pragma once

#include <stdexcept>
#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

class HOLLIN_EXPORT Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message)
        : std::runtime_error(message), mMessage(message) {}

    const std::string& getMessage() const { return mMessage; }

  private:
    std::string mMessage;
};

}  // namespace vesk::legacy
