// The session's places, its history edits and the one notification the views follow.
#include "app/DocumentSession.h"

#include "app/DocumentText.h"
#include "platform/LineSource.h"
#include "platform/TextUtil.h"

#include <utility>

namespace {

// Places beyond this many are forgotten from the oldest: each may keep a document.
constexpr size_t kMaxPlaces = 100;

const std::string kNoStatus;

// A body's lines read in place: naming a document copies no more of it than the lines it looks at.
class TBodyLines : public TLineSource {
public:
    explicit TBodyLines(std::string_view body) : lines_(SplitLines(body)) {}
    int Count() const override { return int(lines_.size()); }
    std::string Line(int index) const override { return std::string(At(index)); }
    std::string LinePrefix(int index, std::size_t bytes) const override
    {
        return std::string(At(index).substr(0, bytes));
    }

private:
    std::string_view At(int index) const
    {
        return index >= 0 && index < Count() ? lines_[size_t(index)] : std::string_view();
    }

    std::vector<std::string_view> lines_;
};

} // namespace

TDocument NamedDocument(std::string body, std::string url, TDocumentOrigin origin)
{
    TDocument document;
    const TBodyLines lines(body);
    document.Number = ExtractNumber(lines);
    document.Title = ExtractTitle(lines);
    document.Body = std::move(body);
    document.Url = std::move(url);
    document.Origin = origin;
    return document;
}

void TDocumentSession::Tell(TSessionChange change)
{
    for (const TListener& listener : listeners_) listener(change);
}

void TDocumentSession::NoteLeaving(bool keepEdits)
{
    if (place_ < 0) return;
    TPlace& place = places_[size_t(place_)];
    if (ReadingLine) place.Line = ReadingLine();
    if (!keepEdits || !EditedText) return;
    if (std::optional<std::string> edited = EditedText()) place.Document->Edited = std::move(edited);
}

void TDocumentSession::Show(TDocument document, std::string status, TShowHow how)
{
    auto shown = std::make_shared<TDocument>(std::move(document));
    if (how == TShowHow::ReplaceHere && place_ >= 0) {
        // The reader's edits give way to the text fetched again.
        NoteLeaving(false);
        // Every place in the document that was fetched again shows the new text.
        const std::shared_ptr<TDocument> old = places_[size_t(place_)].Document;
        for (TPlace& place : places_)
            if (place.Document == old) place.Document = shown;
        places_[size_t(place_)].Status = std::move(status);
    } else {
        NoteLeaving();
        places_.erase(places_.begin() + (place_ + 1), places_.end());
        places_.push_back({std::move(shown), 0, std::move(status)});
        if (places_.size() > kMaxPlaces) places_.erase(places_.begin());
        place_ = int(places_.size()) - 1;
    }
    Tell(TSessionChange::Document);
}

void TDocumentSession::JumpTo(int line)
{
    if (place_ < 0) return;
    NoteLeaving();
    TPlace next = places_[size_t(place_)];
    if (next.Line == line) return;
    next.Line = line;
    places_.erase(places_.begin() + (place_ + 1), places_.end());
    places_.push_back(std::move(next));
    if (places_.size() > kMaxPlaces) places_.erase(places_.begin());
    place_ = int(places_.size()) - 1;
    Tell(TSessionChange::Place);
}

void TDocumentSession::SetLine(int line)
{
    if (place_ < 0) return;
    places_[size_t(place_)].Line = line;
    Tell(TSessionChange::Place);
}

void TDocumentSession::Name(int number, std::string title, std::string entry, std::string boxText)
{
    if (place_ < 0) return;
    TDocument& shown = *places_[size_t(place_)].Document;
    shown.Number = number;
    shown.Title = std::move(title);
    shown.Entry = std::move(entry);
    shown.BoxText = std::move(boxText);
    Tell(TSessionChange::Names);
}

void TDocumentSession::SetStatus(std::string status)
{
    if (place_ < 0) return;
    places_[size_t(place_)].Status = std::move(status);
    Tell(TSessionChange::Status);
}

bool TDocumentSession::Back()
{
    if (!CanGoBack()) return false;
    Go(place_ - 1);
    return true;
}

bool TDocumentSession::Forward()
{
    if (!CanGoForward()) return false;
    Go(place_ + 1);
    return true;
}

void TDocumentSession::Go(int index)
{
    NoteLeaving();
    const bool sameDocument = places_[size_t(index)].Document == places_[size_t(place_)].Document;
    place_ = index;
    Tell(sameDocument ? TSessionChange::Place : TSessionChange::Document);
}

const TDocument* TDocumentSession::Shown() const
{
    return place_ < 0 ? nullptr : places_[size_t(place_)].Document.get();
}

std::shared_ptr<const std::string> TDocumentSession::ShownBody() const
{
    if (place_ < 0) return nullptr;
    const std::shared_ptr<TDocument>& shown = places_[size_t(place_)].Document;
    return {shown, &shown->Body};
}

int TDocumentSession::Line() const { return place_ < 0 ? 0 : places_[size_t(place_)].Line; }

const std::string& TDocumentSession::Status() const { return place_ < 0 ? kNoStatus : places_[size_t(place_)].Status; }

TDocumentHistory::TLoadResult TDocumentSession::LoadHistory(const TIniFile& ini)
{
    TDocumentHistory::TLoadResult loaded = history_.Load(ini);
    Tell(TSessionChange::History);
    return loaded;
}

std::string TDocumentSession::AddFetched(const std::string& typed, const std::string& title, const std::string& url,
                                         const std::function<int()>& histCount)
{
    std::string entry = history_.AddFetched(typed, title, url, histCount);
    Tell(TSessionChange::History);
    return entry;
}

void TDocumentSession::MoveToTop(int index, const std::string& typed)
{
    history_.MoveToTop(index, typed);
    Tell(TSessionChange::History);
}

void TDocumentSession::RemoveHistoryEntry(int index)
{
    history_.Remove(index);
    Tell(TSessionChange::History);
}

void TDocumentSession::AddOpenedFile(int number, const std::string& title, const std::string& path)
{
    history_.AddOpenedFile(number, title, path);
    Tell(TSessionChange::History);
}

TDocumentSession::TPlaces TDocumentSession::Exchange(TPlaces places)
{
    NoteLeaving();
    TPlaces out;
    out.places_ = std::exchange(places_, std::move(places.places_));
    out.place_ = std::exchange(place_, places.place_);
    Tell(TSessionChange::Document);
    return out;
}

const TDocument* TDocumentSession::TPlaces::Shown() const
{
    return place_ < 0 ? nullptr : places_[size_t(place_)].Document.get();
}

int TDocumentSession::TPlaces::Line() const { return place_ < 0 ? 0 : places_[size_t(place_)].Line; }
