// SPDX-License-Identifier: LGPL-2.1-or-later
#include "MandatoryProfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "output/AtomicFile.h"
#include "output/RegularFile.h"

namespace vesk::legacy::settings {

namespace {

constexpr size_t kMaxProfile = 64 * 1024;
const char kHeader[] = "# written by hollin-dconf: the user's settings policy comes first\n";

std::string trimmed(const std::string& line) {
    const size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos) {
        return "";
    }
    return line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
}

}  // namespace

MandatoryProfile::MandatoryProfile(uid_t uid, std::string folder,
                                   std::vector<std::string> siteProfiles)
    : mFolder(std::move(folder)),
      mFile(mFolder + "/" + std::to_string(uid)),
      mSiteProfiles(std::move(siteProfiles)) {}

std::vector<std::string> MandatoryProfile::siteDatabases() const {
    for (const std::string& profile : mSiteProfiles) {
        std::string text;
        std::string problem;
        if (!readRegularFile(profile, kMaxProfile, "too large", text, problem)) {
            continue;
        }
        std::vector<std::string> databases;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            line = trimmed(line);
            if (line.compare(0, 10, "system-db:") == 0) {
                databases.push_back(line);
            }
        }
        return databases;
    }
    return {};
}

std::string MandatoryProfile::text(const std::string& database) const {
    std::string text = std::string(kHeader) + "user-db:user\nsystem-db:" + database + "\n";
    for (const std::string& line : siteDatabases()) {
        if (line != "system-db:" + database) {
            text += line + "\n";
        }
    }
    return text;
}

bool MandatoryProfile::isOurs(const std::string& database) const {
    std::string text;
    std::string problem;
    return readRegularFile(mFile, kMaxProfile, "too large", text, problem) &&
           text.compare(0, sizeof kHeader - 1, kHeader) == 0 &&
           text.find("\nsystem-db:" + database + "\n") != std::string::npos;
}

bool MandatoryProfile::write(const std::string& database) const {
    const std::string wanted = text(database);
    std::string current;
    std::string problem;
    if (readRegularFile(mFile, kMaxProfile, "too large", current, problem) && current == wanted) {
        return false;
    }
    for (const std::string& folder : {mFolder.substr(0, mFolder.rfind('/')), mFolder}) {
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create " + folder + ": " + std::strerror(errno));
        }
    }
    AtomicFile file(mFile, 0644, AtomicFile::Links::Replace);
    if (!file.open() || !file.write(wanted) || !file.commit()) {
        throw std::runtime_error("cannot write " + mFile + ": " + file.getError());
    }
    return true;
}

bool MandatoryProfile::remove(const std::string& database) const {
    if (!isOurs(database)) {
        return false;
    }
    if (::unlink(mFile.c_str()) != 0 && errno != ENOENT) {
        throw std::runtime_error("cannot remove " + mFile + ": " + std::strerror(errno));
    }
    return true;
}

}  // namespace vesk::legacy::settings
