// The commands that change what a session shows, and the status lines they leave.
#include "app/DocumentCommands.h"

#include "app/DocumentEncoding.h"

#include "app/DocumentFetch.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/FetchSettings.h"
#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "library/RfcHeader.h"
#include "platform/Classes.h"
#include "platform/SysUtils.h"

#include <cerrno>
#include <ctime>

namespace {

const char* const kFromLibrary = " [ライブラリ]";
const char* const kConfirmed = " [ライブラリ・最新を確認]";
const char* const kUnreachable = " [ライブラリ] サーバに接続できませんでした: ";
const char* const kGone = " [ライブラリ] サーバにはもうありません";
const char* const kRejected = " [ライブラリ] サーバの応答は保存しませんでした: ";
const char* const kUnreadableFile = "ファイルが読めませんでした";
const char* const kNoNumber = "RFCの番号を数字で入力してください。";
const char* const kFailed = "取得できませんでした: ";
const char* const kCancelled = "取得を中止しました";
const char* const kNotText = "テキストファイルではありません";
const char* const kOfflineMissing = "オフラインです: ライブラリにありません: ";
const char* const kOfflineRefused = "オフラインです: ネットワークには接続しません";

int64_t Now() { return int64_t(std::time(nullptr)); }

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The status line names an encoding the reader might not expect.
std::string EncodingNote(const std::string& encoding)
{
    return IsNotableEncoding(encoding) ? "  [" + encoding + "]" : std::string();
}

std::string ContainsText(const std::string& url, size_t bytes, int lines)
{
    return Format("%s: contains... %d chars/%d lines", url, int64_t(bytes), lines);
}

} // namespace

std::string UrlProblemMessage(TUrlProblem problem, const std::string& url)
{
    std::string why;
    switch (problem) {
    case TUrlProblem::None: return {};
    case TUrlProblem::NoScheme: why = "http://、https:// または file:/// で始めてください。"; break;
    case TUrlProblem::BadScheme: why = "使えるのは http、https、file だけです。"; break;
    case TUrlProblem::NoHost: why = "サーバ名がありません。"; break;
    case TUrlProblem::NoNumber: why = "番号の入る %s がありません。"; break;
    case TUrlProblem::TooLong: return Format("URLが長すぎます（%dバイトまで）。", int64_t(kMaxUrlBytes));
    }
    return "URLの形式が正しくありません: " + WithoutPassword(url) + "\r\n" + why;
}

TDocumentCommands::TDocumentCommands(TDocumentSession& session, TFetcher& fetcher, TLibraryStore* library,
                                     TCommandHost host)
    : session_(session), fetcher_(fetcher), library_(library), host_(std::move(host))
{}

TCommandOutcome TDocumentCommands::Reporting(const std::function<TCommandOutcome()>& ending)
{
    try {
        return ending();
    } catch (const std::exception& e) {
        host_.Status(kFailed + OneLine(ExceptionMessage(e)));
        throw;
    }
}

TCommandOutcome TDocumentCommands::Network(std::function<void(TFetcher&)> work, std::function<TCommandOutcome()> then,
                                           TCommandDone done)
{
    auto finish = [then = std::move(then), done = std::move(done)] {
        const TCommandOutcome outcome = then();
        if (done) done(outcome);
        return outcome;
    };
    if (!host_.RunNetwork) {
        work(fetcher_);
        return finish();
    }
    host_.RunNetwork(std::move(work), [finish = std::move(finish)] { (void)finish(); });
    return TCommandOutcome::Started;
}

void TDocumentCommands::TellLibraryFault()
{
    if (!library_) return;
    const std::string fault = library_->Database.TakeFaultMessage();
    if (fault.empty()) return;
    // The next command's status would overwrite it before anyone read it.
    if (host_.LibraryFault)
        host_.LibraryFault(fault);
    else
        session_.SetStatus(session_.Status() + " — " + fault);
}

