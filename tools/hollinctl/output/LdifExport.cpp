// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdifExport.h"

#include "StoreLint.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>

#include "ExitStatus.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

const size_t kMaxLayerSize = 64 * 1024 * 1024;
const size_t kLineLength = 76;
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kSuffix[] = ".xml";

// The folders of named scopes and the attribute that names a scope in each.
struct Folder {
    const char* name;
    const char* attribute;
};
const Folder kFolders[] = {{"groups", "cn"}, {"hosts", "cn"}, {"users", "uid"}, {"entities", "cn"}};

std::string base64(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = std::min<size_t>(3, bytes.size() - i);
        unsigned int chunk = 0;
        for (size_t k = 0; k < 3; ++k) {
            chunk = (chunk << 8) | (k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (size_t k = 0; k < 4; ++k) {
            out += k <= left ? kBase64[(chunk >> (18 - 6 * k)) & 0x3f] : '=';
        }
    }
    return out;
}

bool isUtf8(const std::string& text) {
    std::uint32_t codePoint = 0;
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = decodeUtf8(text, pos, codePoint);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

// A name libvesk reads: one path element, and one a directory can hold.
bool isUsableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           isUtf8(name);
}

// How the directory tells names apart (cn and uid ignore case).
std::string folded(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

// The folder's entries in byte order; error is errno when it cannot be read.
std::vector<std::string> entriesOf(const std::string& dir, int& error) {
    std::vector<std::string> names;
    DIR* folder = opendir(dir.c_str());
    error = folder == nullptr ? errno : 0;
    if (folder == nullptr) {
        return names;
    }
    while (const struct dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The file's bytes, as libvesk would read them, or false with the reason.
bool readLayer(const std::string& path, std::string& data, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    struct stat info;
    bool fine = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    problem = fine ? "" : "not a regular file";
    data.clear();
    char buffer[65536];
    while (fine) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            fine = got == 0;
            problem = fine ? "" : std::strerror(errno);
            break;
        }
        if (data.size() + static_cast<size_t>(got) > kMaxLayerSize) {
            fine = false;
            problem = "larger than 64 MiB";
            break;
        }
        data.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return fine;
}

void put(std::FILE* out, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
        throw CommandError(kServiceError,
                           std::string("cannot write the LDIF: ") + std::strerror(errno));
    }
}

}  // namespace

LdifExport::LdifExport(std::string storeDir, std::string baseDn)
    : mStoreDir(std::move(storeDir)), mBaseDn(std::move(baseDn)) {}

std::string LdifExport::line(const std::string& name, const std::string& value) {
    bool safe = value.empty() || (value.front() != ' ' && value.front() != ':' &&
                                  value.front() != '<' && value.back() != ' ');
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        safe = safe && byte != 0 && byte < 0x80 && byte != '\n' && byte != '\r';
    }
    const std::string whole =
        safe ? name + ":" + (value.empty() ? "" : " " + value) : name + ":: " + base64(value);
    // Folded: every further line starts with one space, which the reader drops.
    std::string folded = whole.substr(0, kLineLength);
    for (size_t at = kLineLength; at < whole.size(); at += kLineLength - 1) {
        folded += "\n " + whole.substr(at, kLineLength - 1);
    }
    return folded + "\n";
}

