#include "TestDirectory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vesk::legacy::store::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char kSlapd[] = "/usr/sbin/slapd";
const char kSlapadd[] = "/usr/sbin/slapadd";
const char kSlapmodify[] = "/usr/sbin/slapmodify";
const char kCoreSchema[] = "/etc/ldap/schema/core.ldif";

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return connected;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string encodedPath(const std::string& path) {
    std::string encoded;
    for (char c : path) {
        encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    }
    return encoded;
}

struct berval toBerval(const std::string& text) {
    return {static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
}

}  // namespace

TestDirectory::TestDirectory(std::string schemaLdif)
    : mSchema(std::move(schemaLdif)), mOwner(getpid()) {
    char pattern[] = "/tmp/vesk-slapd-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        mFolder = pattern;
    }
}

TestDirectory::~TestDirectory() {
    if (getpid() != mOwner) {
        return;
    }
    stop();
    if (!mFolder.empty()) {
        std::error_code ignored;
        fs::remove_all(mFolder, ignored);
    }
}

int TestDirectory::runTool(const std::vector<std::string>& argv, const std::string& output) {
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (std::string& arg : copies) {
        args.push_back(&arg[0]);
    }
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool TestDirectory::configure(std::string& error) {
    if (mFolder.empty()) {
        error = "no temporary folder";
        return false;
    }
    fs::create_directories(mFolder + "/slapd.d");
    fs::create_directories(mFolder + "/db");
    std::ofstream(mFolder + "/config.ldif")
        << "dn: cn=config\nobjectClass: olcGlobal\ncn: config\n"
        << "olcPidFile: " << mFolder
        << "/slapd.pid\n"
        // Room for a layer above the 64 MiB limit, to see it refused.
        << "olcSockbufMaxIncomingAuth: 134217728\n\n"
        << "dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
        << "olcModulePath: /usr/lib/ldap\nolcModuleLoad: back_mdb\nolcModuleLoad: syncprov\n\n"
        << "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n"
        << "include: file://" << kCoreSchema << "\n\n"
        << "include: file://" << mSchema << "\n\n"
        << "dn: olcDatabase={-1}frontend,cn=config\nobjectClass: olcDatabaseConfig\n"
        << "objectClass: olcFrontendConfig\nolcDatabase: {-1}frontend\n"
        << "olcSizeLimit: unlimited\n\n"
        << "dn: olcDatabase={0}config,cn=config\nobjectClass: olcDatabaseConfig\n"
        << "olcDatabase: {0}config\n\n"
        << "dn: olcDatabase={1}mdb,cn=config\nobjectClass: olcDatabaseConfig\n"
        << "objectClass: olcMdbConfig\nolcDatabase: {1}mdb\n"
        << "olcDbDirectory: " << mFolder << "/db\n"
        << "olcSuffix: " << kSuffix << "\nolcRootDN: " << kAdminDn << "\n"
        << "olcRootPW: " << kAdminPassword << "\nolcDbMaxSize: 1073741824\n"
        << "olcAccess: {0}to attrs=userPassword by anonymous auth by * none\n"
        << "olcAccess: {1}to * by * read\n\n"
        << "dn: olcOverlay={0}syncprov,olcDatabase={1}mdb,cn=config\n"
        << "objectClass: olcOverlayConfig\nobjectClass: olcSyncProvConfig\n"
        << "olcOverlay: {0}syncprov\n";
    std::ofstream(mFolder + "/base.ldif")
        << "dn: " << kSuffix << "\nobjectClass: dcObject\nobjectClass: organization\n"
        << "o: vesk\ndc: vesk\n\n"
        << "dn: " << kReaderDn << "\nobjectClass: organizationalRole\n"
        << "objectClass: simpleSecurityObject\ncn: reader\n"
        << "userPassword: " << kReaderPassword << "\n";
    const std::string log = mFolder + "/tools.log";
    if (runTool({kSlapadd, "-q", "-n0", "-F", mFolder + "/slapd.d", "-l", mFolder + "/config.ldif"},
                log) != 0 ||
        runTool({kSlapadd, "-q", "-n1", "-F", mFolder + "/slapd.d", "-l", mFolder + "/base.ldif"},
                log) != 0) {
        error = "slapadd failed: " + readFile(log);
        return false;
    }
    mConfigured = true;
    return true;
}

bool TestDirectory::launch(std::string& error) {
    const std::string listen = url("") + " " + localUrl("");
    const std::string log = mFolder + "/slapd.log";
    std::vector<std::string> argv{kSlapd, "-F", mFolder + "/slapd.d", "-h", listen, "-d", "0"};
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(&arg[0]);
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    mPid = fork();
    if (mPid == 0) {
        // The server goes with the test, even one that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(1);
        }
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    if (mPid < 0) {
        mPid = 0;
        error = "fork failed";
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(mPid, &status, WNOHANG) == mPid) {
            mPid = 0;
            error = "slapd ended: " + readFile(log);
            return false;
        }
        if (accepts(mPort) && fs::exists(mFolder + "/ldapi")) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    stop();
    error = "slapd did not start: " + readFile(log);
    return false;
}

bool TestDirectory::start(std::string& error) {
    if (running()) {
        return true;
    }
    if (!mConfigured && !configure(error)) {
        return false;
    }
    if (mPort != 0) {
        return launch(error);  // the same port as before, as a restarted server has
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        mPort = freePort();
        if (mPort != 0 && launch(error)) {
            return true;
        }
    }
    mPort = 0;
    return false;
}

void TestDirectory::stop() {
    dropAdmin();
    if (mPid <= 0 || getpid() != mOwner) {
        return;
    }
    kill(mPid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + 5s;
    int status = 0;
    while (waitpid(mPid, &status, WNOHANG) != mPid) {
        if (std::chrono::steady_clock::now() > end) {
            kill(mPid, SIGKILL);
            waitpid(mPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    mPid = 0;
}

std::string TestDirectory::url(const std::string& base) const {
    return "ldap://127.0.0.1:" + std::to_string(mPort) + "/" + base;
}

std::string TestDirectory::localUrl(const std::string& base) const {
    return "ldapi://" + encodedPath(mFolder + "/ldapi") + "/" + base;
}

LDAP* TestDirectory::admin() {
    if (mAdmin != nullptr) {
        return mAdmin;
    }
    LDAP* ldap = nullptr;
    if (ldap_initialize(&ldap, url("").c_str()) != LDAP_SUCCESS) {
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(ldap, LDAP_OPT_PROTOCOL_VERSION, &version);
    const std::string password = kAdminPassword;
    struct berval credentials = toBerval(password);
    if (ldap_sasl_bind_s(ldap, kAdminDn, LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr,
                         nullptr) != LDAP_SUCCESS) {
        ldap_unbind_ext_s(ldap, nullptr, nullptr);
        return nullptr;
    }
    mAdmin = ldap;
    return mAdmin;
}

void TestDirectory::dropAdmin() {
    if (mAdmin != nullptr) {
        ldap_unbind_ext_s(mAdmin, nullptr, nullptr);
        mAdmin = nullptr;
    }
}

int TestDirectory::addEntry(const std::string& dn, const std::vector<Attribute>& attributes) {
    LDAP* ldap = admin();
    if (ldap == nullptr) {
        return LDAP_SERVER_DOWN;
    }
    std::vector<std::vector<struct berval>> values(attributes.size());
    std::vector<std::vector<struct berval*>> pointers(attributes.size());
    std::vector<LDAPMod> mods(attributes.size());
    std::vector<LDAPMod*> list;
    for (size_t i = 0; i < attributes.size(); ++i) {
        for (const std::string& value : attributes[i].values) {
            values[i].push_back(toBerval(value));
        }
        for (struct berval& value : values[i]) {
            pointers[i].push_back(&value);
        }
        pointers[i].push_back(nullptr);
        mods[i].mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char*>(attributes[i].name.c_str());
        mods[i].mod_bvalues = pointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);
    return ldap_add_ext_s(ldap, dn.c_str(), list.data(), nullptr, nullptr);
}

int TestDirectory::replaceValues(const std::string& dn, const std::string& name,
                                 const std::vector<std::string>& values) {
    LDAP* ldap = admin();
    if (ldap == nullptr) {
        return LDAP_SERVER_DOWN;
    }
    std::vector<struct berval> copies;
    for (const std::string& value : values) {
        copies.push_back(toBerval(value));
    }
    std::vector<struct berval*> pointers;
    for (struct berval& value : copies) {
        pointers.push_back(&value);
    }
    pointers.push_back(nullptr);
    LDAPMod mod = {};
    mod.mod_op = LDAP_MOD_REPLACE | LDAP_MOD_BVALUES;
    mod.mod_type = const_cast<char*>(name.c_str());
    mod.mod_bvalues = pointers.data();
    LDAPMod* list[] = {&mod, nullptr};
    return ldap_modify_ext_s(ldap, dn.c_str(), list, nullptr, nullptr);
}

int TestDirectory::deleteEntry(const std::string& dn) {
    LDAP* ldap = admin();
    return ldap == nullptr ? LDAP_SERVER_DOWN
                           : ldap_delete_ext_s(ldap, dn.c_str(), nullptr, nullptr);
}

int TestDirectory::rename(const std::string& dn, const std::string& newRdn) {
    LDAP* ldap = admin();
    return ldap == nullptr
               ? LDAP_SERVER_DOWN
               : ldap_rename_s(ldap, dn.c_str(), newRdn.c_str(), nullptr, 1, nullptr, nullptr);
}

long long TestDirectory::modifyTime(const std::string& dn) {
    LDAP* ldap = admin();
    char name[] = "modifyTimestamp";
    char* attributes[] = {name, nullptr};
    LDAPMessage* result = nullptr;
    if (ldap == nullptr ||
        ldap_search_ext_s(ldap, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0,
                          nullptr, nullptr, nullptr, 1, &result) != LDAP_SUCCESS) {
        ldap_msgfree(result);
        return -1;
    }
    long long seconds = -1;
    LDAPMessage* entry = ldap_first_entry(ldap, result);
    struct berval** values = entry != nullptr ? ldap_get_values_len(ldap, entry, name) : nullptr;
    if (values != nullptr && values[0] != nullptr && values[0]->bv_len >= 14) {
        const std::string text(values[0]->bv_val, values[0]->bv_len);
        struct tm parts = {};
        if (strptime(text.substr(0, 14).c_str(), "%Y%m%d%H%M%S", &parts) != nullptr) {
            seconds = static_cast<long long>(timegm(&parts));
        }
    }
    ldap_value_free_len(values);
    ldap_msgfree(result);
    return seconds;
}

bool TestDirectory::modifyOffline(const std::string& ldif, std::string& error) {
    if (running()) {
        error = "the server still runs";
        return false;
    }
    const std::string file = mFolder + "/offline.ldif";
    std::ofstream(file, std::ios::trunc) << ldif;
    const std::string log = mFolder + "/tools.log";
    if (runTool({kSlapmodify, "-n1", "-F", mFolder + "/slapd.d", "-l", file}, log) != 0) {
        error = "slapmodify failed: " + readFile(log);
        return false;
    }
    return true;
}

}  // namespace vesk::legacy::store::test