std::pair<int, std::string> TDocumentCommands::ShownNames() const
{
    if (host_.ShownNames) return host_.ShownNames();
    return {session_.Shown()->Number, session_.Shown()->Title};
}

int TDocumentCommands::ShownLines() const { return host_.ShownLines ? host_.ShownLines() : 0; }

bool TLibraryStore::Keep(TCachedDocument document)
{
    if (Cache.Store(document)) {
        Pending.reset();
        (void)Cache.TrimToLimit(SizeLimit, document.Url);
        return true;
    }
    if (Database.Fault() == TLibraryFault::lfLocked) Pending = std::move(document);
    return false;
}

std::string TDocumentCommands::UrlForNumber(const std::string& typed)
{
    const std::string number = DocumentNumber(typed);
    if (number.empty()) {
        host_.Message(kNoNumber);
        return {};
    }
    const std::string format = host_.UrlFormat();
    // A format from the settings file was never checked by the dialog's OK.
    TUrlProblem problem = CheckUrlFormat(format, number.size());
    if (problem == TUrlProblem::None) {
        const std::string url = DocumentUrl(format, typed);
        problem = CheckUrl(url);
        if (problem == TUrlProblem::None) return url;
    }
    host_.Message(UrlProblemMessage(problem, format));
    return {};
}

void TDocumentCommands::ShowNamed(TDocument document, const TNaming& naming, TShowHow how, const std::string& note,
                                  int filed)
{
    const bool again = how == TShowHow::ReplaceHere && session_.Shown();
    // Fetched again: still the document the history names.
    const std::string entry = again ? session_.Shown()->Entry : std::string();
    const std::string boxText = again ? session_.Shown()->BoxText : naming.BoxText;
    const std::string url = document.Url;
    const size_t bytes = document.Body.size();
    session_.Show(std::move(document), "", how);
    auto [number, title] = ShownNames();
    if (filed > 0) number = filed;
    session_.Name(number, title,
                  again ? entry
                        : WithoutControlCharacters(naming.Titled ? naming.Prefix + " : " + title : naming.Prefix),
                  boxText);
    session_.SetStatus(ContainsText(url, bytes, ShownLines()) + note);
}

TCommandOutcome TDocumentCommands::FetchTyped(const std::string& asTyped, TCommandDone done)
{
    const auto ended = [&done](TCommandOutcome outcome) {
        if (done) done(outcome);
        return outcome;
    };
    std::string typed = asTyped;
    if (library_ && session_.History().LookUp(typed) == -1) {
        if (const std::optional<std::vector<int>> members = SubseriesMembers(library_->Database, typed)) {
            if (members->size() != 1) {
                if (host_.ShowList) host_.ShowList(typed);
                return ended(TCommandOutcome::Refused);
            }
            typed = std::to_string(members->front());
        }
    }
    const int index = session_.History().LookUp(typed);
    // One entry per document: "RFC 822", "0822" and " 822 " are all "822".
    const std::string number = index == -1 ? DocumentNumber(typed) : std::string();
    const std::string url = index != -1 ? session_.History().Urls()[index] : UrlForNumber(typed);
    if (url.empty()) return ended(TCommandOutcome::Refused);
    // The password goes with the request only: it is neither shown nor stored.
    const std::string shownUrl = WithoutPassword(url);
    host_.Status("accessing... " + shownUrl);

    const TNaming naming = index == -1 ? TNaming{number, true, number} : TNaming{typed, false, typed};
    // A shown document joins the history, whenever the network lets it show.
    TCommandDone file = [this, added = index == -1, number, typed, shownUrl,
                         done = std::move(done)](TCommandOutcome outcome) {
        if (outcome == TCommandOutcome::Shown && added) {
            // The count is read before the entry goes in, so a count that is
            // not a number leaves the history as it was.
            const int histCount = host_.HistCount();
            session_.AddFetched(number, session_.Shown()->Title, shownUrl, [histCount] { return histCount; });
        } else if (outcome == TCommandOutcome::Shown) {
            // Looked up again: a fetch in another tab may have moved the entry while the network was asked.
            const int at = session_.History().LookUp(typed);
            if (at != -1) session_.MoveToTop(at, typed);
        }
        if (done) done(outcome);
    };
    try {
        if (!IsLocalFileUrl(url))
            return FetchNetwork(url, shownUrl, false, TShowHow::NewPlace, naming, std::move(file));
        const TCommandOutcome outcome = LoadLocalUrl(url, TShowHow::NewPlace, naming);
        file(outcome);
        return outcome;
    } catch (const std::exception& e) {
        host_.Status(kFailed + OneLine(ExceptionMessage(e)));
        throw;
    }
}

