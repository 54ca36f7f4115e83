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

void TDocumentCommands::Busy(bool network, const std::function<void()>& body)
{
    if (host_.Busy)
        host_.Busy(network, body);
    else
        body();
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
    auto [number, title] = host_.ShownNames
                               ? host_.ShownNames()
                               : std::pair<int, std::string>{session_.Shown()->Number, session_.Shown()->Title};
    if (filed > 0) number = filed;
    session_.Name(number, title,
                  again ? entry
                        : WithoutControlCharacters(naming.Titled ? naming.Prefix + " : " + title : naming.Prefix),
                  boxText);
    session_.SetStatus(ContainsText(url, bytes, host_.ShownLines ? host_.ShownLines() : 0) + note);
}

TCommandOutcome TDocumentCommands::FetchTyped(const std::string& asTyped)
{
    std::string typed = asTyped;
    if (library_ && session_.History().LookUp(typed) == -1) {
        if (const std::optional<std::vector<int>> members = SubseriesMembers(library_->Database, typed)) {
            if (members->size() != 1) {
                if (host_.ShowList) host_.ShowList(typed);
                return TCommandOutcome::Refused;
            }
            typed = std::to_string(members->front());
        }
    }
    const int index = session_.History().LookUp(typed);
    // One entry per document: "RFC 822", "0822" and " 822 " are all "822".
    const std::string number = index == -1 ? DocumentNumber(typed) : std::string();
    const std::string url = index != -1 ? session_.History().Urls()[index] : UrlForNumber(typed);
    if (url.empty()) return TCommandOutcome::Refused;
    // The password goes with the request only: it is neither shown nor stored.
    const std::string shownUrl = WithoutPassword(url);
    host_.Status("accessing... " + shownUrl);

    const bool local = IsLocalFileUrl(url);
    const TNaming naming = index == -1 ? TNaming{number, true, number} : TNaming{typed, false, typed};
    TCommandOutcome outcome = TCommandOutcome::Failed;
    try {
        Busy(!local, [&] {
            outcome = local ? LoadLocalUrl(url, TShowHow::NewPlace, naming)
                            : FetchNetwork(url, shownUrl, false, TShowHow::NewPlace, naming);
        });
    } catch (const std::exception& e) {
        host_.Status(kFailed + OneLine(ExceptionMessage(e)));
        throw;
    }
    if (outcome != TCommandOutcome::Shown) return outcome;
    if (index == -1) {
        // The count is read before the entry goes in, so a count that is
        // not a number leaves the history as it was.
        const int histCount = host_.HistCount();
        session_.AddFetched(number, session_.Shown()->Title, shownUrl, [histCount] { return histCount; });
    } else {
        session_.MoveToTop(index, typed);
    }
    return outcome;
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
                                                TShowHow how, const TNaming& naming)
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
            if (Offline()) {
                TellLibraryFault();
                return TCommandOutcome::Shown;
            }
            const std::string shownStatus = session_.Status();
            const TRevalidationResult checked = Revalidate(fetcher_, settings, library_->Cache, *cached, Now(), force);
            switch (checked.Outcome) {
            case TRevalidationOutcome::roFresh: break;
            case TRevalidationOutcome::roNotModified:
                session_.SetStatus(shownStatus.substr(0, shownStatus.size() - std::string(kFromLibrary).size()) +
                                   kConfirmed);
                break;
            case TRevalidationOutcome::roReplaced:
                ShowNamed(NamedDocument(checked.Document.Body, shownUrl, TDocumentOrigin::Network), naming,
                          TShowHow::ReplaceHere, "", filed);
                (void)library_->Cache.TrimToLimit(library_->SizeLimit, shownUrl);
                break;
            case TRevalidationOutcome::roGone:
                session_.SetStatus(shownStatus.substr(0, shownStatus.size() - std::string(kFromLibrary).size()) +
                                   kGone);
                break;
            case TRevalidationOutcome::roRejected:
                session_.SetStatus(shownStatus.substr(0, shownStatus.size() - std::string(kFromLibrary).size()) +
                                   kRejected + Trimmed(checked.Failure));
                break;
            case TRevalidationOutcome::roFailed:
                // A cancel is the user's choice, not a failure: the copy stays shown and the status line says so.
                if (fetcher_.CancelRequested()) {
                    session_.SetStatus(std::string(kCancelled) + ": " + shownUrl);
                    break;
                }
                session_.SetStatus(shownStatus.substr(0, shownStatus.size() - std::string(kFromLibrary).size()) +
                                   kUnreachable + Trimmed(checked.Failure));
                break;
            }
            TellLibraryFault();
            return TCommandOutcome::Shown;
        }
    }
    if (Offline()) {
        host_.Status(kOfflineMissing + shownUrl);
        return TCommandOutcome::Failed;
    }
    const TFetchResult fetched = fetcher_.Fetch(settings, {url});
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
    auto [number, title] = host_.ShownNames
                               ? host_.ShownNames()
                               : std::pair<int, std::string>{session_.Shown()->Number, session_.Shown()->Title};
    const std::string entry = WithoutControlCharacters(Format("%4.4d * %s", number, title));
    session_.Name(number, title, entry, entry);
    session_.SetStatus(ContainsText(session_.Shown()->Url, fileBytes, host_.ShownLines ? host_.ShownLines() : 0) +
                       EncodingNote(text.Encoding));
    session_.AddOpenedFile(number, title, path);
    return TCommandOutcome::Shown;
}

