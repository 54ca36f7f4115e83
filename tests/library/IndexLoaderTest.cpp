// Reading the publisher's index, and replacing the stored one over a real nginx, with hostile indexes
// that must leave the previous one whole.

#include <gtest/gtest.h>
#include <utime.h>

#include <string>
#include <vector>

#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "net/fetch/Fetcher.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/RealPeers.h"

using testsupport::TRealPeer;

TEST(TIndexParser, ReadsEveryFieldOfAnEntryWhateverThePieces)
{
    if (!SharedFilesPresent()) GTEST_SKIP() << "no sample index beside the project";
    for (size_t piece : {size_t(1), size_t(7), size_t(1) << 20}) {
        SCOPED_TRACE(piece);
        TIndexParser parser;
        ASSERT_TRUE(ParseIndexFile(SampleIndexPath(), parser, piece)) << parser.Failure();
        ASSERT_EQ(parser.Entries().size(), 14u);
        const auto entry = std::find_if(parser.Entries().begin(), parser.Entries().end(),
                                        [](const TIndexEntry& e) { return e.Number == 1928; });
        ASSERT_NE(entry, parser.Entries().end());
        EXPECT_EQ(entry->Title, "SOCKS Protocol Version 5");
        EXPECT_EQ(entry->Authors,
                  (std::vector<std::string>{"M. Leech", "M. Ganis", "Y. Lee", "R. Kuris", "D. Koblas", "L. Jones"}));
        EXPECT_EQ(entry->Date, "March 1996");
        EXPECT_EQ(entry->Status, "PROPOSED STANDARD");
        EXPECT_EQ(entry->Stream, "IETF");
        EXPECT_EQ(entry->Keywords, (std::vector<std::string>{"SOCKS-V5", "firewall"}));
        EXPECT_TRUE(entry->Abstract.starts_with("This memo describes a protocol that is an evolution"))
            << entry->Abstract;
        EXPECT_EQ(entry->ErrataUrl, "https://www.rfc-editor.org/errata/rfc1928");
    }
}

TEST(TIndexParser, HostileOrIncompleteIndexesAreRefused)
{
    TTempDir folder;
    std::vector<std::string> paths;
    for (const char* file : {"index_bad_xml.xml", "index_entity_bomb.xml", "index_external_entity.xml",
                             "index_other_namespace.xml", "index_without_entries.xml"})
        paths.push_back(LibraryDataPath(file));
    if (SharedFilesPresent()) {
        WriteTextFile(folder.File("index_cut.xml"), CutSampleIndex());
        paths.push_back(folder.File("index_cut.xml"));
    }
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        TIndexParser parser;
        EXPECT_FALSE(ParseIndexFile(path, parser));
        EXPECT_FALSE(parser.Failure().empty());
    }
}

namespace {

const std::string kIndexOpen = "<rfc-index xmlns=\"https://www.rfc-editor.org/rfc-index\">";
const std::string kEntry = "<rfc-entry><doc-id>RFC1</doc-id><title>T</title></rfc-entry>";

std::string Repeated(const std::string& piece, size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) text += piece;
    return text;
}

// An entry with extra elements nested inside it, so the index reaches depth elements in all.
std::string NestedIndex(size_t depth, bool closed)
{
    const size_t extra = depth - 2;
    return kIndexOpen + "<rfc-entry><doc-id>RFC1</doc-id>" + Repeated("<x>", extra) +
           (closed ? Repeated("</x>", extra) + "</rfc-entry></rfc-index>" : std::string());
}

} // namespace

