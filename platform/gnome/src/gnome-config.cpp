// SPDX-License-Identifier: LGPL-2.1-or-later
// gnome_config on GLib key files: a process-wide cache of the user's settings
// files, written back only by gnome_config_sync.
#include "gnome2/gnome-config.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gnome2-io.h"
#include "output/FileSystemCalls.h"

namespace {

const GKeyFileFlags kLoadFlags =
    static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
const mode_t kNewFileMode = 0600;
const mode_t kNewDirMode = 0700;

struct KeyFileFree {
    void operator()(GKeyFile* keys) const { g_key_file_free(keys); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

struct ConfigFile {
    KeyFilePtr keys;
    // Why the file on disk cannot be used. Such a file reads as empty and is
    // never written: writing it would replace whatever the user had there.
    std::string problem;
    bool dirty = false;
};

struct ConfigPath {
    std::string dir;  // $HOME/.gnome2 or $HOME/.gnome2_private
    std::string file;
    std::string section;
    std::string key;
    std::string full() const { return dir + "/" + file; }
};

struct ConfigIterator {
    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t next = 0;
};

std::mutex sMutex;
std::map<std::string, ConfigFile> sFiles;  // by full file name
bool sWriteDropped = false;                // a refused write, reported by the next sync
bool sSyncFailedForGood = false;           // the last sync failed for a reason no retry mends

void warn(const char* format, ...) G_GNUC_PRINTF(1, 2);
void warn(const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_logv(GNOME_CONFIG_LOG_DOMAIN, G_LOG_LEVEL_WARNING, format, args);
    va_end(args);
}

// A text from a path or a file, made safe to print on one log line.
std::string shown(const std::string& text) {
    gchar* escaped = g_strescape(text.c_str(), nullptr);
    std::string result = escaped;
    g_free(escaped);
    return result;
}

bool isControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

bool hasControl(const std::string& text) {
    for (char c : text) {
        if (isControl(c)) {
            return true;
        }
    }
    return false;
}

bool validFile(const std::string& file) {
    return !file.empty() && file != "." && file != ".." && !hasControl(file);
}

bool validSection(const std::string& section) {
    return !section.empty() && !hasControl(section) &&
           section.find_first_of("[]") == std::string::npos;
}

// Keys must come back as the same key when the file is read again: GLib trims
// blanks around a key, reads "#..." as a comment and "[...]" as a section, and
// accepts brackets only as a trailing "[locale]".
bool validKey(const std::string& key) {
    if (key.empty() || hasControl(key) || key.find('=') != std::string::npos || key[0] == '#' ||
        key[0] == '[' || key.front() == ' ' || key.back() == ' ') {
        return false;
    }
    const std::string::size_type open = key.find('[');
    if (open == std::string::npos) {
        return key.find(']') == std::string::npos;
    }
    // GLib refuses a name ending in a blank or holding a "]" before its
    // "[locale]" as well, and would drop the write without a word.
    if (key.back() != ']' || open + 2 >= key.size() || key[open - 1] == ' ' ||
        key.find(']') < open) {
        return false;
    }
    for (std::string::size_type i = open + 1; i + 1 < key.size(); ++i) {
        if (!g_ascii_isalnum(key[i]) && std::string("_.@-").find(key[i]) == std::string::npos) {
            return false;
        }
    }
    return true;
}

// Splits "file/section/key" (or "file/section" when withKey is false).
bool parsePath(const gchar* path, gboolean priv, bool withKey, ConfigPath& out) {
    const char* home = getenv("HOME");
    if (path == nullptr || home == nullptr || home[0] != '/') {
        return false;
    }
    std::string rest = path[0] == '/' ? path + 1 : path;
    std::string::size_type slash = rest.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    out.dir = std::string(home) + (priv ? "/.gnome2_private" : "/.gnome2");
    out.file = rest.substr(0, slash);
    rest.erase(0, slash + 1);
    if (withKey) {
        slash = rest.find('/');
        if (slash == std::string::npos) {
            return false;
        }
        out.section = rest.substr(0, slash);
        out.key = rest.substr(slash + 1);
    } else {
        if (!rest.empty() && rest.back() == '/') {
            rest.pop_back();
        }
        out.section = rest;
    }
    return validFile(out.file) && validSection(out.section) && (!withKey || validKey(out.key));
}

// Lenient: an unknown escape or a trailing backslash is kept as it stands, so a
// hand-edited value is read rather than lost.
std::string unescape(const char* raw) {
    std::string out;
    for (const char* p = raw; *p != '\0'; ++p) {
        if (*p != '\\' || p[1] == '\0') {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'v':
                out += '\v';
                break;
            case 'f':
                out += '\f';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += *p;
        }
    }
    return out;
}

// Leading digits, as the session files have always been read: "3abc" is 3.
gint parseInt(const std::string& text) {
    std::string::size_type i = 0;
    while (i < text.size() && g_ascii_isspace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && g_ascii_isdigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<gint>(-value);
    }
    return value > INT_MAX ? INT_MAX : static_cast<gint>(value);
}

// GLib keeps the blank lines before a section header as the last lines of the
// section above, files new keys after them and writes its own blank line before
// every header: each rewrite would add one more. Its writer restores exactly one.
std::string withoutBlankLinesBeforeSections(const gchar* data, gsize length) {
    std::string out;
    out.reserve(length);
    std::string pendingBlank;
    gsize start = 0;
    while (start < length) {
        gsize end = start;
        while (end < length && data[end] != '\n') {
            ++end;
        }
        const gsize next = end < length ? end + 1 : end;
        gsize first = start;
        while (first < end && (data[first] == ' ' || data[first] == '\t' || data[first] == '\r')) {
            ++first;
        }
        if (first == end) {
            pendingBlank.append(data + start, next - start);
        } else {
            if (data[first] != '[') {
                out += pendingBlank;
            }
            pendingBlank.clear();
            out.append(data + start, next - start);
        }
        start = next;
    }
    out += pendingBlank;
    return out;
}

std::string withoutTrailingCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 1);
    size_t returns = 0;  // carriage returns held back until a line break or other text
    for (const char c : text) {
        if (c == '\r') {
            ++returns;
            continue;
        }
        if (c != '\n') {
            out.append(returns, '\r');
        }
        returns = 0;
        out += c;
    }
    if (!out.empty() && out.back() != '\n') {
        out += '\n';
    }
    return out;
}

std::string readProblem(const std::string& full, GKeyFile* keys) {
    struct stat st;
    if (stat(full.c_str(), &st) != 0) {
        return errno == ENOENT ? "" : g_strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a regular file";
    }
    gchar* data = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    std::string problem;
    bool ok = g_file_get_contents(full.c_str(), &data, &length, &error);
    // GLib reads a value only up to a NUL byte, so a rewrite would change the
    // line it stands on (a carriage return before it becomes a line end).
    if (ok && std::memchr(data, '\0', length) != nullptr) {
        g_free(data);
        return "it holds a NUL byte";
    }
    if (ok) {
        // Carriage returns at the end of a line go, and a last line without
        // its line break is read as if it had one: GLib takes one carriage
        // return before a line break as part of the break and keeps the rest
        // in the value, so each rewrite would drop one more.
        const std::string lines = withoutTrailingCarriageReturns(std::string(data, length));
        const std::string text = withoutBlankLinesBeforeSections(lines.data(), lines.size());
        ok = g_key_file_load_from_data(keys, text.data(), text.size(), kLoadFlags, &error);
    }
    if (!ok) {
        problem = error->message;
        g_error_free(error);
    }
    g_free(data);
    return problem;
}

ConfigFile& fileFor(const ConfigPath& path) {
    const std::string full = path.full();
    auto found = sFiles.find(full);
    if (found != sFiles.end()) {
        return found->second;
    }
    ConfigFile& file = sFiles[full];
    file.keys.reset(g_key_file_new());
    file.problem = readProblem(full, file.keys.get());
    if (!file.problem.empty()) {
        warn("Cannot use \"%s\": %s. It reads as empty and will not be written.",
             shown(full).c_str(), shown(file.problem).c_str());
        file.keys.reset(g_key_file_new());
    }
    return file;
}

bool findValue(const gchar* path, gboolean priv, std::string& value) {
    ConfigPath where;
    if (!parsePath(path, priv, true, where)) {
        return false;
    }
    ConfigFile& file = fileFor(where);
    gchar* raw =
        g_key_file_get_value(file.keys.get(), where.section.c_str(), where.key.c_str(), nullptr);
    if (raw == nullptr) {
        return false;
    }
    value = unescape(raw);
    g_free(raw);
    return true;
}

bool parseForWrite(const gchar* path, gboolean priv, ConfigPath& where) {
    if (parsePath(path, priv, true, where)) {
        return true;
    }
    warn("Not changing \"%s\": not a valid path under an absolute HOME",
         shown(path != nullptr ? path : "(null)").c_str());
    sWriteDropped = true;
    return false;
}

void setValue(const gchar* path, gboolean priv, const std::string& value) {
    ConfigPath where;
    if (!parseForWrite(path, priv, where)) {
        return;
    }
    ConfigFile& file = fileFor(where);
    const std::string escaped = gnome2_escape_value(value, false);
    gchar* old =
        g_key_file_get_value(file.keys.get(), where.section.c_str(), where.key.c_str(), nullptr);
    if (old == nullptr || escaped != old) {
        g_key_file_set_value(file.keys.get(), where.section.c_str(), where.key.c_str(),
                             escaped.c_str());
        file.dirty = true;
    }
    g_free(old);
}

bool writeFile(const std::string& full, ConfigFile& file) {
    const std::string dir = full.substr(0, full.rfind('/'));
    if (vesk::legacy::FileSystemCalls::sCurrent.mMkdir(dir.c_str(), kNewDirMode) != 0 &&
        errno != EEXIST) {
        warn("Cannot create \"%s\": %s", shown(dir).c_str(), g_strerror(errno));
        return false;
    }
    gsize length = 0;
    gchar* data = g_key_file_to_data(file.keys.get(), &length, nullptr);
    // Never write what could not be read back: the next run would refuse it.
    GError* error = nullptr;
    KeyFilePtr check(g_key_file_new());
    bool ok = g_key_file_load_from_data(check.get(), data, length, kLoadFlags, &error) &&
              gnome2_replace_file(full.c_str(), data, length, kNewFileMode, TRUE, &error);
    g_free(data);
    if (!ok) {
        warn("Not written \"%s\": %s", shown(full).c_str(), shown(error->message).c_str());
        g_error_free(error);
    }
    return ok;
}

}  // namespace

