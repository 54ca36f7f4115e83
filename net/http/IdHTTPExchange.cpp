// The exchange: the status line, the header block, the body and the decision what to do next.

#include <algorithm>

#include "net/http/IdHTTP.h"
#include "net/tcp/IdException.h"

namespace {

// Keeps the first `limit` bytes written to it and only counts the rest: error bodies are held up to a size,
// discarded bodies not at all. Pre-sizing allocates nothing, so a peer's announced length costs no memory.
class TBoundedStream : public TStream {
public:
    explicit TBoundedStream(int64_t limit) : limit_(limit) {}

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override
    {
        if (count <= 0) return 0;
        if (position_ < limit_) {
            kept_.SetPosition(position_);
            kept_.WriteBuffer(buffer, std::min(count, limit_ - position_));
        }
        position_ += count;
        size_ = std::max(size_, position_);
        return count;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                             : origin == TSeekOrigin::soCurrent ? position_
                                                                : size_;
        position_ = std::max<int64_t>(0, base + offset);
        return position_;
    }
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override
    {
        size_ = std::max<int64_t>(0, newSize);
        position_ = std::min(position_, size_);
        if (kept_.Size() > size_) kept_.SetSize(size_);
    }
    std::string Text() { return std::string(kept_.Memory(), static_cast<size_t>(kept_.Size())); }

private:
    int64_t limit_;
    TMemoryStream kept_;
    int64_t position_ = 0;
    int64_t size_ = 0;
};

// Puts the response's own body stream back on every path.
class TBodyStreamSwap {
public:
    TBodyStreamSwap(TIdHTTPResponse& response, TStream* replacement)
        : response_(response), saved_(response.BodyStream())
    {
        response_.SetBodyStream(replacement);
    }
    ~TBodyStreamSwap() { response_.SetBodyStream(saved_); }
    TBodyStreamSwap(const TBodyStreamSwap&) = delete;
    TBodyStreamSwap& operator=(const TBodyStreamSwap&) = delete;

private:
    TIdHTTPResponse& response_;
    TStream* saved_;
};

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
    if (bytes > TIdCustomHTTP::kMaxHeaderBytes) {
        throw EIdHTTPBadResponse("Response header block larger than 1048576 bytes");
    }
    if (lines > TIdCustomHTTP::kMaxHeaderLines) {
        throw EIdHTTPBadResponse("Response header block longer than 10000 lines");
    }
}

} // namespace

// ---- records ----------------------------------------------------------------------------------------------

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP& owner) : owner_(owner) {}

int32_t TIdHTTPResponse::ParseStatusCode() { return StatusCodeOf(statusLine_); }

bool TIdHTTPResponse::EvaluateKeepAlive()
{
    StatusVersionOf(statusLine_, statusVersion_);
    owner_.DetectDisconnect(false, false);
    keepConnection_ =
        owner_.IsConnected() && KeepAliveAllowed(owner_.ProtocolVersion(), Connection(), ProxyConnection());
    return keepConnection_;
}

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP&) {}

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP& client) : client_(client), request_(client), response_(client) {}

// ---- sending --------------------------------------------------------------------------------------------------

void TIdHTTPProtocol::SendRequestHead(const TIdURI* url)
{
    request_.LinesFromFields();
    client_.ProxyParams().LinesFromFields(request_.HeaderLines());
    if (url) client_.AddCookieHeader(*url, request_);
    responseComplete_ = false;

    // The head leaves in one send; a failure while composing it sends nothing.
    client_.StartWriteBuffering(-1);
    struct TEndBuffering {
        TIdCustomHTTP& client;
        bool sent = false;
        ~TEndBuffering()
        {
            if (sent) return;
            client.DiscardWriteBuffering();
            client.StopWriteBuffering();
        }
    } end{client_};
    const std::string requestLine = RequestLineOf(request_.Method(), request_.RequestUrl(), client_.ProtocolVersion());
    if (!requestLine.empty()) client_.WriteLine(requestLine);
    for (const std::string& line : request_.HeaderLines()) {
        if (!line.empty()) client_.WriteLine(line);
    }
    client_.WriteLine("");
    end.sent = true;
    client_.StopWriteBuffering();
}