TCommandOutcome TDocumentCommands::LoadLocalUrl(const std::string& url, TShowHow how, const TNaming& naming)
{
    // The first eight characters ("file:///") are dropped whatever they
    // are. The rest is the whole path: cutting it would open a different file.
    std::string bytes;
    TDecodedText text;
    if (ReadDocumentFile(LocalFilePath(url), bytes)) text = DecodeLocalText(bytes);
    std::string().swap(bytes); // the text alone is kept: a large file is not held twice while it is shown
    if (text.Encoding.empty() || !LooksLikeText(text.Utf8)) {
        host_.Message(kUnreadableFile);
        // Said in the status line too; the shown document and the print action stay.
        host_.Status(std::string(kUnreadableFile) + ": " + WithoutPassword(url));
        return TCommandOutcome::Failed;
    }
    ShowNamed(NamedDocument(std::move(text.Utf8), WithoutPassword(url), TDocumentOrigin::File), naming, how, "");
    // A file says only where it was read from, and in what encoding when that is not the usual one.
    session_.SetStatus("accessing... " + WithoutPassword(url) + EncodingNote(text.Encoding));
    return TCommandOutcome::Shown;
}

TCommandOutcome TDocumentCommands::FetchNetwork(const std::string& url, const std::string& shownUrl, bool force,
                                                TShowHow how, const TNaming& naming, TCommandDone done)
{
    const TFetchSettings settings = host_.Settings();
    // Filed under the number asked for; a document reached otherwise under the one its header names.
    const int asked = NumberFromUrl(host_.UrlFormat(), shownUrl);
    // A document the library holds is shown from there at once, then asked about (not while offline).
    if (library_) {
        if (std::optional<TCachedDocument> cached = library_->Cache.Find(shownUrl)) {
            const int filed = asked ? asked : HeaderRfcNumber(cached->Body);
            ShowNamed(NamedDocument(cached->Body, shownUrl, TDocumentOrigin::Library), naming, how, kFromLibrary,
                      filed);
            (void)library_->Cache.MarkRead(shownUrl, Now());
            return Revalidate(std::move(*cached), settings, force, filed, naming, std::move(done));
        }
    }
    if (Offline()) {
        host_.Status(kOfflineMissing + shownUrl);
        if (done) done(TCommandOutcome::Failed);
        return TCommandOutcome::Failed;
    }
    auto fetched = std::make_shared<TFetchResult>();
    return Network([fetched, settings, url](TFetcher& fetcher) { *fetched = fetcher.Fetch(settings, {url}); },
                   [=, this] {
                       return Reporting(
                           [&] { return ShowFetched(*fetched, settings, url, shownUrl, asked, how, naming); });
                   },
                   std::move(done));
}

