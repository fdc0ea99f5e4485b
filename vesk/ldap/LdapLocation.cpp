// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapLocation.h"

#include <fcntl.h>
#include <ldap.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FailureDetail.h"

namespace vesk::legacy::store {

namespace {

const char* const kSchemes[] = {"ldap://", "ldaps://", "ldapi://"};
const char kSpaces[] = " \t\n";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

class UrlDescription {
  public:
    explicit UrlDescription(const std::string& text) {
        if (ldap_url_parse(text.c_str(), &mDescription) != LDAP_URL_SUCCESS) {
            mDescription = nullptr;
        }
    }
    ~UrlDescription() {
        if (mDescription != nullptr) {
            ldap_free_urldesc(mDescription);
        }
    }
    UrlDescription(const UrlDescription&) = delete;
    UrlDescription& operator=(const UrlDescription&) = delete;
    const LDAPURLDesc* get() const { return mDescription; }

  private:
    LDAPURLDesc* mDescription = nullptr;
};

bool isValidDn(const std::string& dn) {
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
        return false;
    }
    const bool empty = parsed == nullptr || parsed[0] == nullptr;
    ldap_dnfree(parsed);
    return !empty;
}

}  // namespace

bool LdapLocation::isDirectoryUrl(const std::string& text) {
    for (const char* scheme : kSchemes) {
        const size_t length = std::char_traits<char>::length(scheme);
        if (text.size() >= length && strncasecmp(text.c_str(), scheme, length) == 0) {
            return true;
        }
    }
    return false;
}

PAPIStatus LdapLocation::parse(const std::string& text, LdapLocation& location) {
    // Attributes, scope, filter or extensions after a "?" would be a query of
    // their own, not a place: refused rather than half obeyed. (A "?" inside
    // the DN is written %3F.)
    if (text.find('?') != std::string::npos) {
        return FailureDetail::fail(PAPIConnectionFailure,
                                   text + ": URL has a query (write a \"?\" in the DN as %3F)");
    }
    LdapLocation parsed;
    size_t start = text.find_first_not_of(kSpaces);
    while (start != std::string::npos) {
        const size_t end = std::min(text.find_first_of(kSpaces, start), text.size());
        const std::string one = text.substr(start, end - start);
        start = text.find_first_not_of(kSpaces, end);
        if (!isDirectoryUrl(one)) {
            return FailureDetail::fail(PAPIConnectionFailure, one + ": not an LDAP URL");
        }
        const UrlDescription url(one);
        const LDAPURLDesc* description = url.get();
        if (description == nullptr) {
            return FailureDetail::fail(PAPIConnectionFailure, one + ": not a valid LDAP URL");
        }
        const size_t hostStart = one.find("://") + 3;
        const size_t hostEnd = one.find('/', hostStart);
        parsed.mServers.push_back(one.substr(0, hostEnd));
        // The base DN is written once, usually after the last server; the
        // same DN after several is no contradiction, two different ones are.
        const std::string dn = description->lud_dn != nullptr ? description->lud_dn : "";
        if (!dn.empty()) {
            if (!isValidDn(dn)) {
                return FailureDetail::fail(PAPIConnectionFailure,
                                           one + ": URL has no valid base DN");
            }
            if (!parsed.mBaseDn.empty() && parsed.mBaseDn != dn) {
                return FailureDetail::fail(PAPIConnectionFailure,
                                           text + ": the servers name two different base DNs");
            }
            parsed.mBaseDn = dn;
        }
    }
    if (parsed.mServers.empty() || parsed.mBaseDn.empty()) {
        return FailureDetail::fail(PAPIConnectionFailure, text + ": URL has no base DN");
    }
    parsed.mBindDn = environment("VESK_LDAP_BINDDN");
    parsed.mPasswordFile = environment("VESK_LDAP_PASSWORD_FILE");
    if (parsed.mBindDn.empty() && !parsed.mPasswordFile.empty()) {
        // Binding anonymously instead would pass over the administrator's
        // intent without a word.
        return FailureDetail::fail(PAPIAuthenticationFailure,
                                   "VESK_LDAP_PASSWORD_FILE is set without VESK_LDAP_BINDDN: set "
                                   "both for a simple bind, or neither");
    }
    parsed.mCaFile = environment("VESK_LDAP_CACERT");
    parsed.mStartTls = environment("VESK_LDAP_STARTTLS") == "1";
    // A CA file that cannot be read would leave libldap to whatever CA it
    // finds elsewhere: never a fallback.
    if (!parsed.mCaFile.empty()) {
        const int fd = ::open(parsed.mCaFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        struct stat status;
        const int error = fd < 0                      ? errno
                          : ::fstat(fd, &status) != 0 ? errno
                          : S_ISREG(status.st_mode)   ? 0
                                                      : EINVAL;
        if (fd >= 0) {
            ::close(fd);
        }
        if (error != 0) {
            return FailureDetail::fail(
                PAPIConnectionFailure,
                "VESK_LDAP_CACERT " + parsed.mCaFile + ": " +
                    (error == EINVAL ? std::string("not a regular file") : std::strerror(error)));
        }
    }
    location = std::move(parsed);
    return PAPISuccess;
}

LdapLocation::Authentication LdapLocation::authentication(const std::string& server) const {
    if (!mBindDn.empty()) {
        return Authentication::Simple;
    }
    return strncasecmp(server.c_str(), "ldapi://", 8) == 0 ? Authentication::External
                                                           : Authentication::Anonymous;
}

}  // namespace vesk::legacy::store
