// SPDX-License-Identifier: LGPL-2.1-or-later
#include "VELAppsWriter.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <exception>
#include <mutex>
#include <vector>

#include "PolicyCopy.h"
#include "access/ConfigurationAccess.h"
#include "model/Exception.h"
#include "model/LogText.h"
#include "model/Logger.h"
#include "model/NodePath.h"
#include "model/PropertyNode.h"
#include "model/StructuralNode.h"
#include "model/Utf8.h"
#include "output/AtomicFile.h"
#include "output/FileSystemCalls.h"

using vesk::legacy::AtomicFile;
using vesk::legacy::ConfigurationAccess;
using vesk::legacy::Exception;
using vesk::legacy::FileSystemCalls;
using vesk::legacy::Logger;
using vesk::legacy::logText;
using vesk::legacy::Node;
using vesk::legacy::NodePath;
using vesk::legacy::PropertyNode;
using vesk::legacy::StructuralNode;

namespace {

// Group of the temporary directory: the last id the group tool printed, 0
// until it printed one. Not a constant: it changes at run time, shared by
// every writer of the process.
gid_t kStorageGroupId = 0;

// The writers of a process install into the same fixed paths (unless given
// their own), and change events arrive on the policy watcher thread: one
// installation at a time. It also guards kStorageGroupId.
std::mutex sInstallMutex;

const FileSystemCalls& calls() {
    return FileSystemCalls::sCurrent;
}

// Why the character cannot stand in a name="value" line, or null. The tools
// may read the files as shell text, so only inert characters pass.
const char* unsafeValueCharacter(unsigned char c) {
    if (c == '\n' || c == '\r')
        return "a line break";
    if (c < 0x20 || c == 0x7f)
        return "a control character";
    if (c == '"')
        return "a double quote";
    if (c == '\\')
        return "a backslash";
    if (c == '$')
        return "\"$\"";
    if (c == '`')
        return "a backquote";
    return nullptr;
}

// Why decoded UTF-8 text cannot be shown or stored by the tools, or null:
// invalid UTF-8, or a C1 control character (U+0080 to U+009F, which
// terminals take as commands).
const char* unsafeText(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        std::uint32_t codePoint;
        const size_t length = vesk::legacy::utf8::decode(text, i, codePoint);
        if (length == 0)
            return "invalid UTF-8";
        if (codePoint >= 0x80 && codePoint <= 0x9f)
            return "a C1 control character";
        i += length;
    }
    return nullptr;
}

// Variables a shell acts on when it reads the file: the real tools may source
// the settings files as root.
bool isShellSetting(const std::string& name) {
    static const char* const kShellVariables[] = {
        "PATH",      "IFS",      "ENV", "BASH_ENV",       "CDPATH", "GLOBIGNORE",
        "SHELLOPTS", "BASHOPTS", "PS4", "PROMPT_COMMAND", "HOME",   "SHELL"};
    for (const char* variable : kShellVariables) {
        if (name == variable)
            return true;
    }
    return name.compare(0, 3, "LD_") == 0;
}

// The longest file name the configuration folder takes.
size_t nameMax() {
    for (const char* folder : {kTempApplicationStorage, kApplicationStorage}) {
        const long max = pathconf(folder, _PC_NAME_MAX);
        if (max > 0)
            return static_cast<size_t>(max);
    }
    return NAME_MAX;
}

bool isSettingName(const std::string& name) {
    if (name.empty())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!(letter || (i > 0 && digit)))
            return false;
    }
    return true;
}

void writeFile(const std::string& path, const std::string& text) {
    // Refuse: the temporary directory is group-writable, so a file or link
    // planted at the name must make the installation fail, not redirect it
    // or give the file its owner.
    AtomicFile file(path, 0644, AtomicFile::Links::Refuse);
    if (!file.open() || !file.write(text) || !file.commit()) {
        if (file.getErrorNumber() == 0)
            throw Exception("Error accessing " + path + ": " + file.getError());
        handleAccessError(path, file.getErrorNumber());
    }
}