TCommandOutcome TDocumentCommands::ShowFetched(const TFetchResult& fetched, const TFetchSettings& settings,
                                               const std::string& url, const std::string& shownUrl, int asked,
                                               TShowHow how, const TNaming& naming)
{
    if (fetched.Kind != TFetchKind::Done) {
        const TFetchMessage told = FetchFailureMessage(fetched, settings, url, shownUrl);
        host_.Status(told.Status);
        if (!told.Message.empty()) host_.Message(told.Message);
        return fetched.Kind == TFetchKind::Cancelled ? TCommandOutcome::Cancelled : TCommandOutcome::Failed;
    }
    TDocument document = NamedDocument(fetched.Body, shownUrl, TDocumentOrigin::Network);
    const int filed = asked ? asked : HeaderRfcNumber(fetched.Body);
    // An empty answer (204, or a server that sent nothing) is no document to keep.
    if (library_ && !fetched.Body.empty()) {
        TCachedDocument copy = DocumentFromResponse(fetched, shownUrl, Now());
        copy.Number = filed;
        copy.Title = document.Title;
        (void)library_->Keep(std::move(copy)); // not kept: the fault is told below
        (void)library_->Cache.MarkRead(shownUrl, Now());
    }
    ShowNamed(std::move(document), naming, how, "", filed);
    TellLibraryFault();
    return TCommandOutcome::Shown;
}

TCommandOutcome TDocumentCommands::Revalidate(TCachedDocument cached, const TFetchSettings& settings, bool force,
                                              int filed, const TNaming& naming, TCommandDone done)
{
    const std::optional<TRevalidationAsk> ask =
        Offline() ? std::nullopt : RevalidationAsk(settings, cached, Now(), force);
    if (!ask) {
        TellLibraryFault();
        if (done) done(TCommandOutcome::Shown);
        return TCommandOutcome::Shown;
    }
    // The status the copy was shown with, without its " [ライブラリ]", for what the server says.
    std::string shownStatus = session_.Status();
    shownStatus.resize(shownStatus.size() - std::min(shownStatus.size(), std::string(kFromLibrary).size()));
    auto fetched = std::make_shared<TFetchResult>();
    auto then = [=, this, cached = std::move(cached)] {
        return Reporting([&] {
            const TRevalidationResult checked = TakeRevalidationAnswer(library_->Cache, cached, *fetched, Now());
            TCommandOutcome outcome = TCommandOutcome::Shown;
            switch (checked.Outcome) {
            case TRevalidationOutcome::roFresh: break;
            case TRevalidationOutcome::roNotModified: session_.SetStatus(shownStatus + kConfirmed); break;
            case TRevalidationOutcome::roReplaced:
                ShowNamed(NamedDocument(checked.Document.Body, cached.Url, TDocumentOrigin::Network), naming,
                          TShowHow::ReplaceHere, "", filed);
                (void)library_->Cache.TrimToLimit(library_->SizeLimit, cached.Url);
                break;
            case TRevalidationOutcome::roGone: session_.SetStatus(shownStatus + kGone); break;
            case TRevalidationOutcome::roRejected:
                session_.SetStatus(shownStatus + kRejected + Trimmed(checked.Failure));
                break;
            case TRevalidationOutcome::roFailed:
                // A cancel is the user's choice, not a failure: the copy stays shown and the status line says so.
                if (fetched->Kind != TFetchKind::Cancelled) {
                    session_.SetStatus(shownStatus + kUnreachable + Trimmed(checked.Failure));
                } else if (force) {
                    host_.Status(kCancelled);
                    outcome = TCommandOutcome::Cancelled;
                } else {
                    session_.SetStatus(std::string(kCancelled) + ": " + cached.Url);
                }
                break;
            }
            TellLibraryFault();
            return outcome;
        });
    };
    return Network([fetched, ask = *ask](TFetcher& fetcher) { *fetched = fetcher.Fetch(ask.Settings, ask.Request); },
                   std::move(then), std::move(done));
}

