// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapLayout.h"

#include <ldap.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "LdapEscape.h"

namespace vesk::legacy::store {

namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string text(const struct berval& value) {
    return value.bv_val != nullptr ? std::string(value.bv_val, value.bv_len) : std::string();
}

// A parsed DN, freed on every way out.
class ParsedDn {
  public:
    explicit ParsedDn(const std::string& dn) {
        if (ldap_str2dn(dn.c_str(), &mDn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
            mDn = nullptr;
        }
    }
    ~ParsedDn() { ldap_dnfree(mDn); }
    ParsedDn(const ParsedDn&) = delete;
    ParsedDn& operator=(const ParsedDn&) = delete;

    bool valid() const { return mDn != nullptr; }
    size_t size() const {
        size_t count = 0;
        while (mDn != nullptr && mDn[count] != nullptr) {
            ++count;
        }
        return count;
    }
    // RDN i, counted from the leaf.
    LDAPRDN at(size_t i) const { return mDn[i]; }

  private:
    LDAPDN mDn = nullptr;
};

// An RDN as one text for comparing base DNs: its type=value pairs in lower
// case, sorted, so "DC=Example" and "dc=example" are one.
std::string rdnKey(LDAPRDN rdn) {
    std::vector<std::string> pairs;
    for (size_t i = 0; rdn[i] != nullptr; ++i) {
        pairs.push_back(lower(text(rdn[i]->la_attr)) + "=" + lower(text(rdn[i]->la_value)));
    }
    std::sort(pairs.begin(), pairs.end());
    std::string key;
    for (const std::string& pair : pairs) {
        key += pair + "+";
    }
    return key;
}

// The one type and value of a single-valued string RDN; false for others.
bool singleValue(LDAPRDN rdn, std::string& type, std::string& value) {
    if (rdn[0] == nullptr || rdn[1] != nullptr || (rdn[0]->la_flags & LDAP_AVA_BINARY) != 0) {
        return false;
    }
    type = text(rdn[0]->la_attr);
    value = text(rdn[0]->la_value);
    return true;
}

}  // namespace

LdapLayout::LdapLayout(std::string baseDn, std::vector<std::string> scopes)
    : mBaseDn(std::move(baseDn)), mScopes(std::move(scopes)) {
    const ParsedDn base(mBaseDn);
    mBaseParsed = base.valid();
    for (size_t i = base.size(); i > 0; --i) {
        mBaseSteps.push_back(Step{std::string(), rdnKey(base.at(i - 1))});
    }
    for (const std::string& scope : mScopes) {
        Scope steps;
        const size_t slash = scope.find('/');
        if (slash == std::string::npos) {
            steps.steps.push_back(Step{"ou", scope});
        } else {
            const std::string folder = scope.substr(0, slash);
            const std::string name = scope.substr(slash + 1);
            steps.steps.push_back(Step{"ou", folder});
            steps.steps.push_back(Step{folder == "users" ? "uid" : "cn", name});
            steps.nameable = LdapEscape::isValidUtf8(name);
        }
        mSteps.push_back(std::move(steps));
    }
}

bool LdapLayout::sameType(const std::string& lowerType, const std::string& type) {
    return lowerType.size() == type.size() && strcasecmp(lowerType.c_str(), type.c_str()) == 0;
}

std::string LdapLayout::scopeDn(size_t scope) const {
    const Scope& steps = mSteps.at(scope);
    if (!steps.nameable) {
        return std::string();
    }
    std::string dn;
    for (auto step = steps.steps.rbegin(); step != steps.steps.rend(); ++step) {
        dn += step->type + "=" + LdapEscape::dnValue(step->value) + ",";
    }
    return dn + mBaseDn;
}

std::string LdapLayout::layerDn(size_t scope, const std::string& component) const {
    const std::string parent = scopeDn(scope);
    if (parent.empty() || !LdapEscape::isValidUtf8(component)) {
        return std::string();
    }
    return "cn=" + LdapEscape::dnValue(component) + "," + parent;
}

LdapLayout::Place LdapLayout::locate(const std::string& dn) const {
    Place place;
    const ParsedDn parsed(dn);
    const size_t count = parsed.size();
    if (!mBaseParsed || !parsed.valid() || count < mBaseSteps.size()) {
        return place;
    }
    // The base, from the top.
    for (size_t i = 0; i < mBaseSteps.size(); ++i) {
        if (rdnKey(parsed.at(count - 1 - i)) != mBaseSteps[i].value) {
            return place;
        }
    }
    // What lies below it, from the top down.
    std::vector<Step> below;
    for (size_t i = count - mBaseSteps.size(); i > 0; --i) {
        Step step;
        if (!singleValue(parsed.at(i - 1), step.type, step.value)) {
            return place;
        }
        below.push_back(std::move(step));
    }
    if (below.empty()) {
        place.kind = Place::Kind::Container;
        return place;
    }
    for (size_t scope = 0; scope < mSteps.size(); ++scope) {
        const std::vector<Step>& steps = mSteps[scope].steps;
        // The folder words (ou=users) are the directory's, matched as it
        // matches them; the names below them are ours, matched exactly.
        if (!sameType(steps[0].type, below[0].type) ||
            strcasecmp(steps[0].value.c_str(), below[0].value.c_str()) != 0) {
            continue;
        }
        if (below.size() == 1) {
            place.kind = steps.size() == 1 ? Place::Kind::Scope : Place::Kind::Container;
            place.scope = scope;
            return place;
        }
        if (steps.size() == 2 &&
            (!sameType(steps[1].type, below[1].type) || steps[1].value != below[1].value)) {
            continue;
        }
        if (below.size() == steps.size()) {
            place.kind = Place::Kind::Scope;
            place.scope = scope;
            return place;
        }
        if (below.size() == steps.size() + 1 && sameType("cn", below.back().type)) {
            place.kind = Place::Kind::Layer;
            place.scope = scope;
            place.component = below.back().value;
            return place;
        }
        return place;
    }
    return place;
}

std::string LdapLayout::changeFilter() const {
    std::string filter = "(|(entryDN=" + LdapEscape::filterValue(mBaseDn) + ")";
    std::set<std::string> folders;
    for (const Scope& scope : mSteps) {
        if (!scope.nameable) {
            continue;
        }
        const Step& folder = scope.steps.front();
        const Step& own = scope.steps.back();
        if (scope.steps.size() == 2 && folders.insert(folder.value).second) {
            filter +=
                "(entryDN=" +
                LdapEscape::filterValue("ou=" + LdapEscape::dnValue(folder.value) + "," + mBaseDn) +
                ")";
        }
        filter += "(" + own.type + ":dn:=" + LdapEscape::filterValue(own.value) + ")";
    }
    return filter + ")";
}

}  // namespace vesk::legacy::store
