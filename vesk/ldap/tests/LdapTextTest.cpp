// SPDX-License-Identifier: LGPL-2.1-or-later
// The directory's text handling on its own: escaping for DNs, valid UTF-8, the
// layout's DNs and the way back from a DN, and the sync messages. Filter
// escaping is seen end to end in LdapStoreTest.
#include <gtest/gtest.h>
#include <lber.h>
#include <ldap.h>

#include <functional>
#include <random>

#include "LdapEscape.h"
#include "LdapLayout.h"
#include "SyncProtocol.h"

namespace vesk::legacy::store {
namespace {

// libldap must read "cn=<escaped>" back as one RDN of one value, the value.
TEST(LdapTextTest, EscapedDnValueReadsBackAsExactlyOneValue) {
    std::vector<std::string> values{"plain", "a,b",    "x+y=z",    "#lead",       "mid#dle",
                                    " lead", "trail ", " ",        "\\",          "q\"uote",
                                    "<a>;b", "tab\t",  "\x01\x1f", "caf\xc3\xa9", "ou=x,dc=y"};
    // Random text with every special character in reach.
    std::mt19937 random(4514);
    const std::string alphabet = " #\"+,;<>\\=abcXYZ019.-_*()";
    for (int round = 0; round < 2000; ++round) {
        values.emplace_back(1 + random() % 12, ' ');
        for (char& c : values.back()) {
            c = alphabet[random() % alphabet.size()];
        }
    }
    for (const std::string& value : values) {
        LDAPDN dn = nullptr;
        ASSERT_EQ(
            ldap_str2dn(("cn=" + LdapEscape::dnValue(value)).c_str(), &dn, LDAP_DN_FORMAT_LDAPV3),
            LDAP_SUCCESS)
            << "[" << value << "]";
        ASSERT_TRUE(dn[0] != nullptr && dn[1] == nullptr && dn[0][1] == nullptr) << value;
        EXPECT_EQ(std::string(dn[0][0]->la_value.bv_val, dn[0][0]->la_value.bv_len), value);
        ldap_dnfree(dn);
    }
}

TEST(LdapTextTest, OnlyUtf8CanBeAValue) {
    for (const char* valid : {"ascii", "caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
        EXPECT_TRUE(LdapEscape::isValidUtf8(valid)) << valid;
    }
    // Cut short, no UTF-8 at all, overlong, a surrogate, above U+10FFFF, a bad continuation.
    for (const char* invalid :
         {"\xc3", "\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x28\xa1"}) {
        EXPECT_FALSE(LdapEscape::isValidUtf8(invalid)) << invalid;
    }
}

TEST(LdapTextTest, LayoutNamesEachScopeAndFindsItsWayBack) {
    const LdapLayout layout("ou=Policy,dc=Example,dc=org",
                            {"default", "groups/adm", "groups/a,b", "hosts/ws1", "users/alice",
                             "entities/kiosk.default", "users/\xff"});
    EXPECT_EQ(layout.scopeDn(0), "ou=default,ou=Policy,dc=Example,dc=org");
    EXPECT_EQ(layout.scopeDn(2), "cn=a\\,b,ou=groups,ou=Policy,dc=Example,dc=org");
    EXPECT_EQ(layout.layerDn(4, "org.x"),
              "cn=org.x,uid=alice,ou=users,ou=Policy,dc=Example,dc=org");
    EXPECT_EQ(layout.layerDn(5, "#x"),
              "cn=\\#x,cn=kiosk.default,ou=entities,ou=Policy,dc=Example,dc=org");
    EXPECT_EQ(layout.scopeDn(6), "");  // no DN can name it
    EXPECT_EQ(layout.layerDn(0, "\xc3"), "");

    using Kind = LdapLayout::Place::Kind;
    const struct {
        std::string dn;  // below ou=policy,dc=example,dc=org unless it ends in "."
        Kind kind;
        size_t scope;
        std::string component;
    } cases[] = {
        {"cn=org.x,ou=default,ou=policy,dc=example,DC=ORG.", Kind::Layer, 0, "org.x"},
        {"CN=org.x,OU=Default", Kind::Layer, 0, "org.x"},
        {"cn=org.x,cn=a\\2Cb,ou=groups", Kind::Layer, 2, "org.x"},
        {"cn=org.x,uid=alice,ou=users", Kind::Layer, 4, "org.x"},
        {"uid=alice,ou=users", Kind::Scope, 4, ""},
        {"ou=default", Kind::Scope, 0, ""},
        {"ou=users", Kind::Container, 4, ""},
        {"ou=policy,dc=example,dc=org.", Kind::Container, 0, ""},
        // Names are ours and compared exactly; other entities are elsewhere.
        {"cn=org.x,uid=Alice,ou=users", Kind::Elsewhere, 0, ""},
        {"cn=org.x,uid=bob,ou=users", Kind::Elsewhere, 0, ""},
        {"cn=org.x,cn=adm,ou=hosts", Kind::Elsewhere, 0, ""},
        {"cn=deeper,cn=org.x,ou=default", Kind::Elsewhere, 0, ""},
        {"cn=a+sn=b,ou=default", Kind::Elsewhere, 0, ""},
        {"cn=org.x,ou=default,ou=other,dc=example,dc=org.", Kind::Elsewhere, 0, ""},
        {"dc=org.", Kind::Elsewhere, 0, ""},
        {"not a dn.", Kind::Elsewhere, 0, ""},
    };
    for (const auto& c : cases) {
        const std::string dn = c.dn.back() == '.' ? c.dn.substr(0, c.dn.size() - 1)
                                                  : c.dn + ",ou=policy,dc=example,dc=org";
        const LdapLayout::Place place = layout.locate(dn);
        EXPECT_EQ(place.kind, c.kind) << dn;
        if (c.kind == Kind::Layer || c.kind == Kind::Scope) {
            EXPECT_EQ(place.scope, c.scope) << dn;
            EXPECT_EQ(place.component, c.component) << dn;
        }
    }
    EXPECT_EQ(LdapLayout("dc=x", {"default", "users/a)(b"}).changeFilter(),
              "(|(entryDN=dc=x)(ou:dn:=default)(entryDN=ou=users,dc=x)(uid:dn:=a\\29\\28b))");
}

// A BER value written with liblber, as a server would send it.
struct Encoded {
    explicit Encoded(const std::function<int(BerElement*)>& write) {
        BerElement* ber = ber_alloc_t(LBER_USE_DER);
        EXPECT_TRUE(write(ber) >= 0 && ber_flatten2(ber, &mValue, 1) == 0);
        ber_free(ber, 1);
    }
    ~Encoded() { ber_memfree(mValue.bv_val); }
    struct berval mValue = {0, nullptr};
};

TEST(LdapTextTest, SyncMessagesAreReadAndGarbageIsRefused) {
    char uuidBytes[] = "0123456789abcdef";
    struct berval uuid = {16, uuidBytes};
    struct berval cookie = {4, const_cast<char*>("rid1")};
    const Encoded state([&](BerElement* b) { return ber_printf(b, "{eOO}", 2, &uuid, &cookie); });
    const Encoded shortId([&](BerElement* b) { return ber_printf(b, "{es}", 1, "short"); });
    const Encoded noSuchState([&](BerElement* b) { return ber_printf(b, "{eO}", 7, &uuid); });
    SyncProtocol::State kind = SyncProtocol::State::Present;
    std::string id;
    EXPECT_TRUE(SyncProtocol::parseState(state.mValue, kind, id));
    EXPECT_EQ(kind, SyncProtocol::State::Modify);
    EXPECT_EQ(id, "0123456789abcdef");
    EXPECT_FALSE(SyncProtocol::parseState(shortId.mValue, kind, id));
    EXPECT_FALSE(SyncProtocol::parseState(noSuchState.mValue, kind, id));

    const Encoded doneByDefault([&](BerElement* b) {
        return ber_printf(b, "t{O}", LDAP_TAG_SYNC_REFRESH_DELETE, &cookie);
    });
    const Encoded notDone(
        [&](BerElement* b) { return ber_printf(b, "t{b}", LDAP_TAG_SYNC_REFRESH_PRESENT, 0); });
    const Encoded deleted([&](BerElement* b) {
        return ber_printf(b, "t{Ob[O]}", LDAP_TAG_SYNC_ID_SET, &cookie, 1, &uuid);
    });
    SyncProtocol::Info info;
    EXPECT_TRUE(SyncProtocol::parseInfo(doneByDefault.mValue, info));
    EXPECT_TRUE(info.refreshDone);
    EXPECT_TRUE(SyncProtocol::parseInfo(notDone.mValue, info));
    EXPECT_FALSE(info.refreshDone);
    EXPECT_TRUE(SyncProtocol::parseInfo(deleted.mValue, info));
    EXPECT_TRUE(info.idSet);
    EXPECT_TRUE(info.refreshDeletes);
    EXPECT_EQ(info.uuids, std::vector<std::string>{"0123456789abcdef"});

    // The empty value once made liblber read through a null buffer.
    for (const std::string& garbage :
         {std::string(), std::string("\x30"), std::string("\xa1\x05"), std::string("\x04\x01x")}) {
        struct berval value = {static_cast<ber_len_t>(garbage.size()),
                               const_cast<char*>(garbage.data())};
        EXPECT_FALSE(SyncProtocol::parseInfo(value, info));
        EXPECT_FALSE(SyncProtocol::parseState(value, kind, id));
    }
}

}  // namespace
}  // namespace vesk::legacy::store
