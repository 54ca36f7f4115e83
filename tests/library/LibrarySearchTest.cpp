// Searching the sample index and a few cached RFCs, and the relations the index gives one RFC.

#include <gtest/gtest.h>

#include "library/DocumentCache.h"
#include "library/LibrarySearch.h"
#include "tests/library/LibraryTestSupport.h"

namespace {

class LibrarySearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SharedFilesPresent()) GTEST_SKIP() << "no sample index beside the project";
        LoadIndexFile(database_, SampleIndexPath());
        TDocumentCache cache(database_);
        for (int number : {1945, 2109, 2616, 6265}) {
            TCachedDocument document;
            document.Number = number;
            document.Url = "http://h/rfc" + std::to_string(number) + ".txt";
            document.Title = "cached title";
            document.Body = ReadTextFile(std::string(SCRIVLET_RFC_DIR) + "/rfc" + std::to_string(number) + ".txt");
            ASSERT_TRUE(cache.Store(document));
        }
    }

    std::vector<int> Numbers(const std::string& query)
    {
        std::vector<int> numbers;
        for (const TLibraryHit& hit : SearchLibrary(database_, query)) numbers.push_back(hit.Number);
        return numbers;
    }

    TTempDir temp_;
    TLibraryDatabase database_{{temp_.File("library.db")}};
};

bool Lists(const std::vector<int>& numbers, int number)
{
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

} // namespace

TEST_F(LibrarySearch, FindsWordsInTheIndexAndInCachedTextNumberFirst)
{
    struct TCase {
        const char* query;
        std::vector<int> listed;
        std::vector<int> absent;
        int first;
    } cases[] = {
        {"cookie", {2109, 2965, 6265, 1945}, {2616, 1928}, 0},
        {"cookies", {2109, 6265}, {}, 0},
        {"socks firewall", {1928, 1929}, {2616}, 0},
        {"2616", {2616}, {}, 2616},
        {"RFC2109", {2109}, {2616}, 2109},
        {"rfc 6265", {6265}, {}, 6265},
        {"hypertext transfer", {1945, 2616, 2068}, {1928}, 0},
        {"chunked", {2616}, {2617, 6265}, 0},
        {"zzzyyyxxx", {}, {2616}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.query);
        const std::vector<int> numbers = Numbers(c.query);
        for (int number : c.listed) EXPECT_TRUE(Lists(numbers, number)) << number;
        for (int number : c.absent) EXPECT_FALSE(Lists(numbers, number)) << number;
        if (c.first != 0) {
            ASSERT_FALSE(numbers.empty());
            EXPECT_EQ(numbers.front(), c.first);
        }
    }
    EXPECT_EQ(database_.Fault(), TLibraryFault::lfNone);
}

TEST_F(LibrarySearch, HitsCarryIndexFactsAndTheMatchingLineOfCachedText)
{
    const std::vector<TLibraryHit> hits = SearchLibrary(database_, "chunked");
    ASSERT_FALSE(hits.empty());
    const TLibraryHit& hit = hits.front();
    EXPECT_EQ(hit.Number, 2616);
    EXPECT_EQ(hit.Title, "Hypertext Transfer Protocol -- HTTP/1.1");
    EXPECT_EQ(hit.Date, "June 1999");
    EXPECT_EQ(hit.Status, "DRAFT STANDARD");
    EXPECT_TRUE(hit.Obsolete);
    EXPECT_EQ(hit.Url, "http://h/rfc2616.txt");
    EXPECT_EQ(hit.Line, "3.6.1    Chunked Transfer Coding ..................................25");

    const std::vector<TLibraryHit> indexOnly = SearchLibrary(database_, "firewall");
    ASSERT_FALSE(indexOnly.empty());
    EXPECT_EQ(indexOnly.front().Line, "");
    EXPECT_EQ(indexOnly.front().Url, "");
}

TEST_F(LibrarySearch, QuerySyntaxAndQuotesAreSearchedAsPlainWords)
{
    for (const char* query :
         {"\"", "NEAR(socks firewall)", "title:socks", "*", "socks OR", "'; DROP TABLE rfc; --", "", "   "}) {
        SCOPED_TRACE(query);
        // Read as the search's own syntax, NEAR, OR and title: would find the SOCKS RFCs; as plain words
        // ("near", "or", "title") no document holds them all.
        EXPECT_EQ(Numbers(query), std::vector<int>{});
        EXPECT_EQ(database_.Fault(), TLibraryFault::lfNone);
    }
    EXPECT_EQ(Numbers("socks").size(), 2u);
}

