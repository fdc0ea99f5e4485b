// The directory's text handling on its own: escaping for DNs and filters,
// the layout's DNs and the way back from a DN, and the sync messages.
#include <gtest/gtest.h>
#include <lber.h>
#include <ldap.h>

#include <random>

#include "DirectoryLayout.h"
#include "LdapEscape.h"
#include "SyncProtocol.h"

namespace vesk::legacy::store {
namespace {

// The value libldap reads back from "cn=<escaped>", or nothing if it is no
// single-valued RDN.
bool readBack(const std::string& escaped, std::string& value) {
    LDAPDN dn = nullptr;
    if (ldap_str2dn(("cn=" + escaped).c_str(), &dn, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) {
        return false;
    }
    const bool single = dn != nullptr && dn[0] != nullptr && dn[1] == nullptr &&
                        dn[0][0] != nullptr && dn[0][1] == nullptr;
    if (single) {
        value.assign(dn[0][0]->la_value.bv_val, dn[0][0]->la_value.bv_len);
    }
    ldap_dnfree(dn);
    return single;
}

TEST(LdapTextTest, EscapedDnValueReadsBackAsExactlyOneValue) {
    const std::vector<std::string> fixed{"plain", "a,b",      "x+y=z",    "#lead",       "mid#dle",
                                         " lead", "trail ",   " ",        "\\",          "q\"uote",
                                         "<a>;b", "tab\t",    "\x01\x1f", "caf\xc3\xa9", "a,cn=b",
                                         "=",     "ou=x,dc=y"};
    for (const std::string& value : fixed) {
        std::string back;
        ASSERT_TRUE(readBack(LdapEscape::dnValue(value), back)) << value;
        EXPECT_EQ(back, value);
    }
    // Random printable text with every special character in reach.
    std::mt19937 random(4514);
    const std::string alphabet = " #\"+,;<>\\=abcXYZ019.-_*()";
    for (int round = 0; round < 2000; ++round) {
        std::string value(1 + random() % 12, ' ');
        for (char& c : value) {
            c = alphabet[random() % alphabet.size()];
        }
        std::string back;
        ASSERT_TRUE(readBack(LdapEscape::dnValue(value), back)) << "[" << value << "]";
        ASSERT_EQ(back, value);
    }
}

TEST(LdapTextTest, FilterValueEscapesEveryFilterCharacter) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"plain", "plain"},
        {"*", "\\2a"},
        {"a*)(cn=*", "a\\2a\\29\\28cn=\\2a"},
        {"back\\slash", "back\\5cslash"},
        {std::string("nul\0x", 5), "nul\\00x"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LdapEscape::filterValue(c.first), c.second);
    }
}

TEST(LdapTextTest, OnlyUtf8CanBeAValue) {
    const std::vector<std::pair<std::string, bool>> cases{
        {"ascii", true},
        {"caf\xc3\xa9", true},
        {"\xe2\x82\xac", true},
        {"\xf0\x9f\x98\x80", true},
        {"\xc3", false},
        {"\xff", false},
        {"\xc0\xaf", false},
        {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false},
        {"\xe2\x28\xa1", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LdapEscape::isValidUtf8(c.first), c.second) << c.first;
    }
}

