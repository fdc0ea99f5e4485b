// SPDX-License-Identifier: LGPL-2.1-or-later
// Exit statuses of hollinctl and the error that carries one to main.
//
//   throw CommandError(kNotFound, "no node com.example/a/b");
#pragma once

#include <string>

#include "model/Exception.h"

namespace vesk::legacy::hollinctl {

constexpr int kSuccess = 0;
constexpr int kNotFound = 1;  // no such component, node, value or file; check found problems
constexpr int kUsage = 2;
constexpr int kServiceError = 3;  // the policy service failed, or writing the output
// With --strict: the answer was given, but merged from a stack with a broken layer.
constexpr int kBrokenLayer = 4;

// A failure that ends the command: the message (without "hollinctl: " and line
// end) goes to standard error, the status is the exit status.
class CommandError : public Exception {
  public:
    CommandError(int status, const std::string& message) : Exception(message), mStatus(status) {}

    int getStatus() const { return mStatus; }

  private:
    int mStatus;
};

}  // namespace vesk::legacy::hollinctl
