// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapSession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "FailureDetail.h"
#include "SigpipeGuard.h"

namespace vesk::legacy::store {

namespace {

const int kConnectSeconds = 3;
// A silently dropped connection (a cable, a firewall) is noticed after about
// idle + probes * interval seconds, so a listener reconnects instead of
// waiting for ever.
const int kKeepaliveIdle = 60;
const int kKeepaliveProbes = 3;
const int kKeepaliveInterval = 10;
// Room for the largest layer (64 MiB) and the entry around it; a larger
// answer is cut off rather than held in memory.
const ber_len_t kMaxIncoming = 65 * 1024 * 1024;
const size_t kMaxPasswordSize = 4096;

// Wipes the password on every way out.
class Secret {
  public:
    Secret() = default;
    ~Secret() {
        if (!mBytes.empty()) {
            explicit_bzero(mBytes.data(), mBytes.size());
        }
    }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    std::vector<char> mBytes;
};

// The bind password: the file must be a regular file of this user that
// nobody else can read, and must not be empty (an empty password makes an
// unauthenticated bind, which servers accept as anonymous). When it cannot
// be used, problem says why, after the file's name.
std::string unreadable(int error) {
    char buffer[256];
    return std::string("cannot be read: ") + strerror_r(error, buffer, sizeof buffer);
}

PAPIStatus readPassword(const std::string& path, Secret& secret, std::string& problem) {
    if (path.empty()) {
        problem = "is not named (VESK_LDAP_PASSWORD_FILE is not set)";
        return PAPIAuthenticationFailure;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        problem = error == ENOENT ? "is missing" : unreadable(error);
        return error == ENOMEM ? PAPIOutOfMemoryFailure : PAPIAuthenticationFailure;
    }
    struct stat info;
    bool usable = fstat(fd, &info) == 0;
    if (!usable || !S_ISREG(info.st_mode)) {
        problem = "is not a regular file";
    } else if (info.st_uid != geteuid()) {
        problem = "belongs to another user (uid " + std::to_string(info.st_uid) + ")";
    } else if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        problem = std::string("is open to others (mode ") + mode + "; chmod 600 it)";
    }
    usable = problem.empty();
    secret.mBytes.resize(kMaxPasswordSize + 1);
    size_t used = 0;
    while (usable && used < secret.mBytes.size()) {
        const ssize_t count = read(fd, secret.mBytes.data() + used, secret.mBytes.size() - used);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            usable = false;
            problem = unreadable(errno);
        }
        if (count <= 0) {
            break;
        }
        used += static_cast<size_t>(count);
    }
    ::close(fd);
    if (usable && used > kMaxPasswordSize) {
        problem = "is longer than 4096 bytes";
    }
    if (!problem.empty()) {
        return PAPIAuthenticationFailure;
    }
    // The line end an editor leaves is not part of the password.
    if (used > 0 && secret.mBytes[used - 1] == '\n') {
        --used;
        if (used > 0 && secret.mBytes[used - 1] == '\r') {
            --used;
        }
    }
    if (used < secret.mBytes.size()) {
        explicit_bzero(secret.mBytes.data() + used, secret.mBytes.size() - used);
    }
    secret.mBytes.resize(used);
    problem = used == 0 ? "is empty" : "";
    return used == 0 ? PAPIAuthenticationFailure : PAPISuccess;
}

// The system's ldap.conf, which names the CA when VESK_LDAP_CACERT does not.
const char kSystemConfig[] = "/etc/ldap/ldap.conf";

