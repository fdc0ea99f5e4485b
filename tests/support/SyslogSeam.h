// SPDX-License-Identifier: LGPL-2.1-or-later
// Replaces libc's system log in a test binary and records what is logged, so
// tests can check what a failure left in the log and at which priority.
//
//   syslogseam::clear();
//   ... code that logs ...
//   EXPECT_EQ(syslogseam::text(), "Cannot read tree file x: ...\n");
#pragma once

#include <string>
#include <vector>

namespace syslogseam {

struct Message {
    int priority;
    std::string text;
    // Read through the pointer openlog was given, as syslog does; "" when closed.
    std::string label;
};

// Since the last clear(); safe while other threads log.
std::vector<Message> messages();
// Every text since the last clear(), joined.
std::string text();
// openlog calls since the last clear(), each as "label option facility".
std::vector<std::string> opened();
// closelog calls since the last clear().
int closed();
void clear();

}  // namespace syslogseam
