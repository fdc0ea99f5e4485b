// SPDX-License-Identifier: LGPL-2.1-or-later
// Fixture of the log-text check: a name logged raw, which the check must find.
void save(const std::string& name, const std::string& why) {
    Logger::error("Skipping %s: %s\n", logText(name).c_str(), why.c_str());
}