// libldap reads, besides ldap.conf, ~/ldaprc, ~/.ldaprc, ./ldaprc, $LDAPRC
// and LDAP* variables: whoever can write the current folder (or, for a
// program run as root from a user's shell, the user's home and environment)
// could choose the CA that vouches for the policy server. Its own reading is
// switched off before it first runs; the CA settings of the system's
// ldap.conf are applied here, and nothing else of them is needed.
void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* previous = std::getenv("LDAPNOINIT");
        const std::string kept = previous != nullptr ? previous : "";
        setenv("LDAPNOINIT", "1", 1);
        int version = 0;
        ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version);  // runs its start
        if (previous != nullptr) {
            setenv("LDAPNOINIT", kept.c_str(), 1);
        } else {
            unsetenv("LDAPNOINIT");  // programs started later read their own
        }
        std::ifstream config(kSystemConfig);
        for (std::string line; std::getline(config, line);) {
            std::istringstream words(line);
            std::string key;
            std::string value;
            if (!(words >> key) || key[0] == '#' || !(words >> value)) {
                continue;
            }
            if (strcasecmp(key.c_str(), "TLS_CACERT") == 0) {
                ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, value.c_str());
            } else if (strcasecmp(key.c_str(), "TLS_CACERTDIR") == 0) {
                ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTDIR, value.c_str());
            }
        }
    });
}

// Whether a simple bind's password would cross the network unencrypted.
bool sendsInClear(const std::string& server, bool startTls) {
    return strncasecmp(server.c_str(), "ldaps://", 8) != 0 &&
           strncasecmp(server.c_str(), "ldapi://", 8) != 0 && !startTls;
}

// Called by libldap as each connection is made, before anything is read from
// it: the limit on an answer's size holds from the first byte.
int limitIncoming(LDAP*, Sockbuf* buffer, LDAPURLDesc*, struct sockaddr*,
                  struct ldap_conncb* self) {
    ber_len_t limit = kMaxIncoming;
    ber_sockbuf_ctrl(buffer, LBER_SB_OPT_SET_MAX_INCOMING, &limit);
    *static_cast<bool*>(self->lc_arg) = true;
    return 0;
}

void connectionClosed(LDAP*, Sockbuf*, struct ldap_conncb*) {}

// Called by libldap once TCP is connected and the TLS handshake begins, so a
// failure after it is the handshake's: the certificate, as a rule.
int noteTlsStarted(LDAP*, void*, void*, void* started) {
    *static_cast<bool*>(started) = true;
    return 0;
}

PAPIStatus bindStatus(int code) {
    if (code == LDAP_SUCCESS) {
        return PAPISuccess;
    }
    if (LdapSession::lostConnection(code)) {
        return PAPIConnectionFailure;
    }
    return code == LDAP_NO_MEMORY ? PAPIOutOfMemoryFailure : PAPIAuthenticationFailure;
}

// Why a TCP connection to the server of an ldap:// or ldaps:// URL fails, in
// the system's words ("connect 127.0.0.1:389: Connection refused", "host
// ldap.example.org: Name or service not known"): libldap reports only that it
// could not connect. Empty when a connection can be made.
std::string connectFailure(const std::string& uri) {
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(uri.c_str(), &url) != LDAP_URL_SUCCESS || url == nullptr) {
        return "";
    }
    const std::string scheme = url->lud_scheme != nullptr ? url->lud_scheme : "";
    const std::string host =
        url->lud_host != nullptr && url->lud_host[0] != '\0' ? url->lud_host : "localhost";
    const int port = url->lud_port != 0 ? url->lud_port : (scheme == "ldaps" ? 636 : 389);
    ldap_free_urldesc(url);
    if (scheme != "ldap" && scheme != "ldaps") {
        return "";
    }
    struct addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        return "host " + host + ": " + gai_strerror(resolved);
    }
    std::string failure;
    for (const struct addrinfo* address = found; address != nullptr; address = address->ai_next) {
        char numeric[INET6_ADDRSTRLEN] = "?";
        const void* raw =
            address->ai_family == AF_INET6
                ? static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6*>(address->ai_addr)->sin6_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in*>(address->ai_addr)->sin_addr);
        inet_ntop(address->ai_family, raw, numeric, sizeof numeric);
        const int socket =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0) {
            continue;
        }
        int error = 0;
        if (::connect(socket, address->ai_addr, address->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                struct pollfd wait = {socket, POLLOUT, 0};
                socklen_t length = sizeof error;
                error = poll(&wait, 1, kConnectSeconds * 1000) == 1 &&
                                getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0
                            ? error
                            : ETIMEDOUT;
            }
        }
        ::close(socket);
        if (error == 0) {
            failure.clear();
            break;
        }
        if (failure.empty()) {
            char buffer[256];
            failure = "connect " + std::string(numeric) + ":" + std::to_string(port) + ": " +
                      strerror_r(error, buffer, sizeof buffer);
        }
    }
    freeaddrinfo(found);
    return failure;
}

}  // namespace