TCommandOutcome TDocumentCommands::ShowFileUrl(const std::string& url)
{
    const std::string shown = WithoutPassword(url);
    return LoadLocalUrl(url, TShowHow::NewPlace, {shown, false, shown});
}

TCommandOutcome TDocumentCommands::FetchAgain()
{
    const TDocument* shown = session_.Shown();
    if (!shown) return TCommandOutcome::Refused;
    const std::string url = shown->Url;
    if (shown->Origin == TDocumentOrigin::File) {
        host_.Status("accessing... " + url);
        return LoadLocalUrl(url, TShowHow::ReplaceHere, {});
    }
    if (Offline()) {
        host_.Status(kOfflineRefused);
        return TCommandOutcome::Refused;
    }
    TCommandOutcome outcome = TCommandOutcome::Failed;
    Busy(true, [&] {
        host_.Status("accessing... " + url);
        outcome = FetchNetwork(url, url, true, TShowHow::ReplaceHere, {});
    });
    if (fetcher_.CancelRequested()) {
        host_.Status(kCancelled);
        return TCommandOutcome::Cancelled;
    }
    return outcome;
}

TCommandOutcome TDocumentCommands::UpdateIndex()
{
    if (!library_) return TCommandOutcome::Refused;
    if (Offline()) {
        host_.Status(kOfflineRefused);
        return TCommandOutcome::Refused;
    }
    const std::string url = IndexUrlBeside(host_.UrlFormat());
    TCommandOutcome outcome = TCommandOutcome::Failed;
    Busy(true, [&] {
        host_.Status("索引を取得しています... " + url);
        const TIndexUpdateResult result = ::UpdateIndex(fetcher_, host_.Settings(), library_->Database, url);
        std::string status;
        switch (result.Outcome) {
        case TIndexUpdateOutcome::iuLoaded:
            status = Format("索引を更新しました: %d 件", result.Entries);
            outcome = TCommandOutcome::Shown;
            break;
        case TIndexUpdateOutcome::iuUnchanged:
            status = "索引は最新です";
            outcome = TCommandOutcome::Shown;
            break;
        case TIndexUpdateOutcome::iuFailed: status = "索引を更新できませんでした: " + Trimmed(result.Failure); break;
        }
        host_.Status(status);
        TellLibraryFault();
    });
    if (fetcher_.CancelRequested()) {
        host_.Status(kCancelled);
        return TCommandOutcome::Cancelled;
    }
    return outcome;
}
