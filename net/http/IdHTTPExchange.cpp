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

void CheckHeaderBlock(int32_t lines, int64_t bytes)
{
    if (bytes > TIdHTTPExchange::kMaxHeaderBytes) {
        throw EIdHTTPBadResponse("Response header block larger than 1048576 bytes");
    }
    if (lines > TIdHTTPExchange::kMaxHeaderLines) {
        throw EIdHTTPBadResponse("Response header block longer than 10000 lines");
    }
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

std::string TIdHTTPExchange::ReadLine()
{
    // Without a line limit one line could grow without end; the header block's limit bounds it then.
    return connection_.ReadLine("\n", -1, connection_.MaxLineLength() > 0 ? -1 : kMaxHeaderBytes);
}

bool TIdHTTPExchange::ReadHeaderBlock(TIdHeaderList& lines, int64_t statusBytes)
{
    lines.Clear();
    // A close before the first header line propagates; later it only ends the block. A line the close cut
    // short comes back empty, marked as timed out.
    std::string line = ReadLine();
    int64_t bytes = statusBytes;
    try {
        while (!line.empty()) {
            bytes += static_cast<int64_t>(line.size()) + 2;
            CheckHeaderBlock(lines.Count() + 1, bytes);
            lines.Add(line);
            line = ReadLine();
        }
    } catch (const EIdConnClosedGracefully&) {
        connection_.CloseConnection();
        return false;
    }
    return !connection_.LineTimedOut();
}

int64_t TIdHTTPExchange::ReadUpTo(TStream& stream, int64_t n)
{
    if (n <= 0) return 0;
    const int64_t start = stream.Position();
    try {
        connection_.ReadToStream(stream, n, false);
    } catch (const EIdConnClosedGracefully&) {}
    const int64_t arrived = stream.Position() - start;
    if (arrived >= n) return arrived;
    // The server closed early. The bytes of the piece the close cut short are still queued; they belong to the
    // body.
    TIdManagedBuffer& queue = connection_.InputQueue();
    const int64_t late = std::min(queue.Size(), n - arrived);
    if (late > 0) {
        stream.WriteBuffer(queue.DataStart(), late);
        queue.Discard(late);
    }
    return arrived + late;
}

void TIdHTTPExchange::ReadBody(const TIdBodyFraming& framing, TStream& stream, int64_t maxBytes)
{
    switch (framing.kind) {
    case TIdBodyKind::None: return;
    case TIdBodyKind::Length: {
        if (maxBytes > 0 && framing.length > maxBytes) throw EIdHTTPTooLarge(maxBytes);
        TWorkReport work(connection_, framing.length);
        if (ReadUpTo(stream, framing.length) < framing.length) throw EIdConnClosedGracefully();
        return;
    }
    case TIdBodyKind::Chunked:
        connection_.ReportStatus(hsStatusText, "Chunk Started");
        ReadChunked(stream, maxBytes);
        return;
    case TIdBodyKind::UntilClose:
        if (maxBytes <= 0) {
            connection_.ReadToStream(stream, -1, true);
            return;
        }
        // One byte past the limit tells a body that is too large; it does not reach the document.
        if (ReadUpTo(stream, maxBytes) == maxBytes) {
            TMemoryStream past;
            if (ReadUpTo(past, 1) > 0) throw EIdHTTPTooLarge(maxBytes);
        }
        return;
    }
}

int64_t TIdHTTPExchange::ReadChunkSize()
{
    const std::string line = ReadLine();
    // A size line cut off by the close would read as a shorter size; a split one has lost its end.
    if (connection_.LineTimedOut()) throw EIdConnClosedGracefully();
    if (connection_.LineWasSplit()) throw EIdReadLnMaxLineLengthExceeded();
    return ChunkSizeOf(line);
}

void TIdHTTPExchange::ReadChunked(TStream& stream, int64_t maxBytes)
{
    TWorkReport work(connection_, 0); // one report for the whole body, not one per chunk
    int64_t total = 0;
    for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
        total += size;
        if (maxBytes > 0 && total > maxBytes) throw EIdHTTPTooLarge(maxBytes);
        if (ReadUpTo(stream, size) < size) throw EIdConnClosedGracefully();
        ReadLine(); // the line end after the chunk data
        if (connection_.LineTimedOut()) throw EIdConnClosedGracefully();
    }
    // Trailer fields (RFC 9112 section 7.1.2) end with an empty line. All of it is read, so that on a kept
    // connection the next response starts at its status line. A server that closes here has sent the last
    // chunk, so the body is whole.
    int32_t lines = 0;
    int64_t bytes = 0;
    try {
        for (std::string line = ReadLine(); !line.empty(); line = ReadLine()) {
            bytes += static_cast<int64_t>(line.size()) + 2;
            CheckHeaderBlock(++lines, bytes);
        }
    } catch (const EIdConnClosedGracefully&) {}
}

bool TIdHTTPExchange::ReadSideBody(const TIdBodyFraming& framing, int64_t maxBytes, int32_t waitMs, std::string* kept)
{
    struct TRestore {
        TIdTCPConnection& connection;
        int32_t saved;
        ~TRestore() { connection.SetReadTimeout(saved); }
    } restore{connection_, connection_.ReadTimeout()};
    connection_.SetReadTimeout(waitMs);
    TMemoryStream body;
    bool complete = false;
    try {
        switch (framing.kind) {
        case TIdBodyKind::Length:
            complete = ReadUpTo(body, std::min(framing.length, maxBytes)) == framing.length;
            break;
        case TIdBodyKind::UntilClose: complete = ReadUpTo(body, maxBytes + 1) <= maxBytes; break;
        default: ReadBody(framing, body, maxBytes); complete = true;
        }
    } catch (const EIdException&) {
        // Only the network's own failures end a side body quietly; one raised by the application (from its
        // yield hook, say) and the call's own time limit go on.
        if (connection_.CallDeadline().Passed()) throw;
    }
    if (!complete && connection_.IsConnected()) connection_.CloseConnection();
    if (kept) kept->assign(body.Memory(), static_cast<size_t>(std::min(body.Size(), maxBytes)));
    return complete;
}
