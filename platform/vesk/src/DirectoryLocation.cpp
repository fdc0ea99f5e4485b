#include "DirectoryLocation.h"

#include <ldap.h>
#include <strings.h>

#include <cstdlib>

#include "FailureDetail.h"

namespace vesk::legacy::store {

namespace {

const char* const kSchemes[] = {"ldap://", "ldaps://", "ldapi://"};

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

bool DirectoryLocation::isDirectoryUrl(const std::string& text) {
    for (const char* scheme : kSchemes) {
        const size_t length = std::char_traits<char>::length(scheme);
        if (text.size() >= length && strncasecmp(text.c_str(), scheme, length) == 0) {
            return true;
        }
    }
    return false;
}

PAPIStatus DirectoryLocation::parse(const std::string& text, DirectoryLocation& location) {
    if (!isDirectoryUrl(text)) {
        return FailureDetail::fail(PAPIConnectionFailure, text + ": not an LDAP URL");
    }
    // Attributes, scope, filter or extensions after a "?" would be a query of
    // their own, not a place: refused rather than half obeyed. (A "?" inside
    // the DN is written %3F.)
    if (text.find('?') != std::string::npos) {
        return FailureDetail::fail(PAPIConnectionFailure,
                                   text + ": URL has a query (write a \"?\" in the DN as %3F)");
    }
    const UrlDescription url(text);
    const LDAPURLDesc* description = url.get();
    if (description == nullptr) {
        return FailureDetail::fail(PAPIConnectionFailure, text + ": not a valid LDAP URL");
    }
    if (description->lud_dn == nullptr || description->lud_dn[0] == '\0') {
        return FailureDetail::fail(PAPIConnectionFailure, text + ": URL has no base DN");
    }
    if (!isValidDn(description->lud_dn)) {
        return FailureDetail::fail(PAPIConnectionFailure, text + ": URL has no valid base DN");
    }
    const size_t hostStart = text.find("://") + 3;
    const size_t hostEnd = text.find('/', hostStart);
    DirectoryLocation parsed;
    parsed.mServerUri = text.substr(0, hostEnd);
    parsed.mBaseDn = description->lud_dn;
    parsed.mLocalSocket = strncasecmp(text.c_str(), "ldapi://", 8) == 0;
    parsed.mBindDn = environment("VESK_LDAP_BINDDN");
    parsed.mPasswordFile = environment("VESK_LDAP_PASSWORD_FILE");
    location = std::move(parsed);
    return PAPISuccess;
}

DirectoryLocation::Authentication DirectoryLocation::authentication() const {
    if (!mBindDn.empty()) {
        return Authentication::Simple;
    }
    return mLocalSocket ? Authentication::External : Authentication::Anonymous;
}

}  // namespace vesk::legacy::store
