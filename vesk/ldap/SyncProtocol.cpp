// SPDX-License-Identifier: LGPL-2.1-or-later
#include "SyncProtocol.h"

#include <lber.h>

namespace vesk::legacy::store {

namespace {

const ber_len_t kUuidSize = 16;

// A BER reader over a copy of one value, freed on every way out.
class Reader {
  public:
    explicit Reader(const struct berval& value) {
        // liblber reads through a null buffer when it is given no bytes.
        if (value.bv_val != nullptr && value.bv_len > 0) {
            struct berval copy = value;
            mBer = ber_init(&copy);
        }
    }
    ~Reader() {
        if (mBer != nullptr) {
            ber_free(mBer, 1);
        }
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    BerElement* get() const { return mBer; }

  private:
    BerElement* mBer = nullptr;
};

ber_tag_t peek(BerElement* ber) {
    ber_len_t length = 0;
    return ber_peek_tag(ber, &length);
}

// Skips an optional cookie and reads an optional boolean (its default when absent).
bool cookieAndFlag(BerElement* ber, bool absent, bool& flag) {
    if (peek(ber) == LDAP_TAG_SYNC_COOKIE && ber_scanf(ber, "x") == LBER_ERROR) {
        return false;
    }
    flag = absent;
    if (peek(ber) == LBER_BOOLEAN) {
        ber_int_t value = 0;
        if (ber_scanf(ber, "b", &value) == LBER_ERROR) {
            return false;
        }
        flag = value != 0;
    }
    return true;
}

}  // namespace

LDAPControl* SyncProtocol::makeRequest() {
    BerElement* ber = ber_alloc_t(LBER_USE_DER);
    if (ber == nullptr) {
        return nullptr;
    }
    LDAPControl* control = nullptr;
    struct berval value = {0, nullptr};
    if (ber_printf(ber, "{e}", static_cast<ber_int_t>(LDAP_SYNC_REFRESH_AND_PERSIST)) >= 0 &&
        ber_flatten2(ber, &value, 0) == 0) {
        // Critical: a server that cannot synchronise must say so, not answer
        // a plain search that ends at once.
        if (ldap_control_create(LDAP_CONTROL_SYNC, 1, &value, 1, &control) != LDAP_SUCCESS) {
            control = nullptr;
        }
    }
    ber_free(ber, 1);
    return control;
}

bool SyncProtocol::parseState(const struct berval& value, State& state, std::string& uuid) {
    const Reader reader(value);
    if (reader.get() == nullptr) {
        return false;
    }
    ber_int_t code = 0;
    struct berval id = {0, nullptr};
    if (ber_scanf(reader.get(), "{em", &code, &id) == LBER_ERROR || code < 0 || code > 3 ||
        id.bv_len != kUuidSize) {
        return false;
    }
    state = static_cast<State>(code);
    uuid.assign(id.bv_val, id.bv_len);
    return true;
}

bool SyncProtocol::parseInfo(const struct berval& value, Info& info) {
    const Reader reader(value);
    BerElement* ber = reader.get();
    if (ber == nullptr) {
        return false;
    }
    info = Info();
    switch (peek(ber)) {
        case LDAP_TAG_SYNC_NEW_COOKIE:
            return true;
        case LDAP_TAG_SYNC_REFRESH_DELETE:
        case LDAP_TAG_SYNC_REFRESH_PRESENT:
            return ber_scanf(ber, "{") != LBER_ERROR && cookieAndFlag(ber, true, info.refreshDone);
        case LDAP_TAG_SYNC_ID_SET: {
            info.idSet = true;
            if (ber_scanf(ber, "{") == LBER_ERROR ||
                !cookieAndFlag(ber, false, info.refreshDeletes)) {
                return false;
            }
            BerVarray uuids = nullptr;
            if (ber_scanf(ber, "[W]", &uuids) == LBER_ERROR) {
                return false;
            }
            bool valid = true;
            for (size_t i = 0; uuids != nullptr && uuids[i].bv_val != nullptr; ++i) {
                valid = valid && uuids[i].bv_len == kUuidSize;
                info.uuids.emplace_back(uuids[i].bv_val, uuids[i].bv_len);
            }
            ber_bvarray_free(uuids);
            return valid;
        }
        default:
            return false;
    }
}

}  // namespace vesk::legacy::store
