#include "net/http/IdHTTPExchange.h"

#include <algorithm>

#include "net/tcp/IdException.h"

namespace {

class TWorkReport {
public:
    TWorkReport(TIdComponent& owner, int64_t count) : owner_(owner) { owner_.WorkStarted(wmRead, count); }
    ~TWorkReport() { owner_.WorkFinished(wmRead); }
    TWorkReport(const TWorkReport&) = delete;
    TWorkReport& operator=(const TWorkReport&) = delete;

private:
    TIdComponent& owner_;
};

std::string JoinedCodings(const std::vector<std::string>& codings)
{
    std::string joined;
    for (const std::string& coding : codings) joined += (joined.empty() ? "" : ", ") + coding;
    return joined;
}

} // namespace

void TIdHTTPExchange::SendHead(const std::string& requestLine, const TStringList& lines)
{
    connection_.StartWriteBuffering(-1);
    struct TEndBuffering {
        TIdTCPConnection& connection;
        bool sent = false;
        ~TEndBuffering()
        {
            if (sent) return;
            connection.DiscardWriteBuffering();
            connection.StopWriteBuffering();
        }
    } end{connection_};
    if (!requestLine.empty()) connection_.WriteLine(requestLine);
    for (const std::string& line : lines) {
        if (!line.empty()) connection_.WriteLine(line);
    }
    connection_.WriteLine("");
    end.sent = true;
    connection_.StopWriteBuffering();
}

void TIdHTTPExchange::Begin(TIdHTTPMethod method)
{
    // Without a line limit of the connection's own, the header block's limit bounds one line.
    const int32_t lineLimit = connection_.MaxLineLength() > 0 ? connection_.MaxLineLength() : kMaxHeaderBytes;
    parser_ = TIdHTTPResponseParser(method, {kMaxHeaderBytes, kMaxHeaderLines, lineLimit});
    pendingDiscard_ = 0;
}

TIdParsed TIdHTTPExchange::Step(const TIdDeadline* by)
{
    TIdManagedBuffer& queue = connection_.InputQueue();
    queue.Discard(pendingDiscard_);
    pendingDiscard_ = 0;
    for (;;) {
        if (queue.Size() > 0) {
            size_t used = 0;
            const TIdParsed what = parser_.Feed(queue.DataStart(), static_cast<size_t>(queue.Size()), used);
            if (what == TIdParsed::Body) {
                pendingDiscard_ = static_cast<int64_t>(used);
                return what;
            }
            queue.Discard(static_cast<int64_t>(used));
            if (what != TIdParsed::NeedMore) return what;
            continue;
        }
        if (parser_.Ended()) return TIdParsed::End;
        const int32_t added =
            by ? connection_.FillInputBufferBy(false, *by, true) : connection_.FillInputBuffer(false, -1, true);
        if (added <= 0) return parser_.Close();
    }
}

bool TIdHTTPExchange::ReadHead(std::string& statusLine, TStringList& lines)
{
    for (;;) {
        const TIdParsed what = Step(nullptr);
        if (what != TIdParsed::Interim && what != TIdParsed::Head && what != TIdParsed::End) continue;
        statusLine = parser_.StatusLine();
        lines.Clear();
        for (const std::string& line : parser_.HeaderLines()) lines.Add(line);
        return what == TIdParsed::Interim;
    }
}

void TIdHTTPExchange::ReadLengthInPlace(TStream& stream)
{
    const int64_t start = stream.Position();
    try {
        connection_.ReadToStream(stream, parser_.BodyLeft(), false);
    } catch (const EIdConnClosedGracefully&) {
        // The bytes of the piece the close cut short are still queued; the parser takes them next.
    }
    parser_.SkipBody(stream.Position() - start);
}

void TIdHTTPExchange::ReadBody(TStream& stream, int64_t maxBytes)
{
    const TIdBodyFraming framing = parser_.Framing();
    if (framing.kind == TIdBodyKind::None || parser_.Ended()) return;
    // Bytes in a coding shown as they came would pass for the document.
    if (!parser_.Codings().empty()) {
        throw EIdHTTPBadResponse("The document came in a coding this client does not decode: " +
                                 JoinedCodings(parser_.Codings()));
    }
    if (maxBytes > 0 && framing.kind == TIdBodyKind::Length && framing.length > maxBytes) {
        throw EIdHTTPTooLarge(maxBytes);
    }
    if (framing.kind == TIdBodyKind::Chunked) connection_.ReportStatus(hsStatusText, "Chunk Started");
    TWorkReport work(connection_, framing.kind == TIdBodyKind::Length ? framing.length : 0);
    int64_t written = 0;
    for (;;) {
        if (framing.kind == TIdBodyKind::Length && parser_.BodyLeft() > 0 && connection_.InputQueue().Size() == 0) {
            ReadLengthInPlace(stream);
            if (parser_.Ended()) return;
        }
        const TIdParsed what = Step(nullptr);
        if (what == TIdParsed::End) return;
        if (what != TIdParsed::Body) continue;
        std::string_view piece = parser_.Piece();
        if (maxBytes > 0 && parser_.BodyAnnounced() > maxBytes) {
            // A body that runs until the close shows as much as the limit allows; a chunk is refused whole.
            if (framing.kind == TIdBodyKind::UntilClose) {
                stream.WriteBuffer(piece.data(), maxBytes - written);
            }
            throw EIdHTTPTooLarge(maxBytes);
        }
        stream.WriteBuffer(piece.data(), static_cast<int64_t>(piece.size()));
        written += static_cast<int64_t>(piece.size());
        connection_.WorkProgress(wmRead, static_cast<int64_t>(piece.size()));
    }
}

bool TIdHTTPExchange::ReadSideBody(int64_t maxBytes, const TIdDeadline& by, std::string* kept)
{
    std::string body;
    bool complete = false;
    try {
        for (;;) {
            const TIdParsed what = Step(&by);
            if (what == TIdParsed::End) {
                complete = true;
                break;
            }
            if (what != TIdParsed::Body) continue;
            const std::string_view piece = parser_.Piece();
            const size_t room = static_cast<size_t>(maxBytes) - std::min(body.size(), static_cast<size_t>(maxBytes));
            body.append(piece.substr(0, room));
            if (static_cast<int64_t>(body.size()) >= maxBytes && !parser_.Ended()) break;
        }
    } catch (const EIdException&) {
        // Only the network's own failures end a side body quietly; one raised by the application (from its
        // yield hook, say) and the call's own limit or cancel go on.
        if (connection_.CallDeadline().Passed()) throw;
    }
    if (!complete && connection_.IsConnected()) connection_.CloseConnection();
    if (kept) *kept = std::move(body);
    return complete;
}