// Removes the entry name of the open directory dirFd and everything below
// it; path names it in messages. Works on descriptors, so a directory swapped
// for a link while it is being emptied cannot lead outside the tree.
void removeEntryAt(int dirFd, const std::string& name, const std::string& path) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return;
        handleAccessError(path, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (calls().mUnlinkAt(dirFd, name.c_str(), 0) != 0)
            handleAccessError(path, errno);
        return;
    }
    int fd =
        calls().mOpenAt(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0)
        handleAccessError(path, errno);
    DIR* dir = fdopendir(fd);
    if (!dir) {
        int saved = errno;
        calls().mClose(fd);
        handleAccessError(path, saved);
    }
    std::vector<std::string> names;
    errno = 0;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            names.push_back(entry->d_name);
        }
        errno = 0;
    }
    int readError = errno;
    try {
        if (readError != 0)
            handleAccessError(path, readError);
        for (const std::string& child : names)
            removeEntryAt(dirfd(dir), child, path + "/" + child);
    } catch (...) {
        closedir(dir);
        throw;
    }
    closedir(dir);
    if (calls().mUnlinkAt(dirFd, name.c_str(), AT_REMOVEDIR) != 0)
        handleAccessError(path, errno);
}

std::string describeTool(const std::string& tool, int status) {
    std::string text = tool;
    if (status == -1)
        return text + " could not be run: " + strerror(errno);
    if (WIFEXITED(status))
        return text + " exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return text + " was killed by signal " + std::to_string(WTERMSIG(status));
    return text + " failed with wait status " + std::to_string(status);
}

// After a tool refused the new configuration: the failed configuration goes
// back to the temporary directory, which frees the place for the backup. If
// either rename fails, the backup stays where it is, for an administrator.
void restorePrevious(const KioskPaths& paths, bool backedUp) {
    if (calls().mRename(paths.storage.c_str(), paths.tempStorage.c_str()) != 0) {
        Logger::error("Restore apps: Error accessing %s: %s\n", logText(paths.storage).c_str(),
                      strerror(errno));
        return;
    }
    if (backedUp && calls().mRename(paths.backupStorage.c_str(), paths.storage.c_str()) != 0) {
        Logger::error("Restore apps: Error accessing %s: %s\n",
                      logText(paths.backupStorage).c_str(), strerror(errno));
    }
}

void readStorageGroupId(const std::string& tool) {
    FILE* out = calls().mPopen(tool.c_str(), "re");
    if (!out) {
        Logger::warning("Group tool %s: %s\n", logText(tool).c_str(), strerror(errno));
        return;
    }
    char buffer[64];
    size_t length = fread(buffer, 1, sizeof buffer - 1, out);
    int status = calls().mPclose(out);
    gid_t groupId = 0;
    if (status == 0 && parseGroupId(std::string(buffer, length), groupId)) {
        kStorageGroupId = groupId;
    } else {
        Logger::warning("Group tool %s printed no group id, keeping %lu\n", logText(tool).c_str(),
                        static_cast<unsigned long>(kStorageGroupId));
    }
}

}  // namespace

void setStorageGroupId(gid_t groupId) {
    std::lock_guard<std::mutex> lock(sInstallMutex);
    kStorageGroupId = groupId;
}

void logCaughtFailure(const char* format) {
    try {
        throw;
    } catch (const std::exception& e) {
        Logger::error(format, logText(e.what()).c_str());
    } catch (...) {
        Logger::error(format, "unknown failure");
    }
}

std::string getFailoverGroupEntity() {
    return "kiosk.default";
}

void handleAccessError(const std::string& path, int errorNumber) {
    throw Exception("Error accessing " + path + ": " + strerror(errorNumber));
}

void removeFile(const std::string& path) {
    if (calls().mUnlinkAt(AT_FDCWD, path.c_str(), 0) != 0)
        handleAccessError(path, errno);
}

void removeDirectory(const std::string& path) {
    removeEntryAt(AT_FDCWD, path, path);
}

void removeEntry(const std::string& path) {
    // lstat, not stat: a link is removed itself, never the tree it points to.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return;
        handleAccessError(path, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        removeDirectory(path);
    } else {
        removeFile(path);
    }
}

bool parseGroupId(const std::string& text, gid_t& groupId) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return false;
    size_t end = text.find_first_not_of("0123456789", begin);
    if (end == begin)
        return false;
    if (end != std::string::npos && text.find_first_not_of(" \t\r\n", end) != std::string::npos) {
        return false;
    }
    if (end == std::string::npos)
        end = text.size();
    unsigned long long value = 0;
    for (size_t i = begin; i < end; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        // (gid_t)-1 means "leave the group" to chown; it is no group.
        if (value >= static_cast<gid_t>(-1))
            return false;
    }
    groupId = static_cast<gid_t>(value);
    return true;
}

void createTempDirectory() {
    createTempDirectory(KioskPaths());
}