// ---- reading the head -------------------------------------------------------------------------------------

std::string TIdCustomHTTP::ReadHeaderLine()
{
    // Without a line limit one line could grow without end; the header block's limit bounds it then.
    return ReadLine("\n", -1, MaxLineLength() > 0 ? -1 : kMaxHeaderBytes);
}

void TIdHTTPProtocol::ReadResponseHeaders()
{
    TIdHeaderList& lines = response_.HeaderLines();
    lines.Clear();
    // A close before the first header line propagates; later it only ends the block.
    std::string line = client_.ReadHeaderLine();
    int64_t bytes = static_cast<int64_t>(response_.StatusLine().size());
    try {
        while (!line.empty()) {
            bytes += static_cast<int64_t>(line.size()) + 2;
            CheckHeaderBlock(lines.Count() + 1, bytes);
            lines.Add(line);
            line = client_.ReadHeaderLine();
        }
    } catch (const EIdConnClosedGracefully&) {
        client_.CloseConnection();
    }
    response_.FieldsFromLines();
}

// ---- reading the body --------------------------------------------------------------------------------------

void TIdCustomHTTP::ReadResponseBody(TIdHTTPResponse& response)
{
    TStream* stream = response.BodyStream();
    if (!stream) return;
    if (response.ContentLength() > 0) {
        ReadBodyByLength(*stream, response.ContentLength());
    } else if (response.HeaderLines().ValueOf("Transfer-Encoding").find("chunked") != std::string::npos) {
        ReportStatus(hsStatusText, "Chunk Started");
        ReadChunkedBody(*stream);
    } else if (!response.ContentLengthGiven()) {
        ReadToStream(*stream, -1, true);
    }
}

void TIdCustomHTTP::ReadBodyByLength(TStream& stream, int64_t length)
{
    TWorkReport work(*this, length);
    const int64_t start = stream.Position();
    try {
        ReadToStream(stream, length, false);
    } catch (const EIdConnClosedGracefully&) {}
    const int64_t arrived = stream.Position() - start;
    if (arrived >= length) return;
    // The server closed early. The bytes of the piece the close cut short are still queued; they belong to the
    // body, and the caller learns that it is short.
    TIdManagedBuffer& queue = InputQueue();
    const int64_t late = std::min(queue.Size(), length - arrived);
    if (late > 0) {
        stream.WriteBuffer(queue.DataStart(), late);
        queue.Discard(late);
    }
    throw EIdConnClosedGracefully();
}

int64_t TIdCustomHTTP::ReadChunkSize()
{
    const std::string line = ReadHeaderLine();
    // A size line cut off by the close would read as a shorter size; a split one has lost its end.
    if (LineTimedOut()) throw EIdConnClosedGracefully();
    if (LineWasSplit()) throw EIdReadLnMaxLineLengthExceeded();
    return ChunkSizeOf(line);
}

void TIdCustomHTTP::ReadChunkedBody(TStream& stream)
{
    TWorkReport work(*this, 0); // one report for the whole body, not one per chunk
    for (int64_t size = ReadChunkSize(); size > 0; size = ReadChunkSize()) {
        ReadBodyByLength(stream, size);
        ReadHeaderLine(); // the line end after the chunk data
        if (LineTimedOut()) throw EIdConnClosedGracefully();
    }
    SkipTrailer();
}

void TIdCustomHTTP::SkipTrailer()
{
    // Trailer fields (RFC 7230 section 4.1.2) end with an empty line. All of it is read, so that on a kept
    // connection the next response starts at its status line.
    int32_t lines = 0;
    int64_t bytes = 0;
    try {
        for (std::string line = ReadHeaderLine(); !line.empty(); line = ReadHeaderLine()) {
            bytes += static_cast<int64_t>(line.size()) + 2;
            CheckHeaderBlock(++lines, bytes);
        }
    } catch (const EIdConnClosedGracefully&) {
        // The last chunk has come, so the body is whole; a server that closes here has nothing more to say.
    }
}