LdapSession::~LdapSession() {
    close();
}

bool LdapSession::cleartextBindAllowed() {
    const char* allowed = std::getenv("VESK_LDAP_ALLOW_CLEARTEXT_BIND");
    return allowed != nullptr && std::string(allowed) == "1";
}

bool LdapSession::lostConnection(int code) {
    return code == LDAP_SERVER_DOWN || code == LDAP_CONNECT_ERROR || code == LDAP_TIMEOUT ||
           code == LDAP_UNAVAILABLE || code == LDAP_BUSY;
}

PAPIStatus LdapSession::statusOf(int code) {
    if (code == LDAP_SUCCESS) {
        return PAPISuccess;
    }
    if (lostConnection(code)) {
        return PAPIConnectionFailure;
    }
    return code == LDAP_NO_MEMORY ? PAPIOutOfMemoryFailure : PAPILdbFailure;
}

int LdapSession::resultCode(LDAP* ldap, LDAPMessage* message) {
    int code = LDAP_OTHER;
    if (ldap_parse_result(ldap, message, &code, nullptr, nullptr, nullptr, nullptr, 0) !=
        LDAP_SUCCESS) {
        code = LDAP_OTHER;
    }
    return code;
}

PAPIStatus LdapSession::open() {
    close();
    const std::vector<std::string>& servers = mLocation.servers();
    PAPIStatus status = PAPIConnectionFailure;
    std::string failure;
    for (size_t tried = 0; tried < servers.size(); ++tried) {
        const size_t index = (mCurrent + tried) % servers.size();
        std::string reason;
        status = openServer(servers[index], reason);
        if (status == PAPISuccess) {
            mCurrent = index;
            mFailure.clear();
            return status;
        }
        failure += (failure.empty() ? "" : "; ") + servers[index] + ": " + reason;
        // A refused bind is an answer: the next server would refuse it too.
        if (status != PAPIConnectionFailure) {
            break;
        }
    }
    mFailure = failure;
    FailureDetail::note(mFailure);
    return status;
}

void LdapSession::failOver() {
    close();
    if (!mLocation.servers().empty()) {
        mCurrent = (mCurrent + 1) % mLocation.servers().size();
    }
}

