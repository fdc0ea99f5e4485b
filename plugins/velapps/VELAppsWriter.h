// SPDX-License-Identifier: LGPL-2.1-or-later
// Installs the kiosk application list of the thin-client server from policy: one
// settings file per application, swapped in as the kiosk configuration, then
// handed to the kiosk tools; and again on every change of the list.
//
//   VELAppsWriter writer;      // its own ConfigurationAccess("kiosk.default")
//   writer.startListening();   // reinstall once per change
//   writer.writeApps();        // first installation
//
// A writer given its own KioskPaths installs there and runs those tools
// instead of the system's, for tests that need no private mount namespace.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "RetryScheduler.h"
#include "change/INodeListener.h"

namespace vesk::legacy {
class ConfigurationAccess;
class Node;
class StructuralNode;
}  // namespace vesk::legacy

// The installed configuration, where a new one is built, and where the
// previous one waits until the new one is accepted by the kiosk tools.
inline constexpr char kApplicationStorage[] = "/var/opt/MERXkx/kiosk/config";
inline constexpr char kTempApplicationStorage[] = "/var/opt/MERXkx/kiosk/tmp.config";
inline constexpr char kBackupApplicationStorage[] = "/var/opt/MERXkx/kiosk/backup.config";
inline constexpr uid_t kStorageUserId = 0;
inline constexpr mode_t kStorageDirPermissions = 0770;
inline constexpr char kAppsPath[] = "com.orvek.Lumora.Apps/Applications";

// The kiosk tools of the thin-client server.
inline constexpr char kGroupIdTool[] = "/opt/MERXkx/lib/kxadmingid";
inline constexpr char kTableTool[] = "/opt/MERXkx/lib/kxgentab";
inline constexpr char kImportCommand[] = "/opt/MERXkx/sbin/kxkiosk -i kiosk";
inline constexpr char kRecoveryTool[] = "/opt/MERXkx/lib/kxgenout";

// Where an installation builds, swaps and keeps the configuration, who owns the
// temporary directory, and which tools it runs; the system's by default.
struct KioskPaths {
    std::string storage = kApplicationStorage;
    std::string tempStorage = kTempApplicationStorage;
    std::string backupStorage = kBackupApplicationStorage;
    uid_t storageUserId = kStorageUserId;
    std::string groupIdTool = kGroupIdTool;
    std::string tableTool = kTableTool;
    std::string importCommand = kImportCommand;
    std::string recoveryTool = kRecoveryTool;
};

// Sets the group of the temporary directory until the group tool prints
// another one (kStorageGroupId, shared by every writer of the process).
void setStorageGroupId(gid_t groupId);

// Setting name to value, in byte order of the names.
typedef std::map<std::string, std::string> ApplicationSettings;

class VELAppsWriter : public vesk::legacy::INodeListener {
  public:
    // Logs "Init writer: %s\n" and keeps no access when the policy service
    // cannot be opened; the writer then does nothing.
    VELAppsWriter();
    // The same, installing into those paths with those tools.
    explicit VELAppsWriter(const KioskPaths& paths);
    ~VELAppsWriter() override;

    VELAppsWriter(const VELAppsWriter&) = delete;
    VELAppsWriter& operator=(const VELAppsWriter&) = delete;

    // Rebuilds and installs the configuration; failures are logged
    // ("Write apps: %s\n"), never thrown. A failed installation is tried
    // again later from the same copy of the list, until one succeeds or a
    // newer call replaces it. Serialised across all writers. Nothing is
    // installed from policy that was not read in full.
    void writeApps() const;
    // The same from a change's outcome, when it holds a tree.
    void writeApps(const vesk::legacy::ChangeOutcome& outcome) const;
    void startListening();
    void stopListening();

    void onNodeAdded(const vesk::legacy::NodePath& path) override;
    void onNodeRemoved(const vesk::legacy::NodePath& path) override;
    void onNodeChanged(const vesk::legacy::NodePath& path) override;
    void onChangeComplete() override;
    void onChangeCompleteWith(const vesk::legacy::ChangeOutcome& outcome) override;

  private:
    bool mListening = false;
    std::unique_ptr<vesk::legacy::ConfigurationAccess> mAccess;
    const KioskPaths mPaths;
    // Last, so that its thread ends first; it works on copies only.
    mutable vesk::legacy::plugins::RetryScheduler mRetry;
};

// Logs the exception being handled, its message as format's "%s"; only
// inside a catch block.
void logCaughtFailure(const char* format);

// The connection string of the writer's configuration access, "kiosk.default".
std::string getFailoverGroupEntity();

// Throws Exception "Error accessing <path>: <strerror(errorNumber)>".
[[noreturn]] void handleAccessError(const std::string& path, int errorNumber);

void removeFile(const std::string& path);
// Removes the directory and everything below it without following links.
void removeDirectory(const std::string& path);
// Removes a file, link or directory tree; a missing path is no error.
void removeEntry(const std::string& path);

// Reads the group id, then creates the temporary directory owned by root and
// that group, mode 0770. Without paths, the system's.
void createTempDirectory();
void createTempDirectory(const KioskPaths& paths);
void prepareTempDirectory();
void prepareTempDirectory(const KioskPaths& paths);

// Fills settings with "name" (the node name) and every property child's
// default-locale value; true when "pathapp" is set and not empty.
bool loadApplicationSettings(const vesk::legacy::StructuralNode& application,
                             ApplicationSettings& settings);
// Writes the application's settings file into the temporary directory, or
// logs "Skipping application %s: %s\n" when its names or values are unsafe.
void writeApplication(const vesk::legacy::Node* node);
void writeApplication(const vesk::legacy::Node* node, const KioskPaths& paths);
// Swaps the temporary directory in, runs the kiosk tools, and puts the
// previous configuration back if they fail.
void propagateApplications();
void propagateApplications(const KioskPaths& paths);
// One whole installation of the list's applications; false, logged, when it
// failed. An empty list installs nothing and succeeds.
bool installApplications(const vesk::legacy::StructuralNode& list, const KioskPaths& paths);

// Why a node name cannot be a settings file name that the kiosk tools take,
// or "" when it can: empty, "." or "..", longer than the folder's NAME_MAX, a
// leading "#" (a comment in the table), "/", control characters (C1 included),
// a double quote, invalid UTF-8.
std::string checkApplicationName(const std::string& name);
// Why the settings cannot be written as name="value" lines, or "": a name
// outside [A-Za-z_][A-Za-z0-9_]* or one a shell acts on (PATH, IFS, LD_*, ...),
// a value with quotes, backslashes, "$", backquotes, control characters or
// invalid UTF-8.
std::string checkApplicationSettings(const ApplicationSettings& settings);
// A strict decimal group id, optionally surrounded by white space.
bool parseGroupId(const std::string& text, gid_t& groupId);