// ---- deciding -------------------------------------------------------------------------------------------------

template <typename TRead>
bool TIdHTTPProtocol::ReadQuietly(int32_t timeoutMs, TRead read)
{
    struct TRestore {
        TIdCustomHTTP& client;
        int32_t saved;
        ~TRestore() { client.SetReadTimeout(saved); }
    } restore{client_, client_.ReadTimeout()};
    client_.SetReadTimeout(timeoutMs);
    try {
        read();
    } catch (const std::exception&) {
        if (client_.IsConnected()) client_.CloseConnection();
        return false;
    }
    responseComplete_ = true;
    return true;
}

void TIdHTTPProtocol::DiscardBody()
{
    TBoundedStream sink(0);
    TBodyStreamSwap swap(response_, &sink);
    client_.ReadResponseBody(response_);
}

void TIdHTTPProtocol::RaiseProtocolError()
{
    // The status is known whatever happens to the body: a body that times out or breaks off still leaves
    // the protocol error, with as much of the body as came.
    TBoundedStream body(TIdCustomHTTP::kMaxErrorBody);
    {
        TBodyStreamSwap swap(response_, &body);
        ReadQuietly(2000, [this] { client_.ReadResponseBody(response_); });
    }
    throw EIdHTTPProtocolException(response_.ParseStatusCode(), response_.StatusLine(), body.Text());
}

TIdHTTPNextStep TIdHTTPProtocol::DecideRedirect()
{
    std::string location = response_.Location();
    TIdHTTPMethod method = request_.Method();
    TIdHTTPNextStep result = nsDone;
    if (client_.HandleRedirects() && client_.RedirectCount() < client_.RedirectMaximum()) {
        if (!client_.FireRedirect(location, method, client_.RedirectCount())) RaiseProtocolError();
        result = nsFollow;
        request_.SetRequestUrl(location);
        request_.SetMethod(method);
    } else {
        if (!client_.FireRedirect(location, method, client_.RedirectCount())) RaiseProtocolError();
        response_.SetLocation(location);
    }
    if (client_.IsConnected()) ReadQuietly(4000, [this] { DiscardBody(); });
    return result;
}

void TIdHTTPProtocol::ReadFinalBody()
{
    // 204 has no body, and neither has the answer to HEAD, whatever length it announces (RFC 7230 3.3.3).
    if (response_.StatusCode() != 204 && request_.Method() != hmHead) client_.ReadResponseBody(response_);
    responseComplete_ = true;
}

TIdHTTPNextStep TIdHTTPProtocol::DecideNextStep()
{
    const int32_t code = response_.StatusCode();
    if ((code / 100 == 3 && code != 304) || !response_.Location().empty()) return DecideRedirect();

    TIdHTTPNextStep result = nsUndecided;
    bool needAuth = false;
    const bool inProcessAuth = client_.HTTPOptions().count(hoInProcessAuth) > 0;
    if (code / 100 != 2) {
        result = nsFollow;
        if (code == 401) {
            if (client_.ServerAuthTries() >= client_.AuthRetries() ||
                !client_.AnswerServerChallenge(request_, response_)) {
                if (request_.Authentication()) request_.Authentication()->Restart();
                RaiseProtocolError();
            }
            needAuth = inProcessAuth;
        } else if (code == 407) {
            TIdProxyConnectionInfo& proxy = client_.ProxyParams();
            if (client_.ProxyAuthTries() >= client_.AuthRetries() ||
                !client_.AnswerProxyChallenge(request_, response_)) {
                if (proxy.Authentication()) proxy.Authentication()->Restart();
                RaiseProtocolError();
            }
            needAuth = inProcessAuth;
        } else {
            RaiseProtocolError();
        }
    }
    if (client_.IsConnected()) {
        if (needAuth) {
            ReadQuietly(4000, [this] { DiscardBody(); });
            return nsAuthRetry;
        }
        ReadFinalBody();
        result = nsDone;
    }
    return result;
}