PAPIStatus LdapSession::openServer(const std::string& server, std::string& reason) {
    initialiseLibrary();
    const bool startTls = mLocation.startTls() && strncasecmp(server.c_str(), "ldap://", 7) == 0;
    if (mLocation.authentication(server) == LdapLocation::Authentication::Simple &&
        sendsInClear(server, startTls) && !cleartextBindAllowed()) {
        reason =
            "refusing to send the bind password unencrypted: use ldaps://, StartTLS "
            "(VESK_LDAP_STARTTLS=1) or ldapi://, or, in a test lab only, set "
            "VESK_LDAP_ALLOW_CLEARTEXT_BIND=1";
        return PAPIAuthenticationFailure;
    }
    LDAP* ldap = nullptr;
    if (ldap_initialize(&ldap, server.c_str()) != LDAP_SUCCESS || ldap == nullptr) {
        reason = "not a server address";
        return PAPIConnectionFailure;
    }
    mLdap = ldap;
    mOwner = getpid();
    setOptions(server, startTls);
    bool tlsStarted = false;
    ldap_set_option(mLdap, LDAP_OPT_X_TLS_CONNECT_CB, reinterpret_cast<void*>(&noteTlsStarted));
    ldap_set_option(mLdap, LDAP_OPT_X_TLS_CONNECT_ARG, &tlsStarted);

    SigpipeGuard guard;
    PAPIStatus status = PAPISuccess;
    if (startTls) {
        const int code = ldap_start_tls_s(mLdap, nullptr, nullptr);
        // Going on in clear would send what TLS was asked to protect.
        status = code == LDAP_SUCCESS ? PAPISuccess : PAPIConnectionFailure;
    }
    std::string passwordProblem;
    if (status == PAPISuccess) {
        status = bind(server, passwordProblem);
    }
    const int error = errno;
    if (status != PAPISuccess) {
        reason = failureReason(server, status, passwordProblem, error, tlsStarted);
        close();
        return status;
    }
    // The flag lives on this stack only: a later handshake (a renegotiation
    // never happens, but be safe) must not write to it.
    ldap_set_option(mLdap, LDAP_OPT_X_TLS_CONNECT_CB, nullptr);
    // Programs started by the host (the kiosk plug-in starts some) must not
    // inherit the connection.
    const int socket = fd();
    if (socket >= 0) {
        fcntl(socket, F_SETFD, fcntl(socket, F_GETFD) | FD_CLOEXEC);
    }
    return PAPISuccess;
}