std::string LdifExport::dnValue(const std::string& value) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (byte < 0x20 || byte == 0x7f) {
            out += '\\';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        } else if (std::strchr("\"+,;<>\\=", byte) != nullptr ||
                   (byte == ' ' && (i == 0 || i + 1 == value.size())) || (byte == '#' && i == 0)) {
            out += '\\';
            out += static_cast<char>(byte);
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::vector<LdifExport::Layer> LdifExport::layersIn(const std::string& scope,
                                                    std::vector<std::string>& problems) const {
    std::vector<Layer> layers;
    std::set<std::string> seen;
    int error = 0;
    const std::string dir = mStoreDir + "/" + scope;
    for (const std::string& file : entriesOf(dir, error)) {
        const size_t suffix = std::strlen(kSuffix);
        if (file.size() <= suffix || file.compare(file.size() - suffix, suffix, kSuffix) != 0) {
            continue;
        }
        const std::string component = file.substr(0, file.size() - suffix);
        const std::string path = scope + "/" + file;
        Layer layer{component, std::string()};
        std::string problem;
        if (!isUsableName(component)) {
            problems.push_back(printable(path) + ": the name cannot be a component in a directory");
        } else if (!seen.insert(folded(component)).second) {
            problems.push_back(printable(path) +
                               ": differs only in case from another layer, which a directory "
                               "does not tell apart");
        } else if (!readLayer(dir + "/" + file, layer.data, problem)) {
            problems.push_back(printable(path) + ": " + problem);
        } else {
            layers.push_back(std::move(layer));
        }
    }
    if (error != 0) {
        problems.push_back(printable(scope) + ": " + std::strerror(error));
    }
    return layers;
}

void LdifExport::write(std::FILE* out, std::vector<std::string>& problems) const {
    int error = 0;
    entriesOf(mStoreDir, error);
    if (error != 0) {
        throw CommandError(kNotFound, "cannot read the policy store " + quotedText(mStoreDir) +
                                          ": " + std::strerror(error));
    }
    put(out, "version: 1\n");
    const size_t comma = mBaseDn.find(',');
    const std::string first = mBaseDn.substr(0, comma);
    if (first.size() > 3 && strncasecmp(first.c_str(), "ou=", 3) == 0 &&
        first.find_first_of("\\+\"") == std::string::npos) {
        put(out, "\n" + line("dn", mBaseDn) + "objectClass: organizationalUnit\n" +
                     line("ou", first.substr(3)));
    } else {
        put(out, "\n# " + printable(mBaseDn) + " must exist before these entries.\n");
    }
    const auto putLayers = [&](const std::string& scopeDn, const std::vector<Layer>& layers) {
        for (const Layer& layer : layers) {
            put(out, "\n" + line("dn", "cn=" + dnValue(layer.component) + "," + scopeDn) +
                         "objectClass: veskLayer\n" + line("cn", layer.component) +
                         line("veskLayerData", layer.data));
        }
    };
    if (isDirectory(mStoreDir + "/default")) {
        const std::vector<Layer> layers = layersIn("default", problems);
        if (!layers.empty()) {
            const std::string scopeDn = "ou=default," + mBaseDn;
            put(out, "\n" + line("dn", scopeDn) + "objectClass: organizationalUnit\nou: default\n");
            putLayers(scopeDn, layers);
        }
    }
    for (const Folder& folder : kFolders) {
        const std::string folderPath = mStoreDir + "/" + folder.name;
        if (!isDirectory(folderPath)) {
            continue;
        }
        const std::string folderDn = std::string("ou=") + folder.name + "," + mBaseDn;
        bool folderWritten = false;
        std::set<std::string> seen;
        for (const std::string& name : entriesOf(folderPath, error)) {
            const std::string scope = std::string(folder.name) + "/" + name;
            if (!isDirectory(mStoreDir + "/" + scope)) {
                continue;
            }
            if (!isUsableName(name) || !seen.insert(folded(name)).second) {
                problems.push_back(printable(scope) +
                                   ": the name cannot be a scope in a directory (not UTF-8, or "
                                   "differs only in case from another)");
                continue;
            }
            const std::vector<Layer> layers = layersIn(scope, problems);
            if (layers.empty()) {
                continue;
            }
            if (!folderWritten) {
                put(out, "\n" + line("dn", folderDn) +
                             "objectClass: organizationalUnit\nou: " + folder.name + "\n");
                folderWritten = true;
            }
            const std::string scopeDn =
                std::string(folder.attribute) + "=" + dnValue(name) + "," + folderDn;
            put(out, "\n" + line("dn", scopeDn) + "objectClass: veskScope\n" +
                         line(folder.attribute, name));
            putLayers(scopeDn, layers);
        }
    }
}

const char* LdifExport::help() {
    return "Usage: hollinctl export-ldif STORE_DIR BASE_DN\n"
           "\n"
           "Prints the LDIF that loads the file store STORE_DIR into an LDAP directory\n"
           "below BASE_DN, for ldapadd, laid out as libvesk reads a directory\n"
           "(VESK_POLICY_STORE=ldap://HOST/BASE_DN): ou=default, cn=GROUP,ou=groups,\n"
           "cn=HOST,ou=hosts, uid=USER,ou=users, cn=ENTITY,ou=entities, and one entry\n"
           "cn=COMPONENT of class veskLayer per layer with its bytes in veskLayerData.\n"
           "The base entry is included when it is an ou=; the schema of\n"
           "vesk/ldap must be loaded.\n"
           "\n"
           "What a directory cannot hold is left out and reported: names that are not\n"
           "UTF-8, names that differ only in case, files that are no regular file or\n"
           "are larger than 64 MiB.\n"
           "\n"
           "Exit status 0 when everything was exported, 1 when something was left out\n"
           "or the store cannot be read, 2 usage error.\n";
}

int LdifExport::run(const CommandLine& line, std::FILE* out, std::FILE* err) {
    const std::vector<std::string>& arguments = line.getArguments();
    if (arguments.size() != 2) {
        throw CommandError(kUsage, "export-ldif takes STORE_DIR and BASE_DN");
    }
    if (line.hasFormat() || line.hasLocale() || line.hasEntity()) {
        throw CommandError(kUsage, "export-ldif takes no options");
    }
    if (arguments[1].find('=') == std::string::npos) {
        throw CommandError(kUsage, "BASE_DN " + quotedText(arguments[1]) + " is no DN");
    }
    // A broken layer would go into the directory and fail there: refused here.
    bool broken = false;
    for (const StoreLint::Finding& finding : StoreLint::run(arguments[0])) {
        std::fprintf(err, "hollinctl: %s: %s%s\n", finding.where.c_str(),
                     finding.broken ? "" : "warning: ", finding.message.c_str());
        broken = broken || finding.broken;
    }
    if (broken) {
        std::fprintf(err, "hollinctl: nothing exported: the store has broken layers\n");
        return kNotFound;
    }
    std::vector<std::string> problems;
    LdifExport(arguments[0], arguments[1]).write(out, problems);
    for (const std::string& problem : problems) {
        std::fprintf(err, "hollinctl: left out %s\n", problem.c_str());
    }
    return problems.empty() ? kSuccess : kNotFound;
}

}  // namespace vesk::legacy::hollinctl
