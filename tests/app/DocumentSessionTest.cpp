// The document session without a window: the places a reader goes through
// (show, jump, back, forward, fetch again), what each change tells the views,
// and the history edits it passes on.
#include "app/DocumentSession.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

TDocument Doc(const std::string& url, const std::string& body = "text\n")
{
    TDocument document;
    document.Url = url;
    document.Body = body;
    document.Entry = url + " : entry";
    return document;
}

// One step of a reader: the pane is at line `reading` when the step starts.
struct TStep {
    enum TKind { Show, Again, Jump, Back, Forward } Kind;
    std::string Url; // Show, Again: the document; Jump: unused
    int Line = 0;    // Jump: the target line
    int reading = 0;
    // Afterwards:
    std::string shown;
    int line = 0;
    bool canBack = false, canForward = false;
    std::vector<TSessionChange> told;
    // What the reader typed into the pane before the step ("": nothing), and
    // the edited text the shown document has afterwards ("": none).
    std::string typed = {}, edits = {};
};

} // namespace

TEST(TDocumentSession, PlacesRememberWhereTheReaderWasAndEveryChangeIsTold)
{
    using C = TSessionChange;
    const std::vector<TStep> steps = {
        {TStep::Show, "1945", 0, 0, "1945", 0, false, false, {C::Document}},
        {TStep::Jump, "", 120, 3, "1945", 120, true, false, {C::Place}},
        {TStep::Show, "2616", 0, 130, "2616", 0, true, false, {C::Document}},
        // Back names the document on screen again, at the line it was left at.
        {TStep::Back, "", 0, 40, "1945", 130, true, true, {C::Document}},
        {TStep::Back, "", 0, 131, "1945", 3, false, true, {C::Place}},
        {TStep::Back, "", 0, 3, "1945", 3, false, true, {}},
        {TStep::Forward, "", 0, 5, "1945", 131, true, true, {C::Place}},
        {TStep::Forward, "", 0, 130, "2616", 40, true, false, {C::Document}},
        {TStep::Forward, "", 0, 40, "2616", 40, true, false, {}},
        // Fetched again after going back: the same place with the new text, forward places kept.
        {TStep::Back, "", 0, 41, "1945", 130, true, true, {C::Document}},
        {TStep::Again, "1945", 0, 77, "1945", 77, true, true, {C::Document}},
        // Something new from an earlier place drops the places after it.
        {TStep::Show, "822", 0, 78, "822", 0, true, false, {C::Document}},
        {TStep::Jump, "", 0, 0, "822", 0, true, false, {}}, // already there: no new place
        // Edits stay with the document left, for every place in it, until it is fetched again.
        {TStep::Show, "7", 0, 5, "7", 0, true, false, {C::Document}, "notes in 822"},
        {TStep::Back, "", 0, 2, "822", 5, true, true, {C::Document}, "", "notes in 822"},
        {TStep::Jump, "", 30, 6, "822", 30, true, false, {C::Place}, "more notes", "more notes"},
        {TStep::Back, "", 0, 31, "822", 6, true, true, {C::Place}, "", "more notes"},
        {TStep::Again, "822", 0, 6, "822", 6, true, true, {C::Document}, "lost"},
        {TStep::Forward, "", 0, 6, "822", 31, true, false, {C::Place}},
    };
    TDocumentSession session;
    int reading = 0;
    session.ReadingLine = [&reading] { return reading; };
    // The pane gives its edits once: it is unedited again afterwards.
    std::string typed;
    session.EditedText = [&typed]() -> std::optional<std::string> {
        if (typed.empty()) return std::nullopt;
        return std::exchange(typed, "");
    };
    std::vector<TSessionChange> told;
    session.Subscribe([&told](TSessionChange change) { told.push_back(change); });
    for (size_t i = 0; i < steps.size(); ++i) {
        const TStep& step = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        reading = step.reading;
        typed = step.typed;
        told.clear();
        switch (step.Kind) {
        case TStep::Show: session.Show(Doc(step.Url), "status " + step.Url); break;
        case TStep::Again: session.Show(Doc(step.Url, "new text\n"), "again", TShowHow::ReplaceHere); break;
        case TStep::Jump: session.JumpTo(step.Line); break;
        case TStep::Back: session.Back(); break;
        case TStep::Forward: session.Forward(); break;
        }
        ASSERT_NE(session.Shown(), nullptr);
        EXPECT_EQ(session.Shown()->Url, step.shown);
        EXPECT_EQ(session.Line(), step.line);
        EXPECT_EQ(session.CanGoBack(), step.canBack);
        EXPECT_EQ(session.CanGoForward(), step.canForward);
        EXPECT_EQ(told, step.told);
        EXPECT_EQ(session.Shown()->Edited.value_or(""), step.edits);
    }
    // Every place in the document fetched again shows the new text; the status line came back with each place.
    session.Back();
    EXPECT_EQ(session.Shown()->Body, "new text\n");
    EXPECT_EQ(session.Status(), "again");
}