TEST(LdapTextTest, LayoutNamesEachScopeAndFindsItsWayBack) {
    const DirectoryLayout layout("ou=Policy,dc=Example,dc=org",
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

    using Kind = DirectoryLayout::Place::Kind;
    struct Case {
        std::string dn;
        Kind kind;
        size_t scope;
        std::string component;
    };
    const std::vector<Case> cases{
        {"cn=org.x,ou=default,ou=policy,dc=example,DC=ORG", Kind::Layer, 0, "org.x"},
        {"CN=org.x,OU=Default,ou=policy,dc=example,dc=org", Kind::Layer, 0, "org.x"},
        {"cn=org.x,cn=a\\2Cb,ou=groups,ou=policy,dc=example,dc=org", Kind::Layer, 2, "org.x"},
        {"cn=org.x,uid=alice,ou=users,ou=policy,dc=example,dc=org", Kind::Layer, 4, "org.x"},
        {"uid=alice,ou=users,ou=policy,dc=example,dc=org", Kind::Scope, 4, ""},
        {"ou=default,ou=policy,dc=example,dc=org", Kind::Scope, 0, ""},
        {"ou=users,ou=policy,dc=example,dc=org", Kind::Container, 4, ""},
        {"ou=policy,dc=example,dc=org", Kind::Container, 0, ""},
        // Names are ours and compared exactly; other entities are elsewhere.
        {"cn=org.x,uid=Alice,ou=users,ou=policy,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"cn=org.x,uid=bob,ou=users,ou=policy,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"cn=org.x,cn=adm,ou=hosts,ou=policy,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"cn=deeper,cn=org.x,ou=default,ou=policy,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"cn=a+sn=b,ou=default,ou=policy,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"cn=org.x,ou=default,ou=other,dc=example,dc=org", Kind::Elsewhere, 0, ""},
        {"dc=org", Kind::Elsewhere, 0, ""},
        {"not a dn", Kind::Elsewhere, 0, ""},
    };
    for (const Case& c : cases) {
        const DirectoryLayout::Place place = layout.locate(c.dn);
        EXPECT_EQ(place.kind, c.kind) << c.dn;
        if (c.kind == Kind::Layer || c.kind == Kind::Scope) {
            EXPECT_EQ(place.scope, c.scope) << c.dn;
            EXPECT_EQ(place.component, c.component) << c.dn;
        }
    }
    EXPECT_EQ(DirectoryLayout("dc=x", {"default", "users/a)(b"}).changeFilter(),
              "(|(entryDN=dc=x)(ou:dn:=default)(entryDN=ou=users,dc=x)(uid:dn:=a\\29\\28b))");
}

// A BER value written with liblber, as a server would send it.
struct Encoded {
    explicit Encoded(const std::function<int(BerElement*)>& write) {
        BerElement* ber = ber_alloc_t(LBER_USE_DER);
        ok = write(ber) >= 0 && ber_flatten2(ber, &value, 1) == 0;
        ber_free(ber, 1);
    }
    ~Encoded() { ber_memfree(value.bv_val); }
    struct berval value = {0, nullptr};
    bool ok = false;
};

TEST(LdapTextTest, SyncMessagesAreReadAndGarbageIsRefused) {
    char uuidBytes[] = "0123456789abcdef";
    struct berval uuid = {16, uuidBytes};
    struct berval cookie = {4, const_cast<char*>("rid1")};

    const Encoded state([&](BerElement* b) { return ber_printf(b, "{eOO}", 2, &uuid, &cookie); });
    SyncProtocol::State kind = SyncProtocol::State::Present;
    std::string id;
    ASSERT_TRUE(state.ok);
    EXPECT_TRUE(SyncProtocol::parseState(state.value, kind, id));
    EXPECT_EQ(kind, SyncProtocol::State::Modify);
    EXPECT_EQ(id, "0123456789abcdef");
    const Encoded shortId([&](BerElement* b) { return ber_printf(b, "{es}", 1, "short"); });
    EXPECT_FALSE(SyncProtocol::parseState(shortId.value, kind, id));
    const Encoded badState([&](BerElement* b) { return ber_printf(b, "{eO}", 7, &uuid); });
    EXPECT_FALSE(SyncProtocol::parseState(badState.value, kind, id));

    SyncProtocol::Info info;
    const Encoded doneByDefault([&](BerElement* b) {
        return ber_printf(b, "t{O}", LDAP_TAG_SYNC_REFRESH_DELETE, &cookie);
    });
    EXPECT_TRUE(SyncProtocol::parseInfo(doneByDefault.value, info));
    EXPECT_TRUE(info.refreshDone);
    const Encoded notDone(
        [&](BerElement* b) { return ber_printf(b, "t{b}", LDAP_TAG_SYNC_REFRESH_PRESENT, 0); });
    EXPECT_TRUE(SyncProtocol::parseInfo(notDone.value, info));
    EXPECT_FALSE(info.refreshDone);
    const Encoded deleted([&](BerElement* b) {
        return ber_printf(b, "t{Ob[O]}", LDAP_TAG_SYNC_ID_SET, &cookie, 1, &uuid);
    });
    EXPECT_TRUE(SyncProtocol::parseInfo(deleted.value, info));
    EXPECT_TRUE(info.idSet);
    EXPECT_TRUE(info.refreshDeletes);
    EXPECT_EQ(info.uuids, std::vector<std::string>{"0123456789abcdef"});

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
