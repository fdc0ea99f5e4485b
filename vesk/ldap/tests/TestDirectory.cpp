// SPDX-License-Identifier: LGPL-2.1-or-later
#include "TestDirectory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "TestFiles.h"

namespace vesk::legacy::store::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char kSlapd[] = "/usr/sbin/slapd";
const char kSlapadd[] = "/usr/sbin/slapadd";
// The configuration lies beside this source.
const std::string kData = HOLLIN_SOURCE_DIR "/vesk/ldap/tests/data/";

// A loopback socket bound to a free port (port 0), or connected to the port.
int loopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    const bool done =
        fd >= 0 && (port == 0 ? bind(fd, any, length) == 0 && getsockname(fd, any, &length) == 0
                              : connect(fd, any, length) == 0);
    if (fd >= 0) {
        close(fd);
    }
    return done ? ntohs(address.sin_port) : 0;
}

std::string readLog(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct berval toBerval(const std::string& text) {
    return {static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
}

}  // namespace

TestDirectory::TestDirectory(std::string schemaLdif, Options options)
    : mSchema(std::move(schemaLdif)), mOptions(std::move(options)), mOwner(getpid()) {}

TestDirectory::~TestDirectory() {
    if (getpid() == mOwner) {
        stop();
    }
}

pid_t TestDirectory::spawn(const std::vector<std::string>& argv, const std::string& output,
                           const std::map<std::string, std::string>& env) {
    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (std::string& arg : copies) {
        args.push_back(&arg[0]);
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // It goes with the test, even one that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(1);
        }
        for (const auto& variable : env) {
            setenv(variable.first.c_str(), variable.second.c_str(), 1);
        }
        const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    return child;
}

int TestDirectory::finish(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    bool reaped = false;
    if (pid <= 0 ||
        !testsupport::waitUntil(
            [&] { return reaped = reaped || waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int TestDirectory::runTool(const std::vector<std::string>& argv, const std::string& output) {
    return finish(spawn(argv, output), 60s);
}

bool TestDirectory::configure(std::string& error) {
    fs::create_directories(mFolder + "/slapd.d");
    fs::create_directories(mFolder + "/db");
    std::string config = readLog(kData + "slapd-config.ldif");
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"@FOLDER@", mFolder}, {"@SCHEMA@", mSchema}}) {
        for (size_t at; (at = config.find(mark)) != std::string::npos;) {
            config.replace(at, mark.size(), value);
        }
    }
    const auto insertAfter = [&config](const std::string& line, const std::string& added) {
        const size_t at = config.find(line);
        if (at != std::string::npos) {
            config.insert(at + line.size(), added);
        }
    };
    const std::string& tls = mOptions.tlsFolder;
    if (!tls.empty()) {
        insertAfter("olcSockbufMaxIncomingAuth: 134217728\n",
                    "olcTLSCACertificateFile: " + tls + "/ca.pem\nolcTLSCertificateFile: " + tls +
                        "/server.pem\nolcTLSCertificateKeyFile: " + tls + "/server.key\n");
    }
    if (!mOptions.provider.empty()) {
        // Replication as a site runs it: refreshAndPersist as the provider's
        // administrator, over StartTLS when there is TLS, retried every second.
        std::string syncrepl = std::string("olcSyncrepl: rid=001 provider=") + mOptions.provider +
                               " bindmethod=simple binddn=\"" + kAdminDn +
                               "\" credentials=" + kAdminPassword + " searchbase=\"" + kSuffix +
                               "\" type=refreshAndPersist retry=\"1 +\" timeout=3";
        if (!tls.empty()) {
            syncrepl += " starttls=critical tls_reqcert=demand tls_cacert=" + tls + "/ca.pem";
        }
        insertAfter("olcDbMaxSize: 1073741824\n",
                    syncrepl + "\nolcUpdateRef: " + mOptions.provider + "\n");
    }
    std::ofstream(mFolder + "/config.ldif") << config;
    const std::string log = mFolder + "/tools.log";
    std::vector<std::pair<std::string, std::string>> loads{{"0", mFolder + "/config.ldif"}};
    if (mOptions.provider.empty()) {
        loads.emplace_back("1", kData + "slapd-base.ldif");  // a consumer gets it from the provider
    }
    for (const auto& [database, ldif] : loads) {
        if (runTool({kSlapadd, "-q", "-n" + database, "-F", mFolder + "/slapd.d", "-l", ldif},
                    log) != 0) {
            error = "slapadd failed: " + readLog(log);
            return false;
        }
    }
    return mConfigured = true;
}

bool TestDirectory::launch(std::string& error) {
    const std::string log = mFolder + "/slapd.log";
    fs::remove(mFolder + "/ldapi");
    std::string listeners = url("") + " " + localUrl("");
    if (!mOptions.tlsFolder.empty()) {
        listeners += " " + tlsUrl("");
    }
    mPid = spawn({kSlapd, "-F", mFolder + "/slapd.d", "-h", listeners, "-d", "0"}, log);
    bool ended = false;
    const bool up = testsupport::waitUntil(
        [&] {
            ended = ended || finish(mPid, 0ms) != -1;
            return ended || (loopback(mPort) != 0 && fs::exists(mFolder + "/ldapi") &&
                             (mTlsPort == 0 || loopback(mTlsPort) != 0));
        },
        10s);
    if (ended) {
        mPid = 0;
        error = "slapd ended: " + readLog(log);
        return false;
    }
    if (up) {
        return true;
    }
    stop();
    error = "slapd did not start: " + readLog(log);
    return false;
}

bool TestDirectory::start(std::string& error) {
    if (mPid > 0) {
        return true;
    }
    if (!mConfigured && !configure(error)) {
        return false;
    }
    if (mPort != 0) {
        return launch(error);  // the same port as before, as a restarted server has
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        mPort = loopback(0);
        mTlsPort = mOptions.tlsFolder.empty() ? 0 : loopback(0);
        if (mPort != 0 && launch(error)) {
            return true;
        }
    }
    mPort = 0;
    return false;
}

void TestDirectory::stop() {
    if (mAdmin != nullptr) {
        ldap_unbind_ext_s(mAdmin, nullptr, nullptr);
        mAdmin = nullptr;
    }
    if (mPid > 0 && getpid() == mOwner) {
        kill(mPid, SIGTERM);
        if (finish(mPid, 5s) == -1) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
        mPid = 0;
    }
}

std::string TestDirectory::url(const std::string& base) const {
    return "ldap://127.0.0.1:" + std::to_string(mPort) + "/" + base;
}

std::string TestDirectory::tlsUrl(const std::string& base) const {
    return "ldaps://127.0.0.1:" + std::to_string(mTlsPort) + "/" + base;
}

bool TestDirectory::makeCertificates(const std::string& folder, std::string& error) {
    fs::create_directories(folder);
    const std::string log = folder + "/openssl.log";
    const std::string openssl = "/usr/bin/openssl";
    std::ofstream(folder + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::vector<std::vector<std::string>> steps{
        {openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=vesk test CA", "-keyout", folder + "/ca.key", "-out", folder + "/ca.pem"},
        {openssl, "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
         folder + "/server.key", "-out", folder + "/server.csr"},
        {openssl, "x509", "-req", "-in", folder + "/server.csr", "-CA", folder + "/ca.pem",
         "-CAkey", folder + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile",
         folder + "/server.ext", "-out", folder + "/server.pem"},
    };
    for (const auto& step : steps) {
        if (runTool(step, log) != 0) {
            error = "openssl failed: " + readLog(log);
            return false;
        }
    }
    return true;
}

std::string TestDirectory::localUrl(const std::string& base) const {
    std::string encoded;
    for (char c : mFolder + "/ldapi") {
        encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    }
    return "ldapi://" + encoded + "/" + base;
}

LDAP* TestDirectory::admin() {
    const int version = LDAP_VERSION3;
    const std::string secret = kAdminPassword;
    struct berval password = toBerval(secret);
    if (mAdmin == nullptr && ldap_initialize(&mAdmin, url("").c_str()) == LDAP_SUCCESS &&
        (ldap_set_option(mAdmin, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_SUCCESS ||
         ldap_sasl_bind_s(mAdmin, kAdminDn, LDAP_SASL_SIMPLE, &password, nullptr, nullptr,
                          nullptr) != LDAP_SUCCESS)) {
        ldap_unbind_ext_s(mAdmin, nullptr, nullptr);
        mAdmin = nullptr;
    }
    return mAdmin;
}

int TestDirectory::change(bool add, const std::string& dn,
                          const std::vector<Attribute>& attributes) {
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
        mods[i].mod_op = (add ? LDAP_MOD_ADD : LDAP_MOD_REPLACE) | LDAP_MOD_BVALUES;
        mods[i].mod_type = const_cast<char*>(attributes[i].name.c_str());
        mods[i].mod_bvalues = pointers[i].data();
        list.push_back(&mods[i]);
    }
    list.push_back(nullptr);
    return add ? ldap_add_ext_s(ldap, dn.c_str(), list.data(), nullptr, nullptr)
               : ldap_modify_ext_s(ldap, dn.c_str(), list.data(), nullptr, nullptr);
}

int TestDirectory::addEntry(const std::string& dn, const std::vector<Attribute>& attributes) {
    return change(true, dn, attributes);
}

int TestDirectory::replaceValues(const std::string& dn, const std::string& name,
                                 const std::vector<std::string>& values) {
    return change(false, dn, {{name, values}});
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

std::string TestDirectory::value(const std::string& dn, const std::string& name) {
    LDAP* ldap = admin();
    std::string wanted = name;
    char* attributes[] = {&wanted[0], nullptr};
    LDAPMessage* result = nullptr;
    struct berval** values = nullptr;
    if (ldap != nullptr &&
        ldap_search_ext_s(ldap, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0,
                          nullptr, nullptr, nullptr, 1, &result) == LDAP_SUCCESS &&
        ldap_first_entry(ldap, result) != nullptr) {
        values = ldap_get_values_len(ldap, ldap_first_entry(ldap, result), name.c_str());
    }
    std::string first;
    if (values != nullptr && values[0] != nullptr) {
        first.assign(values[0]->bv_val, values[0]->bv_len);
    }
    ldap_value_free_len(values);
    ldap_msgfree(result);
    if (first.empty() && ldap != nullptr) {
        // A server restarted since: the next call connects again.
        ldap_unbind_ext_s(mAdmin, nullptr, nullptr);
        mAdmin = nullptr;
    }
    return first;
}

long long TestDirectory::modifyTime(const std::string& dn) {
    const std::string time = value(dn, "modifyTimestamp");
    struct tm parts = {};
    const bool read = time.size() >= 14 &&
                      strptime(time.substr(0, 14).c_str(), "%Y%m%d%H%M%S", &parts) != nullptr;
    return read ? static_cast<long long>(timegm(&parts)) : -1;
}

bool TestDirectory::modifyOffline(const std::string& ldif, std::string& error) {
    const std::string file = mFolder + "/offline.ldif";
    std::ofstream(file, std::ios::trunc) << ldif;
    const std::string log = mFolder + "/tools.log";
    if (mPid > 0 || runTool({"/usr/sbin/slapmodify", "-n1", "-F", mFolder + "/slapd.d", "-l", file},
                            log) != 0) {
        error = mPid > 0 ? "the server still runs" : "slapmodify failed: " + readLog(log);
        return false;
    }
    return true;
}

}  // namespace vesk::legacy::store::test