// Each row would make the parser hold memory far beyond what an index needs; it stops at the first
// step past the bound and says which bound it was.
TEST(TIndexParser, StopsAtTheFirstStepPastItsMemoryBounds)
{
    struct TCase {
        const char* name;
        std::string text;
        const char* failure; // empty: accepted
    } cases[] = {
        {"sixteen levels, the deepest allowed", NestedIndex(16, true), ""},
        {"seventeen levels", NestedIndex(17, true), "the index nests deeper than an index does"},
        {"two million open levels", NestedIndex(2'000'000, false), "the index nests deeper than an index does"},
        {"an element name of 40 MB", kIndexOpen + "<" + std::string(40 << 20, 'n') + "/>", "the index is too large"},
        {"an attribute of 40 MB", kIndexOpen + "<x a=\"" + std::string(40 << 20, 'v') + "\"/>",
         "the index is too large"},
        {"200,000 tiny entries", kIndexOpen + Repeated(kEntry, 200'000) + "</rfc-index>", "the index is too large"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TIndexParser parser;
        EXPECT_EQ(ParseIndexText(c.text, parser, 1 << 16), *c.failure == 0);
        EXPECT_EQ(parser.Failure(), c.failure);
    }
}

TEST(TIndexParser, AnIdListedTwiceIsOneEntryWithTheLaterFields)
{
    const std::string text = kIndexOpen + "<rfc-entry><doc-id>RFC7</doc-id><title>First</title></rfc-entry>" +
                             "<rfc-entry><doc-id>RFC8</doc-id><title>Other</title></rfc-entry>" +
                             "<rfc-entry><doc-id>RFC7</doc-id><title>Second</title></rfc-entry></rfc-index>";
    TIndexParser parser;
    ASSERT_TRUE(ParseIndexText(text, parser)) << parser.Failure();
    ASSERT_EQ(parser.Entries().size(), 2u);
    EXPECT_EQ(parser.Entries()[0].Number, 7);
    EXPECT_EQ(parser.Entries()[0].Title, "Second");
}

TEST(TIndexParser, DocumentIdsAndTheirDisplay)
{
    struct TCase {
        const char* id;
        int number;
        const char* shown;
    } cases[] = {{"RFC0822", 822, "RFC 822"}, {"RFC7230", 7230, "RFC 7230"}, {"STD0011", 0, "STD 11"},
                 {"RFC", 0, "RFC"},           {"RFC12x", 0, "RFC12x"},       {"RFC99999999999", 0, "RFC99999999999"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(RfcNumberOf(c.id), c.number);
        EXPECT_EQ(DisplayDocumentId(c.id), c.shown);
    }
}

TEST(UpdateIndex, IndexLiesOnTheServerOfTheDocuments)
{
    struct TCase {
        const char* format;
        const char* index;
    } cases[] = {
        {"https://www.rfc-editor.org/rfc/rfc%s.txt", "https://www.rfc-editor.org/rfc-index.xml"},
        {"http://127.0.0.1:8080/rfc%s.txt", "http://127.0.0.1:8080/rfc-index.xml"},
        {"HTTP://h", "HTTP://h/rfc-index.xml"},
        {"http://%s.example/rfc.txt", "https://www.rfc-editor.org/rfc-index.xml"},
        {"file:///tmp/rfc%s.txt", "https://www.rfc-editor.org/rfc-index.xml"},
        {"", "https://www.rfc-editor.org/rfc-index.xml"},
    };
    for (const TCase& c : cases) EXPECT_EQ(IndexUrlBeside(c.format), c.index) << c.format;
}

// The index served by nginx: loaded, then unchanged (a 304 to the stored Last-Modified), then each hostile
// index in turn fails and the loaded one stays whole.
TEST(UpdateIndex, LoadsOnceThenAsksConditionallyAndKeepsTheOldIndexOnFailure)
{
    if (!SharedFilesPresent()) GTEST_SKIP() << "no sample index beside the project";
    TTempDir root;
    WriteTextFile(root.File("rfc-index.xml"), ReadTextFile(SampleIndexPath()));
    // Dated apart from the good index, so the conditional request cannot pass them off as unchanged.
    for (const char* file : {"index_cut.xml", "index_bad_xml.xml", "index_entity_bomb.xml"}) {
        WriteTextFile(root.File(file),
                      file == std::string("index_cut.xml") ? CutSampleIndex() : ReadTextFile(LibraryDataPath(file)));
        const utimbuf times{1'700'000'000, 1'700'000'000};
        ::utime(root.File(file).c_str(), &times);
    }
    std::unique_ptr<TRealPeer> nginx = TRealPeer::Nginx(root.Path());
    const std::string base = "http://127.0.0.1:" + std::to_string(nginx->Port()) + "/";
    TTempDir home;
    TLibraryDatabase database({home.File("library.db")});
    TFetcher fetcher;
    const TFetchSettings settings;

    TIndexUpdateResult loaded = UpdateIndex(fetcher, settings, database, base + "rfc-index.xml");
    EXPECT_EQ(loaded.Outcome, TIndexUpdateOutcome::iuLoaded) << loaded.Failure;
    EXPECT_EQ(loaded.Entries, 14);
    TIndexUpdateResult again = UpdateIndex(fetcher, settings, database, base + "rfc-index.xml");
    EXPECT_EQ(again.Outcome, TIndexUpdateOutcome::iuUnchanged) << again.Failure;
    EXPECT_NE(nginx->AccessLog(2).find("\"GET /rfc-index.xml HTTP/1.1\" 304 "), std::string::npos);

    for (const char* file : {"index_cut.xml", "index_bad_xml.xml", "index_entity_bomb.xml", "missing.xml"}) {
        SCOPED_TRACE(file);
        const TIndexUpdateResult failed = UpdateIndex(fetcher, settings, database, base + file);
        EXPECT_EQ(failed.Outcome, TIndexUpdateOutcome::iuFailed);
        EXPECT_FALSE(failed.Failure.empty());
        const std::optional<TRelations> kept = RelationsOf(database, 2616);
        ASSERT_TRUE(kept);
        EXPECT_EQ(kept->ObsoletedBy.size(), 6u);
        EXPECT_EQ(SearchLibrary(database, "socks").size(), 2u);
    }
}
