// SPDX-License-Identifier: LGPL-2.1-or-later
// logText: the one form in which a name, value, path or message from outside
// reaches the log. Control characters (C0, DEL, and C1 as UTF-8), the line and
// paragraph separators, bidirectional overrides, bytes of invalid UTF-8 and the
// backslash itself become \xNN per byte, so no text can forge a log line or
// steer a terminal. One trailing line end is dropped (the failure texts of the
// policy service end in one): the log format supplies its own.
//
//   Logger::error("Skipping a launcher %s: %s\n", logText(name).c_str(), logText(why).c_str());
#pragma once

#include <string>

#include "model/HollinExport.h"

namespace vesk::legacy {

HOLLIN_EXPORT std::string logText(const std::string& text);

}  // namespace vesk::legacy