TCommandOutcome TDocumentCommands::OpenFile(const std::string& path)
{
    std::string bytes;
    const bool read = ReadDocumentFile(path, bytes);
    const int readError = errno;
    if (!read && readError == 0) throw EFOpenError(OpenError(path, 0).what() + RefusedFileReason(path));
    if (!read) throw OpenError(path, readError);
    // Japanese and other local files are read in their own encoding; the document holds UTF-8.
    const std::size_t fileBytes = bytes.size();
    TDecodedText text = DecodeLocalText(bytes);
    std::string().swap(bytes); // the text alone is kept: a large file is not held twice while it is shown
    // A binary file would fill the history and the settings file with its bytes.
    if (!LooksLikeText(text.Utf8)) throw EFOpenError(OpenError(path, 0).what() + std::string(kNotText));
    session_.Show(NamedDocument(std::move(text.Utf8), "file:///" + path, TDocumentOrigin::File), "");
    auto [number, title] = ShownNames();
    const std::string entry = WithoutControlCharacters(Format("%4.4d * %s", number, title));
    session_.Name(number, title, entry, entry);
    session_.SetStatus(ContainsText(session_.Shown()->Url, fileBytes, ShownLines()) + EncodingNote(text.Encoding));
    session_.AddOpenedFile(number, title, path);
    return TCommandOutcome::Shown;
}

TCommandOutcome TDocumentCommands::ShowFileUrl(const std::string& url)
{
    const std::string shown = WithoutPassword(url);
    return LoadLocalUrl(url, TShowHow::NewPlace, {shown, false, shown});
}

TCommandOutcome TDocumentCommands::FetchAgain(TCommandDone done)
{
    const auto ended = [&done](TCommandOutcome outcome) {
        if (done) done(outcome);
        return outcome;
    };
    const TDocument* shown = session_.Shown();
    if (!shown) return ended(TCommandOutcome::Refused);
    const std::string url = shown->Url;
    if (shown->Origin == TDocumentOrigin::File) {
        host_.Status("accessing... " + url);
        return ended(LoadLocalUrl(url, TShowHow::ReplaceHere, {}));
    }
    if (Offline()) {
        host_.Status(kOfflineRefused);
        return ended(TCommandOutcome::Refused);
    }
    host_.Status("accessing... " + url);
    return FetchNetwork(url, url, true, TShowHow::ReplaceHere, {}, std::move(done));
}

TCommandOutcome TDocumentCommands::UpdateIndex(TCommandDone done)
{
    const auto ended = [&done](TCommandOutcome outcome) {
        if (done) done(outcome);
        return outcome;
    };
    if (!library_) return ended(TCommandOutcome::Refused);
    if (Offline()) {
        host_.Status(kOfflineRefused);
        return ended(TCommandOutcome::Refused);
    }
    const std::string url = IndexUrlBeside(host_.UrlFormat());
    host_.Status("索引を取得しています... " + url);
    const TFetchSettings settings = host_.Settings();
    std::optional<TFetchRequest> request = IndexRequest(library_->Database, url);
    auto parser = std::make_shared<TIndexParser>();
    auto fetched = std::make_shared<TFetchResult>();
    auto then = [this, parser, fetched, unusable = !request] {
        if (fetched->Kind == TFetchKind::Cancelled) {
            host_.Status(kCancelled);
            return TCommandOutcome::Cancelled;
        }
        const TIndexUpdateResult result =
            unusable ? IndexUnusable() : LoadFetchedIndex(library_->Database, *parser, *fetched);
        TCommandOutcome outcome = TCommandOutcome::Shown;
        switch (result.Outcome) {
        case TIndexUpdateOutcome::iuLoaded: host_.Status(Format("索引を更新しました: %d 件", result.Entries)); break;
        case TIndexUpdateOutcome::iuUnchanged: host_.Status("索引は最新です"); break;
        case TIndexUpdateOutcome::iuFailed:
            host_.Status("索引を更新できませんでした: " + Trimmed(result.Failure));
            outcome = TCommandOutcome::Failed;
            break;
        }
        TellLibraryFault();
        return outcome;
    };
    if (!request) {
        fetched->Kind = TFetchKind::NoServer;
        return ended(then());
    }
    request->Sink = parser.get();
    return Network([parser, fetched, settings,
                    request = *request](TFetcher& fetcher) { *fetched = fetcher.Fetch(settings, request); },
                   std::move(then), std::move(done));
}
