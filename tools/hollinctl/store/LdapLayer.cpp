// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapLayer.h"

#include <ldap.h>
#include <strings.h>

#include <array>
#include <utility>
#include <vector>

#include "ExitStatus.h"
#include "FailureDetail.h"
#include "LdapLayout.h"
#include "LdapLocation.h"
#include "LdapSession.h"
#include "LdapTime.h"
#include "SigpipeGuard.h"
#include "TextEscape.h"

namespace vesk::legacy::hollinctl {

using store::LdapLayout;
using store::LdapLocation;
using store::LdapSession;
using store::LdapTime;

namespace {

// As libvesk reads it: a larger entry is no layer.
constexpr size_t kMaxLayerSize = 64 * 1024 * 1024;

char kObjectClass[] = "objectClass";
char kLayerClass[] = "veskLayer";
char kData[] = "veskLayerData";
char kCn[] = "cn";
char kModified[] = "modifyTimestamp";
char kCsn[] = "entryCSN";

struct Message {
    LDAPMessage* message = nullptr;
    ~Message() { ldap_msgfree(message); }
};

std::string firstValue(LDAP* ldap, LDAPMessage* entry, char* attribute) {
    std::string value;
    if (berval** values = ldap_get_values_len(ldap, entry, attribute)) {
        if (values[0] != nullptr) {
            value.assign(values[0]->bv_val, values[0]->bv_len);
        }
        ldap_value_free_len(values);
    }
    return value;
}

}  // namespace

struct LdapLayer::Connection {
    explicit Connection(const LdapLocation& location) : session(location), layout("", {}) {}
    LdapSession session;
    LdapLayout layout;
    std::string server;
    std::string baseDn;

    // The server's words for a failed request: its result and what it added.
    std::string reason(int code) {
        std::string text = ldap_err2string(code);
        char* detail = nullptr;
        if (LDAP* ldap = session.get();
            ldap != nullptr &&
            ldap_get_option(ldap, LDAP_OPT_DIAGNOSTIC_MESSAGE, &detail) == LDAP_OPT_SUCCESS &&
            detail != nullptr) {
            if (*detail != '\0') {
                text += " (" + printable(detail) + ")";
            }
            ldap_memfree(detail);
        }
        return text;
    }

