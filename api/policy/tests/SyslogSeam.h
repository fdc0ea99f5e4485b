// Replaces libc's system log for the policy tests and records what the logger
// sends there, so that tests can check what was logged and at which priority.
#pragma once

#include <string>
#include <vector>

namespace syslogseam {

struct Message {
    int priority;
    std::string text;
};

std::vector<Message> messages();
void clear();

}  // namespace syslogseam
