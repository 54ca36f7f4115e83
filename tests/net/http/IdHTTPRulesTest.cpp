#include <gtest/gtest.h>

#include "net/http/IdHTTPRules.h"
#include "tests/support/ExpectRaises.h"

namespace {

TEST(IdHTTPRules, StatusCodeIsTheSecondWordOrMinusOne)
{
    const struct {
        const char* line;
        int32_t code;
    } rows[] = {
        {"HTTP/1.1 404 Not Found", 404},
        {"HTTP/1.0 200", 200},
        {"HTTP/1.1   301   Moved", 301},
        {"HTTP/1.1 $1F x", -1},
        {"HTTP/1.1 +200 OK", -1},
        {"HTTP/1.1 0x1 OK", -1},
        {"HTTP/1.1 OK", -1},
        {"HTTP/1.1", -1},
        {"", -1},
        {"HTTP/1.1 20x0 OK", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(StatusCodeOf(row.line), row.code);
    }
}

TEST(IdHTTPRules, KeepAliveFollowsTheClientsOwnVersion)
{
    const struct {
        TIdHTTPProtocolVersion version;
        const char* connection;
        const char* proxyConnection;
        bool keep;
    } rows[] = {
        {pv1_1, "", "", true},
        {pv1_1, " cLoSe ", "", false},
        {pv1_1, "", "close", false},
        {pv1_1, "keep-alive", "", true},
        {pv1_0, "", "", false},
        {pv1_0, "Keep-Alive", "", true},
        {pv1_0, "", " keep-alive\t", true},
        {pv1_0, "close", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.connection) + "|" + row.proxyConnection);
        EXPECT_EQ(KeepAliveAllowed(row.version, row.connection, row.proxyConnection), row.keep);
    }
}

TEST(IdHTTPRules, ChunkSizeReadsHexDigitsUpToSemicolonOrBlank)
{
    const struct {
        const char* line;
        int64_t size;
    } rows[] = {
        {"1A", 26},
        {"1a", 26},
        {"1a;name=value", 26},
        {"1A ;ext", 26},
        {"1A\text", 26},
        {"0", 0},
        {"000", 0},
        {" 5", 5},
        {"0000000000000000001", 1},
        {"fffffffffffffff", 0xfffffffffffffff},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(ChunkSizeOf(row.line), row.size);
    }
}

TEST(IdHTTPRules, ChunkSizeLineWithoutANumberRaises)
{
    const struct {
        const char* line;
        const char* message;
    } rows[] = {
        {"", "Invalid chunk size line"},    {";ext", "Invalid chunk size line"},
        {"xyz", "Invalid chunk size line"}, {"1G", "Invalid chunk size line"},
        {"-5", "Invalid chunk size line"},  {"1000000000000000", "Chunk size too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        testsupport::ExpectRaises<EIdHTTPBadResponse>([&] { ChunkSizeOf(row.line); }, row.message);
    }
}

TEST(IdHTTPRules, MergeResolvesAgainstThePreviousRequest)
{
    const struct {
        const char* previous; // "" for a fresh client (port 80 as its constructor sets)
        const char* url;
        const char* expected; // protocol host port path resource query
    } rows[] = {
        {"", "http://h/a/b.txt?x#frag", "http h 80 /a/ b.txt ?x"},
        {"http://h:8080/a/b.txt", "/rfc/rfc822.txt", "http h 8080 /rfc/ rfc822.txt "},
        {"http://h:8080/a/b.txt", "c.txt", "http h 8080 /a/ c.txt "},
        {"http://h:8080/a/b.txt", "../c.txt", "http h 8080 / c.txt "},
        {"http://h/a/", "https://g/x", "https g 443 / x "},
        {"https://g/x", "http://h/y", "http h 80 / y "},
        {"http://h:8080/", "https://g/x", "https g 8080 / x "},
        {"http://h/", "HTTP://g:81/", "HTTP g 81 /  "},
        {"http://h/", "ftp://g:21/x", "ftp g 21 / x "},
        {"http://h/", "/a b/\xE3\x81\x82.txt", "http h 80 /a b/ \xE3\x81\x82.txt "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.previous) + " + " + row.url);
        TIdURI current;
        current.Port = "80";
        if (*row.previous) MergeRequestUri(current, TIdURI(row.previous));
        MergeRequestUri(current, TIdURI(row.url));
        EXPECT_EQ(current.Protocol + " " + current.Host + " " + current.Port + " " + current.Path + " " +
                      current.Resource + " " + current.Query,
                  row.expected);
    }
}

} // namespace
