// SPDX-License-Identifier: LGPL-2.1-or-later
// hollin-dconf: applies the settings policy of users through dconf, as root.
//   hollin-dconf apply --user NAME | apply --pam | remove --user NAME | follow
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "FollowService.h"
#include "SettingsApplier.h"
#include "model/LogText.h"
#include "model/Logger.h"

using namespace vesk::legacy;
using namespace vesk::legacy::settings;

namespace {

constexpr int kFailure = 1;
constexpr int kUsage = 2;
// A login waits for the hook; a store that hangs must not keep it waiting.
constexpr unsigned kPamSeconds = 5;

std::atomic<bool> sStop(false);

const char kUsageText[] =
    "usage: hollin-dconf apply --user NAME\n"
    "       hollin-dconf apply --pam      (from pam_exec: PAM_USER, PAM_TYPE)\n"
    "       hollin-dconf remove --user NAME\n"
    "       hollin-dconf follow\n";

int usage(const char* problem) {
    if (problem != nullptr) {
        std::fprintf(stderr, "hollin-dconf: %s\n", problem);
    }
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "hollin-dconf: %s\n", logText(message).c_str());
    Logger::error("hollin-dconf: %s\n", logText(message).c_str());
    return kFailure;
}

void onPamTimeout(int) {
    static const char message[] =
        "hollin-dconf: the settings policy was not applied within 5 s; the session starts "
        "without it\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(kFailure);
}

void onStop(int) {
    sStop = true;
}

int apply(const std::string& user) {
    try {
        const char* said[] = {"written", "up to date", "removed: no policy left",
                              "no settings policy"};
        const SettingsApplier::Outcome outcome =
            SettingsApplier(SettingsApplier::Places::system()).apply(user);
        std::printf("hollin-dconf: %s: %s\n", logText(user).c_str(),
                    said[static_cast<int>(outcome)]);
        return 0;
    } catch (const std::exception& failure) {
        return fail(failure.what());
    }
}

int applyPam() {
    const char* type = std::getenv("PAM_TYPE");
    const char* user = std::getenv("PAM_USER");
    if (type == nullptr || std::strcmp(type, "open_session") != 0) {
        return 0;
    }
    if (user == nullptr || *user == '\0') {
        return fail("PAM_USER is not set");
    }
    const struct passwd* entry = ::getpwnam(user);
    if (entry == nullptr) {
        return fail("no user \"" + std::string(user) + "\" on this system");
    }
    if (entry->pw_uid < FollowService::firstUserId("/etc/login.defs")) {
        return 0;  // system accounts keep the site's profile
    }
    ::signal(SIGALRM, onPamTimeout);
    ::alarm(kPamSeconds);
    return apply(user);
}

}  // namespace

int main(int argc, char** argv) {
    ::umask(022);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h") {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (command != "follow") {
        // A command run by hand shows its warnings; the service's go to the log.
        const char* copied = std::getenv("VESKLEG_LOG");
        if (copied == nullptr || *copied == '\0') {
            ::setenv("VESKLEG_LOG", "1", 1);
            ::setenv("VESKLEG_LOG_LEVEL", "Warning", 0);
        }
    }
    Logger::initialise("hollin-dconf");
    if (::geteuid() != 0 && std::getenv("HOLLIN_DCONF_UNPRIVILEGED") == nullptr) {
        return fail("must run as root: it writes /etc/dconf/db and /run/dconf/user");
    }
    if (command == "apply" && argc == 3 && std::strcmp(argv[2], "--pam") == 0) {
        return applyPam();
    }
    if ((command == "apply" || command == "remove") && argc == 4 &&
        std::strcmp(argv[2], "--user") == 0) {
        if (command == "apply") {
            return apply(argv[3]);
        }
        try {
            const bool removed = SettingsApplier(SettingsApplier::Places::system()).remove(argv[3]);
            std::printf("hollin-dconf: %s: %s\n", logText(argv[3]).c_str(),
                        removed ? "removed" : "nothing to remove");
            return 0;
        } catch (const std::exception& failure) {
            return fail(failure.what());
        }
    }
    if (command == "follow" && argc == 2) {
        struct sigaction action = {};
        action.sa_handler = onStop;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        const SettingsApplier applier(SettingsApplier::Places::system());
        FollowService service(applier, SettingsApplier::Places::system());
        Logger::notice("hollin-dconf: following the settings policy\n");
        service.run(sStop, std::chrono::milliseconds(100));
        return 0;
    }
    return usage(command.empty() ? "no command" : nullptr);
}