void createTempDirectory(const KioskPaths& paths) {
    readStorageGroupId(paths.groupIdTool);
    const char* temp = paths.tempStorage.c_str();
    if (calls().mMkdir(temp, kStorageDirPermissions) != 0 ||
        calls().mChown(temp, paths.storageUserId, kStorageGroupId) != 0 ||
        // mkdir applied the umask; the group needs its full access
        calls().mChmodPath(temp, kStorageDirPermissions) != 0) {
        handleAccessError(temp, errno);
    }
}

void prepareTempDirectory() {
    prepareTempDirectory(KioskPaths());
}

void prepareTempDirectory(const KioskPaths& paths) {
    removeEntry(paths.tempStorage);
    createTempDirectory(paths);
}

bool loadApplicationSettings(const StructuralNode& application, ApplicationSettings& settings) {
    settings["name"] = application.getName();
    std::vector<std::string> names;
    application.getChildren(names);
    for (const std::string& name : names) {
        const Node* child = application.getChild(name);
        const PropertyNode* property = child ? child->asPropertyNode() : nullptr;
        if (property)
            settings[name] = property->getStringValue("default");
    }
    auto path = settings.find("pathapp");
    return path != settings.end() && !path->second.empty();
}

std::string checkApplicationName(const std::string& name) {
    if (name.empty())
        return "empty name";
    if (name == "." || name == "..")
        return "name \"" + name + "\" is not a file name";
    if (name.size() > nameMax())
        return "name longer than " + std::to_string(nameMax()) + " bytes";
    if (name[0] == '#')
        return "name starts with \"#\", which the table takes for a comment";
    for (unsigned char c : name) {
        if (c == '/')
            return "name contains \"/\"";
        if (c == '\n' || c == '\r')
            return "name contains a line break";
        if (c < 0x20 || c == 0x7f)
            return "name contains a control character";
        if (c == '"')
            return "name contains a double quote";
    }
    if (const char* what = unsafeText(name))
        return std::string("name contains ") + what;
    return "";
}

std::string checkApplicationSettings(const ApplicationSettings& settings) {
    for (const auto& setting : settings) {
        if (!isSettingName(setting.first)) {
            return "invalid setting name \"" + logText(setting.first) + "\"";
        }
        if (isShellSetting(setting.first)) {
            return "setting name " + setting.first + " would change the shell reading the file";
        }
        for (unsigned char c : setting.second) {
            if (const char* what = unsafeValueCharacter(c)) {
                return "value of setting " + setting.first + " contains " + what;
            }
        }
        if (const char* what = unsafeText(setting.second)) {
            return "value of setting " + setting.first + " contains " + what;
        }
    }
    return "";
}

void writeApplication(const Node* node) {
    writeApplication(node, KioskPaths());
}

void writeApplication(const Node* node, const KioskPaths& paths) {
    const StructuralNode* application = node ? node->asStructuralNode() : nullptr;
    if (!application)
        return;
    const std::string& name = application->getName();
    std::string reason = checkApplicationName(name);
    ApplicationSettings settings;
    if (reason.empty()) {
        if (!loadApplicationSettings(*application, settings))
            return;
        reason = checkApplicationSettings(settings);
    }
    if (!reason.empty()) {
        Logger::error("Skipping application %s: %s\n", logText(name).c_str(),
                      logText(reason).c_str());
        return;
    }
    std::string text;
    for (const auto& setting : settings) {
        text += setting.first + "=\"" + setting.second + "\"\n";
    }
    writeFile(paths.tempStorage + "/" + name, text);
}

void propagateApplications() {
    propagateApplications(KioskPaths());
}

