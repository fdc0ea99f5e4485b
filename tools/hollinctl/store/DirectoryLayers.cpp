// SPDX-License-Identifier: LGPL-2.1-or-later
#include "DirectoryLayers.h"

#include <ldap.h>
#include <strings.h>

#include <algorithm>
#include <memory>

#include "ExitStatus.h"
#include "FailureDetail.h"
#include "LdapLocation.h"
#include "LdapSession.h"
#include "SigpipeGuard.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

namespace {

constexpr size_t kMaxLayerSize = 64 * 1024 * 1024;

struct Rdn {
    std::string type;
    std::string value;
};

// The DN's RDNs, from the entry up; false for one that is no plain DN.
bool parseDn(const std::string& dn, std::vector<Rdn>& rdns) {
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
        return false;
    }
    bool plain = true;
    for (int i = 0; parsed != nullptr && parsed[i] != nullptr; ++i) {
        LDAPAVA* ava = parsed[i][0];
        plain = plain && parsed[i][1] == nullptr && (ava->la_flags & LDAP_AVA_BINARY) == 0;
        rdns.push_back({std::string(ava->la_attr.bv_val, ava->la_attr.bv_len),
                        std::string(ava->la_value.bv_val, ava->la_value.bv_len)});
    }
    ldap_dnfree(parsed);
    return plain;
}

bool is(const Rdn& rdn, const char* type, const char* value) {
    return strcasecmp(rdn.type.c_str(), type) == 0 &&
           (value == nullptr || strcasecmp(rdn.value.c_str(), value) == 0);
}

// A name that can be one file or folder name.
bool fileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// The scope an entry's RDNs above its cn= name, or "".
std::string scopeOf(const std::vector<Rdn>& rdns, size_t baseCount) {
    if (rdns.size() == baseCount + 2 && is(rdns[1], "ou", "default")) {
        return "default";
    }
    if (rdns.size() != baseCount + 3) {
        return "";
    }
    static const struct {
        const char* folder;
        const char* attribute;
    } kKinds[] = {{"groups", "cn"}, {"hosts", "cn"}, {"users", "uid"}, {"entities", "cn"}};
    for (const auto& kind : kKinds) {
        if (is(rdns[2], "ou", kind.folder) && is(rdns[1], kind.attribute, nullptr) &&
            fileName(rdns[1].value)) {
            return std::string(kind.folder) + "/" + rdns[1].value;
        }
    }
    return "";
}

}  // namespace

std::vector<DirectoryLayers::Layer> DirectoryLayers::read(const std::string& url,
                                                          std::vector<std::string>& skipped) {
    store::LdapLocation location;
    if (store::LdapLocation::parse(url, location) != PAPISuccess) {
        throw CommandError(kServiceError, "cannot open the policy store " + printable(url) + ": " +
                                              printable(store::FailureDetail::current()));
    }
    std::vector<Rdn> base;
    if (!parseDn(location.baseDn(), base)) {
        throw CommandError(kUsage, "not a base DN: " + quotedText(location.baseDn()));
    }
    store::LdapSession session(location);
    if (session.open() != PAPISuccess) {
        throw CommandError(kServiceError,
                           "cannot reach the policy directory: " + printable(session.failure()));
    }
    const std::string server = location.servers().at(session.current());
    char data[] = "veskLayerData";
    char* attributes[] = {data, nullptr};
    LDAPMessage* result = nullptr;
    int code = LDAP_SUCCESS;
    {
        store::SigpipeGuard guard;
        timeval timeout{store::LdapSession::kOperationSeconds * 10, 0};
        code = ldap_search_ext_s(session.get(), location.baseDn().c_str(), LDAP_SCOPE_SUBTREE,
                                 "(objectClass=veskLayer)", attributes, 0, nullptr, nullptr,
                                 &timeout, 0, &result);
    }
    std::unique_ptr<LDAPMessage, int (*)(LDAPMessage*)> results(result, ldap_msgfree);
    if (code != LDAP_SUCCESS) {
        throw CommandError(kServiceError, "cannot search " + printable(location.baseDn()) + " on " +
                                              printable(server) + ": " + ldap_err2string(code));
    }
    std::vector<Layer> layers;
    LDAP* ldap = session.get();
    for (LDAPMessage* entry = ldap_first_entry(ldap, result); entry != nullptr;
         entry = ldap_next_entry(ldap, entry)) {
        char* dnText = ldap_get_dn(ldap, entry);
        const std::string dn = dnText != nullptr ? dnText : "";
        ldap_memfree(dnText);
        std::vector<Rdn> rdns;
        const std::string scope = parseDn(dn, rdns) && !rdns.empty() &&
                                          is(rdns[0], "cn", nullptr) && fileName(rdns[0].value)
                                      ? scopeOf(rdns, base.size())
                                      : "";
        if (scope.empty()) {
            skipped.push_back(printable(dn) + ": in no layer's place, or a name no file can have");
            continue;
        }
        berval** values = ldap_get_values_len(ldap, entry, data);
        const int count = values != nullptr ? ldap_count_values_len(values) : 0;
        if (count == 1 && values[0]->bv_len <= kMaxLayerSize) {
            layers.push_back(
                {scope, rdns[0].value, std::string(values[0]->bv_val, values[0]->bv_len)});
        } else {
            skipped.push_back(printable(dn) + ": not one veskLayerData value of at most 64 MiB");
        }
        ldap_value_free_len(values);
    }
    std::sort(layers.begin(), layers.end(), [](const Layer& a, const Layer& b) {
        return a.scope != b.scope ? a.scope < b.scope : a.component < b.component;
    });
    return layers;
}

}  // namespace vesk::legacy::hollinctl
