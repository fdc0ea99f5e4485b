// SPDX-License-Identifier: LGPL-2.1-or-later
#include "LdapStore.h"

#include <strings.h>

#include <cctype>
#include <set>

#include "FailureDetail.h"
#include "LdapEscape.h"
#include "LdapTime.h"
#include "LdapWatcher.h"
#include "ScopeStack.h"
#include "SigpipeGuard.h"

namespace vesk::legacy::store {

namespace {

const char kLayerClass[] = "veskLayer";
const char kDataAttribute[] = "vesklayerdata";
const char kAnyEntry[] = "(objectClass=*)";
const char kNoAttributes[] = "1.1";

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

const std::vector<std::string>& valuesOf(const std::map<std::string, std::vector<std::string>>& map,
                                         const std::string& name) {
    static const std::vector<std::string> kNone;
    const auto found = map.find(name);
    return found == map.end() ? kNone : found->second;
}

std::string firstValue(const std::map<std::string, std::vector<std::string>>& map,
                       const std::string& name) {
    const std::vector<std::string>& values = valuesOf(map, name);
    return values.empty() ? std::string() : values.front();
}

bool isLayer(const std::map<std::string, std::vector<std::string>>& values) {
    for (const std::string& objectClass : valuesOf(values, "objectclass")) {
        if (strcasecmp(objectClass.c_str(), kLayerClass) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

PAPIStatus LdapStore::open(const char* connectionString, const std::string& url,
                           std::unique_ptr<Backend>& backend) {
    LdapLocation location;
    PAPIStatus status = LdapLocation::parse(url, location);
    if (status != PAPISuccess) {
        return status;
    }
    // The names first: a name refused never reaches the directory.
    std::vector<std::string> scopes;
    status = ScopeStack::scopesFor(connectionString, scopes);
    if (status != PAPISuccess) {
        return status;
    }
    LdapLayout layout(location.baseDn(), std::move(scopes));
    auto store = std::make_unique<LdapStore>(std::move(location), std::move(layout));
    std::vector<Answer> answers;
    status = store->run({}, answers);
    if (status != PAPISuccess && status != PAPIConnectionFailure) {
        return status;
    }
    backend = std::move(store);
    return PAPISuccess;
}

LdapStore::LdapStore(LdapLocation location, LdapLayout layout)
    : mLocation(std::move(location)),
      mLayout(std::move(layout)),
      mSession(mLocation),
      mView(std::make_shared<LdapWatcher::View>()) {}

std::vector<LdapStore::Query> LdapStore::layerQueries(
    const std::string& component, const std::vector<const char*>& attributes) const {
    std::vector<Query> queries;
    for (size_t scope = 0; scope < mLayout.scopes().size(); ++scope) {
        const std::string dn = mLayout.layerDn(scope, component);
        if (!dn.empty()) {
            queries.push_back(Query{dn, LDAP_SCOPE_BASE, kAnyEntry, attributes});
        }
    }
    return queries;
}

PAPIStatus LdapStore::readLayers(const std::string& component, std::vector<Layer>& layers) {
    if (!ScopeStack::isValidName(component)) {
        return PAPIInvalidArg;
    }
    const std::vector<Query> queries =
        layerQueries(component, {"objectClass", "veskLayerData", "modifyTimestamp", "entryCSN"});
    std::vector<Answer> answers;
    const PAPIStatus status = run(queries, answers);
    if (status != PAPISuccess) {
        return status;
    }
    std::vector<Layer> read;
    size_t next = 0;
    for (size_t scope = 0; scope < mLayout.scopes().size(); ++scope) {
        if (mLayout.layerDn(scope, component).empty()) {
            continue;  // a name that cannot be in the directory has no layer there
        }
        const Answer& answer = answers[next++];
        // Only a missing entry means "no layer in this scope"; anything else
        // would silently drop policy.
        if (answer.code == LDAP_NO_SUCH_OBJECT) {
            continue;
        }
        const std::string dn = mLayout.layerDn(scope, component);
        if (answer.code != LDAP_SUCCESS) {
            return FailureDetail::fail(LdapSession::statusOf(answer.code),
                                       dn + ": " + ldap_err2string(answer.code));
        }
        if (answer.entries.size() != 1) {
            // there, but not readable to us
            return FailureDetail::fail(PAPILdbFailure, dn + ": not readable to this bind");
        }
        const Entry& entry = answer.entries.front();
        const LdapLayout::Place place = mLayout.locate(entry.dn);
        if (place.kind != LdapLayout::Place::Kind::Layer || place.scope != scope ||
            place.component != component) {
            continue;  // another name that the directory matched without regard to case
        }
        const std::vector<std::string>& data = valuesOf(entry.values, kDataAttribute);
        if (entry.oversized || !isLayer(entry.values) || data.size() != 1) {
            return FailureDetail::fail(
                PAPILdbFailure,
                dn + ": not a veskLayer entry with one veskLayerData value of at most 64 MiB");
        }
        read.push_back(Layer{
            data.front(),
            LdapTime::stampOf(mLayout.scopes()[scope], firstValue(entry.values, "modifytimestamp"),
                              firstValue(entry.values, "entrycsn"))});
    }
    layers = std::move(read);
    return PAPISuccess;
}

PAPIStatus LdapStore::listComponentNames(const std::string& selector,
                                         std::vector<std::string>& names) {
    // The directory matches cn without regard to case, and a prefix of UTF-8
    // need not be UTF-8: it narrows the search, the exact test is ours.
    std::string filter = "(objectClass=veskLayer)";
    if (!selector.empty() && LdapEscape::isValidUtf8(selector)) {
        filter = "(&" + filter + "(cn=" + LdapEscape::filterValue(selector) + "*))";
    }
    std::vector<Query> queries;
    std::vector<size_t> scopes;
    for (size_t scope = 0; scope < mLayout.scopes().size(); ++scope) {
        const std::string dn = mLayout.scopeDn(scope);
        if (!dn.empty()) {
            queries.push_back(Query{dn, LDAP_SCOPE_ONELEVEL, filter, {kNoAttributes}});
            scopes.push_back(scope);
        }
    }
    std::vector<Answer> answers;
    const PAPIStatus status = run(queries, answers);
    if (status != PAPISuccess) {
        return status;
    }
    std::set<std::string> found;
    for (size_t i = 0; i < answers.size(); ++i) {
        if (answers[i].code == LDAP_NO_SUCH_OBJECT) {
            continue;
        }
        if (answers[i].code != LDAP_SUCCESS) {
            return LdapSession::statusOf(answers[i].code);
        }
        for (const Entry& entry : answers[i].entries) {
            const LdapLayout::Place place = mLayout.locate(entry.dn);
            if (place.kind == LdapLayout::Place::Kind::Layer && place.scope == scopes[i] &&
                ScopeStack::isValidName(place.component) &&
                place.component.compare(0, selector.size(), selector) == 0) {
                found.insert(place.component);
            }
        }
    }
    names.assign(found.begin(), found.end());
    return PAPISuccess;
}

Backend::Presence LdapStore::presence(const std::string& component) {
    Presence result;
    {
        std::lock_guard<std::mutex> lock(mView->mutex);
        // Without the base entry in view (gone, or written otherwise than in
        // the URL) the server is asked.
        if (mView->complete && mView->base) {
            for (size_t scope = 0; scope < mLayout.scopes().size(); ++scope) {
                const auto found = mView->layers.find(std::make_pair(scope, component));
                result.hasLayers = result.hasLayers || found != mView->layers.end();
                result.fingerprint.push_back(found != mView->layers.end() ? found->second : "");
            }
            return result;
        }
    }
    const std::vector<Query> queries = layerQueries(component, {"entryCSN", "modifyTimestamp"});
    std::vector<Answer> answers;
    if (run(queries, answers) != PAPISuccess) {
        result.unreachable = true;
        return result;
    }
    size_t next = 0;
    for (size_t scope = 0; scope < mLayout.scopes().size(); ++scope) {
        if (mLayout.layerDn(scope, component).empty()) {
            result.fingerprint.emplace_back();
            continue;
        }
        const Answer& answer = answers[next++];
        if (answer.code == LDAP_NO_SUCH_OBJECT) {
            result.fingerprint.emplace_back();
            continue;
        }
        if (answer.code != LDAP_SUCCESS || answer.entries.size() != 1) {
            // There but not readable: reading it reports the error.
            result.hasLayers = true;
            result.fingerprint.push_back("error " + std::to_string(answer.code));
            continue;
        }
        const Entry& entry = answer.entries.front();
        const LdapLayout::Place place = mLayout.locate(entry.dn);
        if (place.kind != LdapLayout::Place::Kind::Layer || place.scope != scope ||
            place.component != component) {
            result.fingerprint.emplace_back();
            continue;
        }
        result.hasLayers = true;
        result.fingerprint.push_back(firstValue(entry.values, "entrycsn") + " " +
                                     firstValue(entry.values, "modifytimestamp"));
    }
    return result;
}

std::unique_ptr<ChangeSource> LdapStore::makeChangeSource() {
    return std::make_unique<LdapWatcher>(mLocation, mLayout, mView);
}

std::string LdapStore::failureDetail() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mFailure;
}

PAPIStatus LdapStore::run(const std::vector<Query>& queries, std::vector<Answer>& answers) {
    std::vector<Answer> collected;
    std::lock_guard<std::mutex> lock(mMutex);
    const PAPIStatus status = runLocked(queries, collected);
    if (status == PAPISuccess) {
        mFailure.clear();
        answers = std::move(collected);
    } else if (!mSession.failure().empty()) {
        mFailure = mSession.failure();
    } else if (status == PAPIConnectionFailure) {
        mFailure = "the base entry " + mLayout.baseDn() + " is missing or the server went away";
    } else {
        mFailure = "a search failed with status " + std::to_string(status);
    }
    return status;
}

PAPIStatus LdapStore::runLocked(const std::vector<Query>& queries, std::vector<Answer>& answers) {
    // The base entry goes with every batch: a directory emptied of it is a
    // store gone, not a store without layers.
    std::vector<Query> batch{Query{mLayout.baseDn(), LDAP_SCOPE_BASE, kAnyEntry, {kNoAttributes}}};
    batch.insert(batch.end(), queries.begin(), queries.end());
    std::vector<Answer> collected;
    SigpipeGuard guard;
    PAPIStatus status = PAPISuccess;
    size_t watched = LdapWatcher::kNoServer;
    {
        std::lock_guard<std::mutex> view(mView->mutex);
        watched = mView->server;
    }
    // Followed once each time the search moves: should that server refuse
    // the reads' connection, they stay where they got one.
    if (watched != mFollowed) {
        mFollowed = watched;
        if (watched != LdapWatcher::kNoServer && watched != mSession.current()) {
            mSession.close();
            mSession.prefer(watched);
        }
    }
    for (int attempt = 0;; ++attempt) {
        bool fresh = false;
        if (mSession.get() == nullptr) {
            status = mSession.open();
            if (status != PAPISuccess) {
                return status;
            }
            fresh = true;
        }
        int lost = LDAP_SUCCESS;
        status = runOnce(batch, collected, lost);
        if (lost == LDAP_SUCCESS) {
            break;
        }
        mSession.close();
        // A connection just made that fails at once is a server that is not
        // there; an old one may only have timed out.
        if (fresh || attempt > 0) {
            return FailureDetail::fail(PAPIConnectionFailure,
                                       currentServer() + ": " + ldap_err2string(lost));
        }
    }
    if (status != PAPISuccess) {
        return status;
    }
    if (collected.front().code == LDAP_NO_SUCH_OBJECT) {
        return FailureDetail::fail(PAPIConnectionFailure, currentServer() + ": base DN " +
                                                              mLayout.baseDn() + ": no such entry");
    }
    if (collected.front().code != LDAP_SUCCESS) {
        return FailureDetail::fail(LdapSession::statusOf(collected.front().code),
                                   currentServer() + ": base DN " + mLayout.baseDn() + ": " +
                                       ldap_err2string(collected.front().code));
    }
    collected.erase(collected.begin());
    answers = std::move(collected);
    return PAPISuccess;
}

std::string LdapStore::currentServer() const {
    const std::vector<std::string>& servers = mLocation.servers();
    return servers.empty() ? std::string() : servers[mSession.current() % servers.size()];
}

PAPIStatus LdapStore::runOnce(const std::vector<Query>& queries, std::vector<Answer>& answers,
                              int& lost) {
    LDAP* ldap = mSession.get();
    answers.assign(queries.size(), Answer());
    std::vector<int> ids(queries.size(), -1);
    for (size_t i = 0; i < queries.size(); ++i) {
        std::vector<char*> attributes;
        for (const char* attribute : queries[i].attributes) {
            attributes.push_back(const_cast<char*>(attribute));
        }
        attributes.push_back(nullptr);
        const int code = ldap_search_ext(ldap, queries[i].base.c_str(), queries[i].scope,
                                         queries[i].filter.c_str(), attributes.data(), 0, nullptr,
                                         nullptr, nullptr, LDAP_NO_LIMIT, &ids[i]);
        if (code != LDAP_SUCCESS) {
            if (LdapSession::lostConnection(code)) {
                lost = code;
                return PAPIConnectionFailure;
            }
            answers[i].code = code;
            ids[i] = -1;
        }
    }
    for (size_t i = 0; i < queries.size(); ++i) {
        if (ids[i] < 0) {
            continue;
        }
        struct timeval timeout = {LdapSession::kOperationSeconds, 0};
        LDAPMessage* result = nullptr;
        const int got = ldap_result(ldap, ids[i], LDAP_MSG_ALL, &timeout, &result);
        if (got <= 0) {
            int code = LDAP_TIMEOUT;
            if (got < 0) {
                ldap_get_option(ldap, LDAP_OPT_RESULT_CODE, &code);
            }
            ldap_msgfree(result);
            if (LdapSession::lostConnection(code)) {
                lost = code;
                return PAPIConnectionFailure;
            }
            // An answer that cannot be decoded (too large, garbled) leaves
            // the connection in no state to go on with.
            mSession.close();
            return LdapSession::statusOf(code);
        }
        const PAPIStatus status = readAnswer(ldap, result, answers[i]);
        ldap_msgfree(result);
        if (status != PAPISuccess) {
            return status;
        }
    }
    return PAPISuccess;
}

PAPIStatus LdapStore::readAnswer(LDAP* ldap, LDAPMessage* result, Answer& answer) {
    for (LDAPMessage* message = ldap_first_message(ldap, result); message != nullptr;
         message = ldap_next_message(ldap, message)) {
        const int type = ldap_msgtype(message);
        if (type == LDAP_RES_SEARCH_ENTRY) {
            Entry entry;
            if (!readEntry(ldap, message, entry)) {
                return PAPILdbFailure;
            }
            answer.entries.push_back(std::move(entry));
        } else if (type == LDAP_RES_SEARCH_RESULT) {
            answer.code = LdapSession::resultCode(ldap, message);
        }
    }
    return PAPISuccess;
}

bool LdapStore::readEntry(LDAP* ldap, LDAPMessage* message, Entry& entry) {
    BerElement* ber = nullptr;
    struct berval name = {0, nullptr};
    if (ldap_get_dn_ber(ldap, message, &ber, &name) != LDAP_SUCCESS) {
        ber_free(ber, 0);
        return false;
    }
    entry.dn.assign(name.bv_val, name.bv_len);
    BerVarray values = nullptr;
    while (ldap_get_attribute_ber(ldap, message, ber, &name, &values) == LDAP_SUCCESS &&
           name.bv_val != nullptr) {
        std::vector<std::string>& kept = entry.values[lower(std::string(name.bv_val, name.bv_len))];
        for (size_t v = 0; values != nullptr && values[v].bv_val != nullptr; ++v) {
            if (values[v].bv_len > kMaxLayerSize) {
                entry.oversized = true;
            } else {
                kept.emplace_back(values[v].bv_val, values[v].bv_len);
            }
        }
        ber_memfree(values);
        values = nullptr;
    }
    ber_free(ber, 0);
    return true;
}

}  // namespace vesk::legacy::store
