// The failure report of the whole system: a message text, thrown by value and
// caught by reference.
#pragma once

#include <string>

namespace vesk::legacy {

class Exception {
  public:
    explicit Exception(const std::string& message) : mMessage(message) {}

    const std::string& getMessage() const { return mMessage; }

  private:
    std::string mMessage;
};

}  // namespace vesk::legacy
