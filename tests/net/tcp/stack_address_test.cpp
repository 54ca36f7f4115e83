// Host names, dotted quads, services and local addresses.

#include <gtest/gtest.h>

#include <string>

#include "net/tcp/IdException.h"
#include "net/tcp/IdStackPosix.h"
#include "platform/SysUtils.h"
#include "tests/support/ExpectRaises.h"
#include "tests/support/NetTestSupport.h"

namespace {

using testsupport::ExpectRaises;

// Counts the lookups that reach the resolver.
class TCountingStack : public TIdStackPosix {
public:
    int lookups = 0;
    std::string HostByName(const std::string& hostName) override
    {
        ++lookups;
        return TIdStackPosix::HostByName(hostName);
    }
};

TEST(TIdStackAddress, IsDottedQuadNeedsFourPartsInByteRange)
{
    struct Case {
        const char* text;
        bool passes;
    };
    const Case cases[] = {
        {"127.0.0.1", true},  {"0.0.0.0", true},    {"255.255.255.255", true}, {"1.2.3.4", true},   {"1.2.3", false},
        {"1.2.3.4.5", false}, {"256.1.1.1", false}, {"1.2.3.256", false},      {"-1.2.3.4", false}, {"", false},
        {"a.b.c.d", false},   {"1..2.3", false},    {"localhost", false},      {"10.0.0", false},   {"1.2.3.", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.passes);
    }
}

TEST(TIdStackAddress, ResolveHostNameLooksUpOnlyRealNames)
{
    struct Case {
        const char* host;
        const char* address;
        int lookups;
    };
    const Case cases[] = {
        {"localhost", "127.0.0.1", 0},
        {"LocalHost", "127.0.0.1", 0},
        {"LOCALHOST", "127.0.0.1", 0},
        {"10.0.0.1", "10.0.0.1", 0},
        // Not a dotted quad: goes to the resolver, which reads it as 10.0.0.0.
        {"10.0.0", "10.0.0.0", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TCountingStack stack;
        EXPECT_EQ(stack.ResolveHostName(c.host), c.address);
        EXPECT_EQ(stack.lookups, c.lookups);
    }
}

TEST(TIdStackAddress, UnresolvableNameRaisesHostNotFound)
{
    TIdStackPosix stack;
    // The .invalid top-level domain never resolves.
    for (const char* name : {"no-such-host.invalid", "scrivlet.test.invalid"}) {
        SCOPED_TRACE(name);
        testsupport::ExpectSocketError([&] { stack.ResolveHostName(name); }, 11001,
                                       "Socket Error # 11001\r\nHost not found.");
        EXPECT_EQ(stack.LastErrorCode(), 11001);
    }
}

TEST(TIdStackAddress, OctetsRoundTripInMemoryOrder)
{
    TIdStackPosix stack;
    TIdIPv4Bytes bytes = stack.ParseIPv4Octets("192.168.1.20");
    EXPECT_EQ(bytes, (TIdIPv4Bytes{192, 168, 1, 20}));
    EXPECT_EQ(stack.FormatIPv4(TIdIPv4Bytes{10, 0, 255, 7}), "10.0.255.7");
    EXPECT_EQ(stack.FormatIPv4(stack.ParseIPv4("127.0.0.1")), "127.0.0.1");
    EXPECT_THROW(stack.ParseIPv4Octets("1.2.x.4"), EConvertError);
}

TEST(TIdStackAddress, ServiceByNameFindsTheEntryOrReadsANumber)
{
    TIdStackPosix stack;
    EXPECT_EQ(stack.ServiceByName("http"), 80);
    EXPECT_EQ(stack.ServiceByName("ssh"), 22);
    EXPECT_EQ(stack.ServiceByName("8080"), 8080);
    ExpectRaises<EIdInvalidServiceName>([&] { stack.ServiceByName("no-such-service"); },
                                        "no-such-service is not a valid service.");
}

TEST(TIdStackAddress, ServiceByPortListsNameAndAliases)
{
    TIdStackPosix stack;
    TStringList http = stack.ServiceByPort(80);
    ASSERT_EQ(http.Count(), 2);
    EXPECT_EQ(http[0], "http");
    EXPECT_EQ(http[1], "www");
    EXPECT_EQ(stack.ServiceByPort(3).Count(), 0);
}

TEST(TIdStackAddress, LocalAddressesAreTheOwnNamesAddresses)
{
    TIdStackPosix stack;
    EXPECT_FALSE(stack.LocalHostName().empty());
    const TStringList& addresses = stack.LocalAddresses();
    ASSERT_GT(addresses.Count(), 0);
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        EXPECT_TRUE(TIdStack::IsDottedQuad(address));
    }
    EXPECT_EQ(stack.LocalAddress(), addresses[0]);
    EXPECT_EQ(stack.HostByAddr("127.0.0.1"), "localhost");
}

} // namespace
