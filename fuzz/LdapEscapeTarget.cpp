// SPDX-License-Identifier: LGPL-2.1-or-later
// LDAP escaping on untrusted names (components, users, groups, hosts): the
// input is one name.
//
// Findings: a valid UTF-8 name that, escaped as a DN value and put in a DN,
// does not parse back (OpenLDAP's ldap_str2dn) as one attribute of one RDN
// holding exactly the name; a name escaped for a filter that holds raw
// filter syntax, or does not unescape to the name.
#include <ldap.h>

#include <cctype>
#include <string>

#include "FuzzTargets.h"
#include "LdapEscape.h"
#include "TreeChecks.h"

namespace vesk::legacy::fuzz {

namespace {

using store::LdapEscape;

void checkDn(const std::string& name) {
    const std::string dn = "cn=" + LdapEscape::dnValue(name) + ",ou=fuzz";
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
        finding("escaped DN does not parse: " + dn);
    }
    const bool oneValue = parsed != nullptr && parsed[0] != nullptr && parsed[0][0] != nullptr &&
                          parsed[0][1] == nullptr && parsed[1] != nullptr && parsed[2] == nullptr;
    const std::string value =
        oneValue ? std::string(parsed[0][0]->la_value.bv_val, parsed[0][0]->la_value.bv_len) : "";
    ldap_dnfree(parsed);
    if (!oneValue || value != name) {
        finding("escaped DN does not give the name back: " + dn);
    }
}

void checkFilter(const std::string& name) {
    const std::string escaped = LdapEscape::filterValue(name);
    std::string back;
    for (size_t i = 0; i < escaped.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(escaped[i]);
        if (c == '(' || c == ')' || c == '*' || c == '\0') {
            finding("filter value holds raw filter syntax: " + escaped);
        }
        if (c != '\\') {
            back += escaped[i];
            continue;
        }
        if (i + 2 >= escaped.size() || !std::isxdigit(escaped[i + 1]) ||
            !std::isxdigit(escaped[i + 2])) {
            finding("filter value holds a broken escape: " + escaped);
        }
        back += static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    if (back != name) {
        finding("filter value does not give the name back: " + escaped);
    }
}

}  // namespace

int fuzzLdapEscape(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    checkFilter(name);
    // Only valid UTF-8 stands in a DN, and an empty name is no entry.
    if (!name.empty() && LdapEscape::isValidUtf8(name)) {
        checkDn(name);
    }
    return 0;
}

}  // namespace vesk::legacy::fuzz