void LdapSession::setOptions(const std::string& server, bool startTls) {
    const int version = LDAP_VERSION3;
    const struct timeval connectTimeout = {kConnectSeconds, 0};
    const struct timeval operationTimeout = {kBindSeconds, 0};
    const int idle = kKeepaliveIdle;
    const int probes = kKeepaliveProbes;
    const int interval = kKeepaliveInterval;
    ldap_set_option(mLdap, LDAP_OPT_PROTOCOL_VERSION, &version);
    // A referral would send our credentials to another server.
    ldap_set_option(mLdap, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(mLdap, LDAP_OPT_RESTART, LDAP_OPT_ON);
    ldap_set_option(mLdap, LDAP_OPT_NETWORK_TIMEOUT, &connectTimeout);
    ldap_set_option(mLdap, LDAP_OPT_TIMEOUT, &operationTimeout);
    ldap_set_option(mLdap, LDAP_OPT_X_KEEPALIVE_IDLE, &idle);
    ldap_set_option(mLdap, LDAP_OPT_X_KEEPALIVE_PROBES, &probes);
    ldap_set_option(mLdap, LDAP_OPT_X_KEEPALIVE_INTERVAL, &interval);
    // Policy and passwords go only to a server that proves who it is, whatever
    // ldap.conf allows; the CA is ldap.conf's unless the location names one.
    // A TLS context of the connection's own holds these; made only where TLS
    // is used, as it costs a copy of the CA list.
    if (startTls || strncasecmp(server.c_str(), "ldaps://", 8) == 0) {
        const int demand = LDAP_OPT_X_TLS_DEMAND;
        ldap_set_option(mLdap, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
        if (!mLocation.caFile().empty()) {
            ldap_set_option(mLdap, LDAP_OPT_X_TLS_CACERTFILE, mLocation.caFile().c_str());
        }
        const int client = 0;
        ldap_set_option(mLdap, LDAP_OPT_X_TLS_NEWCTX, &client);
    }
    mConnected = false;
    mConnectCallback = {limitIncoming, connectionClosed, &mConnected};
    ldap_set_option(mLdap, LDAP_OPT_CONNECT_CB, &mConnectCallback);
}

std::string LdapSession::failureReason(const std::string& server, PAPIStatus status,
                                       const std::string& passwordProblem, int error,
                                       bool tlsStarted) {
    std::string reason;
    int code = LDAP_OTHER;
    ldap_get_option(mLdap, LDAP_OPT_RESULT_CODE, &code);
    char* detail = nullptr;
    ldap_get_option(mLdap, LDAP_OPT_DIAGNOSTIC_MESSAGE, &detail);
    const std::string ca = mLocation.caFile().empty()
                               ? std::string("the CA of ldap.conf (TLS_CACERT)")
                               : "the CA in " + mLocation.caFile();
    if (code == LDAP_SUCCESS && status == PAPIAuthenticationFailure) {
        reason = "the password file " + mLocation.passwordFile() + " " + passwordProblem;
    } else if (mConnected && error == ERANGE && lostConnection(code)) {
        reason = "the server's answer is larger than the limit of " +
                 std::to_string(kMaxIncoming >> 20) + " MiB; " + ldap_err2string(code);
    } else if (tlsStarted && lostConnection(code)) {
        reason = "TLS refused: the server's certificate could not be verified against " + ca +
                 " (not signed by it, not for this name, or expired), or that CA cannot be "
                 "read; " +
                 ldap_err2string(code);
    } else {
        reason = ldap_err2string(code);
    }
    if (detail != nullptr && *detail != '\0') {
        reason += std::string(" (") + detail + ")";
    } else if (!mConnected && (code == LDAP_SERVER_DOWN || code == LDAP_CONNECT_ERROR)) {
        // Only where no connection was made: a later attempt's reason
        // ("Connection refused" once the server is gone) is not this one's.
        const std::string connect = connectFailure(server);
        if (!connect.empty()) {
            reason += " (" + connect + ")";
        }
    }
    ldap_memfree(detail);
    return reason;
}

PAPIStatus LdapSession::bind(const std::string& server, std::string& passwordProblem) {
    int code = LDAP_SUCCESS;
    switch (mLocation.authentication(server)) {
        case LdapLocation::Authentication::Simple: {
            Secret password;
            const PAPIStatus read =
                readPassword(mLocation.passwordFile(), password, passwordProblem);
            if (read != PAPISuccess) {
                return read;
            }
            struct berval credentials = {static_cast<ber_len_t>(password.mBytes.size()),
                                         password.mBytes.data()};
            code = ldap_sasl_bind_s(mLdap, mLocation.bindDn().c_str(), LDAP_SASL_SIMPLE,
                                    &credentials, nullptr, nullptr, nullptr);
            break;
        }
        case LdapLocation::Authentication::External: {
            // Empty credentials, not none: none asks the server to go on
            // with the exchange ("SASL bind in progress").
            struct berval none = {0, const_cast<char*>("")};
            code = ldap_sasl_bind_s(mLdap, nullptr, "EXTERNAL", &none, nullptr, nullptr, nullptr);
            break;
        }
        case LdapLocation::Authentication::Anonymous: {
            // Binding at once tells an unreachable server now, not at the first read.
            struct berval none = {0, nullptr};
            code = ldap_sasl_bind_s(mLdap, "", LDAP_SASL_SIMPLE, &none, nullptr, nullptr, nullptr);
            break;
        }
    }
    return bindStatus(code);
}

void LdapSession::close() {
    if (mLdap == nullptr) {
        return;
    }
    if (getpid() == mOwner) {
        SigpipeGuard guard;
        ldap_unbind_ext(mLdap, nullptr, nullptr);
    }
    // A forked child leaves its copy alone: an unbind or a TLS goodbye on the
    // shared socket would end the parent's connection.
    mLdap = nullptr;
}

LDAP* LdapSession::get() {
    if (mLdap != nullptr && getpid() != mOwner) {
        close();
    }
    return mLdap;
}

int LdapSession::fd() {
    int socket = -1;
    if (get() == nullptr || ldap_get_option(mLdap, LDAP_OPT_DESC, &socket) != LDAP_OPT_SUCCESS) {
        return -1;
    }
    return socket;
}

}  // namespace vesk::legacy::store