void propagateApplications(const KioskPaths& paths) {
    const std::string& config = paths.storage;
    const char* backup = paths.backupStorage.c_str();
    struct stat st;
    // Only a backup and no configuration: an earlier installation stopped
    // between moving the configuration aside and putting the new one in
    // place. The backup is the configuration then; bring it back first.
    if (lstat(config.c_str(), &st) != 0) {
        if (errno != ENOENT)
            handleAccessError(config, errno);
        if (lstat(backup, &st) == 0) {
            if (calls().mRename(backup, config.c_str()) != 0) {
                handleAccessError(config, errno);
            }
        } else if (errno != ENOENT) {
            handleAccessError(backup, errno);
        }
    }
    // The previous backup was accepted by the tools long ago; it only blocks
    // the rename below.
    removeEntry(backup);
    bool backedUp = true;
    if (calls().mRename(config.c_str(), backup) != 0) {
        if (errno != ENOENT)
            handleAccessError(config, errno);
        backedUp = false;  // first installation: nothing to keep
    }
    if (calls().mRename(paths.tempStorage.c_str(), config.c_str()) != 0) {
        int saved = errno;
        if (backedUp && calls().mRename(backup, config.c_str()) != 0) {
            Logger::error("Restore apps: Error accessing %s: %s\n", logText(backup).c_str(),
                          strerror(errno));
        }
        handleAccessError(config, saved);
    }
    int status = calls().mSystem(paths.tableTool.c_str());
    if (status != 0) {
        std::string failure = describeTool(paths.tableTool, status);
        restorePrevious(paths, backedUp);
        throw Exception("Error accessing " + config + ": " + failure);
    }
    status = calls().mSystem(paths.importCommand.c_str());
    if (status != 0) {
        std::string failure = describeTool(paths.importCommand, status);
        restorePrevious(paths, backedUp);
        calls().mSystem(paths.recoveryTool.c_str());
        throw Exception("Error accessing " + config + ": " + failure);
    }
}

VELAppsWriter::VELAppsWriter() : VELAppsWriter(KioskPaths()) {}

VELAppsWriter::VELAppsWriter(const KioskPaths& paths) : mPaths(paths) {
    try {
        mAccess.reset(new ConfigurationAccess(getFailoverGroupEntity()));
    } catch (const Exception& e) {
        Logger::error("Init writer: %s\n", logText(e.getMessage()).c_str());
    }
}

VELAppsWriter::~VELAppsWriter() {
    stopListening();
}

bool installApplications(const StructuralNode& list, const KioskPaths& paths) {
    try {
        std::vector<std::string> names;
        list.getChildren(names);
        if (names.empty())
            return true;  // the installed configuration stays
        std::lock_guard<std::mutex> lock(sInstallMutex);
        prepareTempDirectory(paths);
        for (const std::string& name : names)
            writeApplication(list.getChild(name), paths);
        propagateApplications(paths);
        return true;
    } catch (...) {
        logCaughtFailure("Write apps: %s\n");
        return false;
    }
}

void VELAppsWriter::writeApps() const {
    writeApps(vesk::legacy::ChangeOutcome());
}

void VELAppsWriter::writeApps(const vesk::legacy::ChangeOutcome& outcome) const {
    if (!mAccess)
        return;
    const std::uint64_t since = mRetry.generation();
    vesk::legacy::plugins::PolicyCopy copy;
    try {
        // The list in its snapshot: a change event holds the access's lock while it
        // calls us, and a retry runs on another thread.
        copy = outcome.tree ? vesk::legacy::plugins::PolicyCopy::take(outcome.tree,
                                                                      outcome.complete, kAppsPath)
                            : vesk::legacy::plugins::PolicyCopy::take(*mAccess, kAppsPath);
    } catch (...) {
        logCaughtFailure("Write apps: %s\n");
        return;
    }
    if (!copy.complete) {
        // Installing as root what may be only part of the list: never.
        Logger::warning(
            "Write apps: the policy could not be read in full; the installed "
            "configuration stays until it can\n");
        return;
    }
    const StructuralNode* list = copy.node ? copy.node->asStructuralNode() : nullptr;
    if (!list)
        return;
    mRetry.runUnlessReplaced(
        since, [copy, list, paths = mPaths] { return installApplications(*list, paths); });
}

void VELAppsWriter::startListening() {
    if (mListening || !mAccess)
        return;
    try {
        NodePath path;
        path.setPath(kAppsPath);
        mAccess->addListener(path, this);
        mListening = true;
    } catch (...) {
        logCaughtFailure("Start listening: %s\n");
    }
}

void VELAppsWriter::stopListening() {
    if (!mListening || !mAccess)
        return;
    try {
        NodePath path;
        path.setPath(kAppsPath);
        mAccess->removeListener(path, this);
        mListening = false;
    } catch (...) {
        logCaughtFailure("Stop listening: %s\n");
    }
}

// The node calls of a change only lead up to its end: one installation per
// change, however many applications it touches.
void VELAppsWriter::onNodeAdded(const NodePath&) {}
void VELAppsWriter::onNodeRemoved(const NodePath&) {}
void VELAppsWriter::onNodeChanged(const NodePath&) {}
void VELAppsWriter::onChangeComplete() {
    writeApps();
}
void VELAppsWriter::onChangeCompleteWith(const vesk::legacy::ChangeOutcome& outcome) {
    writeApps(outcome);
}