extern "C" {

gint gnome_config_get_int_with_default_(const gchar* path, gboolean* def, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    std::string value;
    const bool found = findValue(path, priv, value);
    if (def != nullptr) {
        *def = found ? FALSE : TRUE;
    }
    return found ? parseInt(value) : 0;
}

gchar* gnome_config_get_string_with_default_(const gchar* path, gboolean* def, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    std::string value;
    const bool found = findValue(path, priv, value);
    if (def != nullptr) {
        *def = found ? FALSE : TRUE;
    }
    return found ? g_strdup(value.c_str()) : nullptr;
}

void gnome_config_set_int_(const gchar* path, gint value, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    setValue(path, priv, std::to_string(value));
}

void gnome_config_set_string_(const gchar* path, const gchar* value, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    setValue(path, priv, value != nullptr ? value : "");
}

void gnome_config_clean_key_(const gchar* path, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    ConfigPath where;
    if (!parseForWrite(path, priv, where)) {
        return;
    }
    ConfigFile& file = fileFor(where);
    if (g_key_file_remove_key(file.keys.get(), where.section.c_str(), where.key.c_str(), nullptr)) {
        file.dirty = true;
    }
}

gboolean gnome_config_sync(void) {
    std::lock_guard<std::mutex> lock(sMutex);
    bool ok = !sWriteDropped;
    sSyncFailedForGood = sWriteDropped;
    sWriteDropped = false;
    for (auto& entry : sFiles) {
        ConfigFile& file = entry.second;
        if (!file.dirty) {
            continue;
        }
        if (!file.problem.empty()) {
            warn("Not written \"%s\": the file on disk cannot be used (%s)",
                 shown(entry.first).c_str(), shown(file.problem).c_str());
            ok = false;
            sSyncFailedForGood = true;
        } else if (writeFile(entry.first, file)) {
            file.dirty = false;
        } else {
            ok = false;
        }
    }
    return ok ? TRUE : FALSE;
}

gboolean gnome_config_sync_failed_for_good(void) {
    std::lock_guard<std::mutex> lock(sMutex);
    return sSyncFailedForGood ? TRUE : FALSE;
}

void gnome_config_drop_all(void) {
    std::lock_guard<std::mutex> lock(sMutex);
    sFiles.clear();
    sWriteDropped = false;
    sSyncFailedForGood = false;
}

void* gnome_config_init_iterator_(const gchar* path, gboolean priv) {
    std::lock_guard<std::mutex> lock(sMutex);
    ConfigPath where;
    if (!parsePath(path, priv, false, where)) {
        return nullptr;
    }
    GKeyFile* keys = fileFor(where).keys.get();
    gchar** names = g_key_file_get_keys(keys, where.section.c_str(), nullptr, nullptr);
    if (names == nullptr) {
        return nullptr;
    }
    auto iterator = std::make_unique<ConfigIterator>();
    std::set<std::string> seen;  // a key written twice in the file counts once
    for (gchar** name = names; *name != nullptr; ++name) {
        gchar* raw = g_key_file_get_value(keys, where.section.c_str(), *name, nullptr);
        if (raw != nullptr && seen.insert(*name).second) {
            iterator->entries.emplace_back(*name, unescape(raw));
        }
        g_free(raw);
    }
    g_strfreev(names);
    return iterator->entries.empty() ? nullptr : iterator.release();
}

void* gnome_config_iterator_next(void* handle, gchar** key, gchar** value) {
    auto* iterator = static_cast<ConfigIterator*>(handle);
    const bool more = iterator != nullptr && iterator->next < iterator->entries.size();
    if (key != nullptr) {
        *key = more ? g_strdup(iterator->entries[iterator->next].first.c_str()) : nullptr;
    }
    if (value != nullptr) {
        *value = more ? g_strdup(iterator->entries[iterator->next].second.c_str()) : nullptr;
    }
    if (!more) {
        delete iterator;
        return nullptr;
    }
    ++iterator->next;
    return iterator;
}

void gnome_config_iterator_free(void* handle) {
    delete static_cast<ConfigIterator*>(handle);
}
}