TEST(TDocumentSession, StatusAndNamesBelongToThePlaceAndNothingIsShownAtFirst)
{
    TDocumentSession session;
    std::vector<TSessionChange> told;
    session.Subscribe([&told](TSessionChange change) { told.push_back(change); });
    EXPECT_EQ(session.Shown(), nullptr);
    EXPECT_FALSE(session.Back());
    session.JumpTo(5);
    session.SetStatus("ignored");
    EXPECT_TRUE(told.empty());

    session.Show(Doc("a"), "contains a");
    session.SetStatus("contains a [library]");
    session.Name(822, "Title", "822 : Title", "822");
    session.Show(Doc("b"), "404 for c"); // a later failure's status stays with its own place
    session.Back();
    EXPECT_EQ(session.Status(), "contains a [library]");
    EXPECT_EQ(session.Shown()->Entry, "822 : Title");
    EXPECT_EQ(told,
              (std::vector<TSessionChange>{TSessionChange::Document, TSessionChange::Status, TSessionChange::Names,
                                           TSessionChange::Document, TSessionChange::Document}));
}

TEST(TDocumentSession, OnlyTheNewestHundredPlacesAreKept)
{
    TDocumentSession session;
    for (int i = 0; i < 101; ++i) session.Show(Doc(std::to_string(i)), "");
    EXPECT_EQ(session.PlaceCount(), 100);
    while (session.Back()) {}
    EXPECT_EQ(session.Shown()->Url, "1");
}

TEST(TDocumentSession, HistoryEditsAreToldToTheViews)
{
    TDocumentSession session;
    int told = 0;
    session.Subscribe([&told](TSessionChange change) { told += change == TSessionChange::History; });
    session.AddFetched("822", "Title", "https://h/rfc822.txt", [] { return 20; });
    session.AddFetched("822", "Title", "https://h/rfc822.txt", [] { return 20; });
    session.AddOpenedFile(7, "Notes", "/tmp/n.txt");
    session.MoveToTop(1, "822 : Title");
    session.RemoveHistoryEntry(1);
    EXPECT_EQ(told, 5);
    EXPECT_EQ(session.History().Count(), 1);
}

TEST(TDocumentSession, TabsExchangeTheirPlacesAndShareOneHistory)
{
    TDocumentSession session;
    int reading = 0;
    session.ReadingLine = [&reading] { return reading; };
    std::vector<TSessionChange> told;
    session.Subscribe([&told](TSessionChange change) { told.push_back(change); });
    session.Show(Doc("1945"), "");
    session.JumpTo(40);
    session.AddFetched("1945", "HTTP/1.0", "https://h/rfc1945.txt", [] { return 20; });
    reading = 57;

    // A new tab: nothing shown, and the first tab's places held outside, at the line it was read at.
    TDocumentSession::TPlaces first = session.Exchange({});
    EXPECT_EQ(session.Shown(), nullptr);
    EXPECT_FALSE(session.CanGoBack());
    ASSERT_NE(first.Shown(), nullptr);
    EXPECT_EQ(first.Shown()->Url, "1945");
    EXPECT_EQ(first.Line(), 57);
    session.Show(Doc("2616"), "");
    session.AddFetched("2616", "HTTP/1.1", "https://h/rfc2616.txt", [] { return 20; });

    // Back to the first tab: its places, back included; the history names both.
    told.clear();
    reading = 9;
    TDocumentSession::TPlaces second = session.Exchange(std::move(first));
    EXPECT_EQ(told, std::vector<TSessionChange>{TSessionChange::Document});
    EXPECT_EQ(session.Shown()->Url, "1945");
    EXPECT_EQ(session.Line(), 57);
    EXPECT_TRUE(session.Back());
    EXPECT_EQ(session.Line(), 0);
    EXPECT_EQ(second.Shown()->Url, "2616");
    EXPECT_EQ(second.Line(), 9);
    EXPECT_EQ(session.History().Count(), 2);
}