    int searchBase(const std::string& dn, char** attributes, Message& result) {
        timeval timeout{LdapSession::kOperationSeconds, 0};
        store::SigpipeGuard guard;
        return ldap_search_ext_s(session.get(), dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                 attributes, 0, nullptr, nullptr, &timeout, 2, &result.message);
    }
};

LdapLayer::LdapLayer(const std::string& url, const std::string& scope, const std::string& component)
    : mScope(scope), mComponent(component) {
    LdapLocation location;
    if (LdapLocation::parse(url, location) != PAPISuccess) {
        throw CommandError(kServiceError, "cannot open the policy store " + printable(url) + ": " +
                                              printable(store::FailureDetail::current()));
    }
    mConnection = std::make_unique<Connection>(location);
    mConnection->baseDn = location.baseDn();
    mConnection->layout = LdapLayout(location.baseDn(), {scope});
    mDn = mConnection->layout.layerDn(0, component);
    if (mDn.empty()) {
        throw CommandError(kUsage, "the scope " + quotedText(scope) + " or the component " +
                                       quotedText(component) + " has no name in a directory");
    }
    if (const PAPIStatus status = mConnection->session.open(); status != PAPISuccess) {
        const char* what = status == PAPIAuthenticationFailure
                               ? "the policy directory refuses the bind: "
                               : "cannot reach the policy directory: ";
        throw CommandError(kServiceError, what + printable(mConnection->session.failure()));
    }
    mConnection->server = location.servers().at(mConnection->session.current());
}

LdapLayer::~LdapLayer() = default;

std::string LdapLayer::where() const {
    return mDn + " on " + mConnection->server;
}

std::string LdapLayer::read() {
    mStamp = LdapTime::stampOf(mScope, "", "");
    char* attributes[] = {kObjectClass, kData, kModified, kCsn, nullptr};
    Message result;
    const int code = mConnection->searchBase(mDn, attributes, result);
    if (code == LDAP_NO_SUCH_OBJECT) {
        const std::string scopeDn = mConnection->layout.scopeDn(0);
        char* none[] = {const_cast<char*>(LDAP_NO_ATTRS), nullptr};
        Message scopeResult;
        const int scopeCode = mConnection->searchBase(scopeDn, none, scopeResult);
        if (scopeCode == LDAP_NO_SUCH_OBJECT && !mMakeScope) {
            // A scope entry names a group, host or user: not made on the side.
            throw CommandError(kNotFound, "the scope " + quotedText(mScope) + " has no entry " +
                                              printable(scopeDn) + " on " +
                                              printable(mConnection->server) +
                                              "; add it first, or give --create-scope");
        }
        mScopeMissing = scopeCode == LDAP_NO_SUCH_OBJECT;
        if (mScopeMissing) {
            mExists = false;
            return std::string();
        }
        if (scopeCode != LDAP_SUCCESS) {
            throw CommandError(kServiceError, "cannot read " + printable(scopeDn) + " on " +
                                                  printable(mConnection->server) + ": " +
                                                  mConnection->reason(scopeCode));
        }
        mExists = false;
        return std::string();
    }
    if (code != LDAP_SUCCESS) {
        throw CommandError(kServiceError,
                           "cannot read " + printable(where()) + ": " + mConnection->reason(code));
    }
    LDAP* ldap = mConnection->session.get();
    LDAPMessage* entry = ldap_first_entry(ldap, result.message);
    if (entry == nullptr) {
        throw CommandError(kServiceError,
                           "cannot read " + printable(where()) + ": the server sent no entry");
    }
    // LDAP matches names regardless of case; a layer's name is exact, as a
    // file name is, so an entry named otherwise is not this layer.
    char* foundDn = ldap_get_dn(ldap, entry);
    const LdapLayout::Place place = mConnection->layout.locate(foundDn != nullptr ? foundDn : "");
    const std::string found = foundDn != nullptr ? foundDn : "";
    ldap_memfree(foundDn);
    if (place.kind != LdapLayout::Place::Kind::Layer || place.component != mComponent) {
        throw CommandError(kServiceError, "not written: the entry " + printable(found) + " on " +
                                              printable(mConnection->server) +
                                              " stands in the place of " + printable(mDn));
    }
    bool isLayer = false;
    if (berval** classes = ldap_get_values_len(ldap, entry, kObjectClass)) {
        for (int i = 0; classes[i] != nullptr; ++i) {
            isLayer =
                isLayer || (classes[i]->bv_len == sizeof kLayerClass - 1 &&
                            strncasecmp(classes[i]->bv_val, kLayerClass, classes[i]->bv_len) == 0);
        }
        ldap_value_free_len(classes);
    }
    berval** values = ldap_get_values_len(ldap, entry, kData);
    const int count = values != nullptr ? ldap_count_values_len(values) : 0;
    const bool fits = count == 1 && values[0]->bv_len <= kMaxLayerSize;
    std::string text = fits ? std::string(values[0]->bv_val, values[0]->bv_len) : std::string();
    ldap_value_free_len(values);
    if (!isLayer || !fits) {
        throw CommandError(kServiceError, "not written: " + printable(where()) +
                                              " is not a veskLayer entry with one veskLayerData "
                                              "value of at most 64 MiB");
    }
    mExists = true;
    mRead = text;
    mStamp = LdapTime::stampOf(mScope, firstValue(ldap, entry, kModified),
                               firstValue(ldap, entry, kCsn));
    return text;
}

void LdapLayer::write(const std::string& text) {
    berval data{static_cast<ber_len_t>(text.size()), const_cast<char*>(text.data())};
    berval* dataValues[] = {&data, nullptr};
    LDAPMod dataMod{};
    dataMod.mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
    dataMod.mod_type = kData;
    dataMod.mod_bvalues = dataValues;
    // The old value is deleted by its bytes rather than replaced, so that an
    // edit someone else made since read() makes this one fail instead of
    // being overwritten.
    berval old{static_cast<ber_len_t>(mRead.size()), mRead.data()};
    berval* oldValues[] = {&old, nullptr};
    LDAPMod oldMod{};
    oldMod.mod_op = LDAP_MOD_DELETE | LDAP_MOD_BVALUES;
    oldMod.mod_type = kData;
    oldMod.mod_bvalues = oldValues;
    std::string component = mComponent;
    char* cnValues[] = {component.data(), nullptr};
    char* classValues[] = {kLayerClass, nullptr};
    LDAPMod cnMod{};
    cnMod.mod_op = LDAP_MOD_ADD;
    cnMod.mod_type = kCn;
    cnMod.mod_values = cnValues;
    LDAPMod classMod{};
    classMod.mod_op = LDAP_MOD_ADD;
    classMod.mod_type = kObjectClass;
    classMod.mod_values = classValues;
    LDAPMod* replace[] = {&oldMod, &dataMod, nullptr};
    LDAPMod* add[] = {&classMod, &cnMod, &dataMod, nullptr};

    if (mScopeMissing) {
        addScope();
    }
    int code = LDAP_SUCCESS;
    {
        store::SigpipeGuard guard;
        code = mExists
                   ? ldap_modify_ext_s(mConnection->session.get(), mDn.c_str(), replace, nullptr,
                                       nullptr)
                   : ldap_add_ext_s(mConnection->session.get(), mDn.c_str(), add, nullptr, nullptr);
    }
    if (code != LDAP_SUCCESS) {
        // A consumer refers writes to its provider; referrals are not followed.
        const bool changed = code == LDAP_NO_SUCH_ATTRIBUTE || code == LDAP_ALREADY_EXISTS ||
                             code == LDAP_NO_SUCH_OBJECT;
        const std::string hint =
            code == LDAP_REFERRAL ? "; this server is a replica: write on the provider"
            : changed             ? "; the layer changed since it was read: run the command again"
                                  : "";
        throw CommandError(kServiceError, "not written: " + printable(where()) + ": " +
                                              mConnection->reason(code) + hint);
    }
}

void LdapLayer::addScope() {
    // default is an ou= of its own; other scopes are entries of class
    // veskScope in their kind's ou=, which is made where missing.
    const size_t slash = mScope.find('/');
    const std::string kind = mScope.substr(0, slash);
    const std::string scopeDn = mConnection->layout.scopeDn(0);
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> entries;
    if (slash == std::string::npos) {
        entries.push_back({scopeDn, {{"objectClass", "organizationalUnit"}, {"ou", kind}}});
    } else {
        const std::string rdn = scopeDn.substr(0, scopeDn.find('='));
        entries.push_back({"ou=" + kind + "," + mConnection->baseDn,
                           {{"objectClass", "organizationalUnit"}, {"ou", kind}}});
        entries.push_back(
            {scopeDn, {{"objectClass", "veskScope"}, {rdn, mScope.substr(slash + 1)}}});
    }
    for (auto& [dn, attributes] : entries) {
        std::vector<std::string> values;
        for (const auto& attribute : attributes) {
            values.push_back(attribute.second);
        }
        std::vector<std::array<char*, 2>> valueLists;
        std::vector<LDAPMod> mods(attributes.size());
        std::vector<LDAPMod*> list;
        valueLists.reserve(attributes.size());
        for (size_t i = 0; i < attributes.size(); ++i) {
            valueLists.push_back({values[i].data(), nullptr});
            mods[i].mod_op = LDAP_MOD_ADD;
            mods[i].mod_type = attributes[i].first.data();
            mods[i].mod_values = valueLists.back().data();
            list.push_back(&mods[i]);
        }
        list.push_back(nullptr);
        int code = LDAP_SUCCESS;
        {
            store::SigpipeGuard guard;
            code = ldap_add_ext_s(mConnection->session.get(), dn.c_str(), list.data(), nullptr,
                                  nullptr);
        }
        if (code != LDAP_SUCCESS && code != LDAP_ALREADY_EXISTS) {
            throw CommandError(kServiceError, "not written: cannot add the scope entry " +
                                                  printable(dn) + " on " +
                                                  printable(mConnection->server) + ": " +
                                                  mConnection->reason(code));
        }
    }
}

}  // namespace vesk::legacy::hollinctl