TEST_F(LibrarySearch, RelationsOfAnRfcAsTheIndexGivesThem)
{
    const std::optional<TRelations> relations = RelationsOf(database_, 2616);
    ASSERT_TRUE(relations);
    EXPECT_TRUE(relations->Obsolete);
    EXPECT_EQ(relations->Status, "DRAFT STANDARD");
    EXPECT_EQ(relations->ObsoletedBy,
              (std::vector<std::string>{"RFC7230", "RFC7231", "RFC7232", "RFC7233", "RFC7234", "RFC7235"}));
    EXPECT_EQ(relations->UpdatedBy, (std::vector<std::string>{"RFC2817", "RFC5785", "RFC6266", "RFC6585"}));
    EXPECT_EQ(relations->Obsoletes, (std::vector<std::string>{"RFC2068"}));
    EXPECT_TRUE(relations->Updates.empty());
    EXPECT_EQ(relations->ErrataUrl, "https://www.rfc-editor.org/errata/rfc2616");
    EXPECT_EQ(RelationsOf(database_, 822)->Also, "STD0011");
    EXPECT_FALSE(RelationsOf(database_, 9999));
}

TEST_F(LibrarySearch, SubseriesAreListedFromTheIndexEntriesAndTheirOwnEntries)
{
    struct TCase {
        const char* text;
        std::optional<std::vector<int>> members;
    } cases[] = {
        {"STD 7", std::vector<int>{9293}},
        {"std0007", std::vector<int>{9293}},
        {"BCP 14", std::vector<int>{2119, 8174}},
        {"STD 11", std::vector<int>{822}},
        {"FYI 1", std::vector<int>{}},
        {"STD 7 tcp", std::nullopt},
        {"STD", std::nullopt},
        {"7", std::nullopt},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SubseriesMembers(database_, c.text), c.members);
    }
    EXPECT_EQ(Numbers("STD 7"), std::vector<int>{9293});
}

TEST_F(LibrarySearch, ObsoletionChainRunsToTheNewestDocuments)
{
    struct TCase {
        int number;
        std::vector<std::vector<int>> chain;
        const char* text;
    } cases[] = {
        {2109, {{2965}, {6265}}, "2965 \u2192 6265"},
        {2068,
         {{2616}, {7230, 7231, 7232, 7233, 7234, 7235}, {9110, 9112}},
         "2616 \u2192 7230, 7231, 7232, 7233, 7234, 7235 \u2192 9110, 9112"},
        {822, {{2822}}, "2822"},
        {6265, {}, ""},
        {9999, {}, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.number);
        const std::vector<std::vector<int>> chain = ObsoletionChain(database_, c.number);
        EXPECT_EQ(chain, c.chain);
        EXPECT_EQ(ChainText(chain), c.text);
    }
}

TEST_F(LibrarySearch, BrowsingFiltersTheWholeIndex)
{
    struct TCase {
        const char* name;
        TIndexFilter filter;
        std::vector<int> numbers;
    } cases[] = {
        {"everything", {}, {822, 1928, 1929, 1945, 2068, 2109, 2616, 2617, 2965, 3986, 6265, 7230, 9110, 9293}},
        {"obsolete hidden", {"", "", 0, true}, {1928, 1929, 1945, 3986, 6265, 9110, 9293}},
        {"status", {"HISTORIC", "", 0, false}, {2109, 2965}},
        {"stream", {"", "Legacy", 0, false}, {822}},
        {"year", {"", "", 1999, false}, {2616, 2617}},
        {"nothing passes", {"HISTORIC", "", 0, true}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BrowseIndex(database_, c.filter), c.numbers);
    }
    const TIndexFacets facets = IndexFacets(database_);
    EXPECT_EQ(facets.Streams, (std::vector<std::string>{"IETF", "Legacy"}));
    EXPECT_EQ(facets.Years.front(), 2022);
    // Search words within a filter: cookie documents that are still current.
    std::vector<int> current;
    for (const TLibraryHit& hit : SearchIndex(database_, "cookie", {"", "", 0, true})) current.push_back(hit.Number);
    EXPECT_EQ(current, (std::vector<int>{6265, 1945}));
    EXPECT_EQ(TIndexRows(database_).Row(2616).Title, "Hypertext Transfer Protocol -- HTTP/1.1");
    EXPECT_EQ(TIndexRows(database_).Row(4).Title, "");
}
