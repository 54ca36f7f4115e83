#include "net/http/IdHTTPResponseParser.h"

#include <algorithm>
#include <cstring>

#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

std::string Trimmed(std::string_view text) { return std::string(TrimBlanks(std::string(text))); }

bool IsDecimal(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The value of a header line when its field name is name (letter case ignored); false for other fields and
// for continuation lines.
bool FieldValue(const std::string& line, const char* name, std::string& value)
{
    const size_t length = std::strlen(name);
    if (line.size() <= length || line[length] != ':') return false;
    if (!SameText(line.substr(0, length), name)) return false;
    value = line.substr(length + 1);
    return true;
}

// Every comma-separated element of the named fields, trimmed, empty ones dropped (RFC 9110 section 5.6.1).
std::vector<std::string> ListElements(const std::vector<std::string>& lines, const char* name)
{
    std::vector<std::string> elements;
    std::string value;
    for (const std::string& line : lines) {
        if (!FieldValue(line, name, value)) continue;
        while (!value.empty()) {
            const std::string element = Trimmed(CutToken(value, ","));
            if (!element.empty()) elements.push_back(LowerCase(element));
        }
    }
    return elements;
}

[[noreturn]] void Fault(const std::string& what) { throw EIdHTTPBadResponse(what); }

} // namespace

int64_t ContentLengthOf(const std::string& value)
{
    const std::string digits = Trimmed(value);
    if (digits.empty() || digits.size() > 18 || !IsDecimal(digits)) return -1;
    return std::stoll(digits);
}

int64_t ChunkSizeOf(const std::string& line)
{
    // chunk-size [ chunk-ext ] where an extension starts with ";" (RFC 9112 section 7.1.1), optionally after
    // blanks. Anything else after the digits means the framing is lost, so the body cannot be trusted.
    const std::string_view text = TrimLeftBlanks(line);
    size_t i = 0;
    int64_t size = 0;
    int significant = 0;
    for (; i < text.size() && HexValue(text[i]) >= 0; ++i) {
        if (size != 0 || text[i] != '0') ++significant;
        if (significant > 15) Fault("Chunk size too large");
        size = size * 16 + HexValue(text[i]);
    }
    const bool endsWell = i == text.size() || text[i] == ';' || IsBlank(text[i]);
    if (i == 0 || !endsWell) Fault("Invalid chunk size line");
    return size;
}

TIdHTTPResponseParser::TIdHTTPResponseParser(TIdHTTPMethod method, const TIdHTTPParserLimits& limits)
    : method_(method), limits_(limits)
{}

void TIdHTTPResponseParser::Enter(TState next) { state_ = next; }

int64_t TIdHTTPResponseParser::BodyLeft() const
{
    switch (state_) {
    case TState::Length:
    case TState::ChunkData: return left_;
    case TState::UntilClose: return -1;
    default: return 0;
    }
}

void TIdHTTPResponseParser::SkipBody(int64_t n)
{
    left_ -= n;
    if (state_ == TState::Length && left_ == 0) Enter(TState::Done);
}

bool TIdHTTPResponseParser::TakeLine(const char* data, size_t size, size_t& used)
{
    const void* lf = std::memchr(data, '\n', size);
    const size_t take = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) + 1 : size;
    used = take;
    const bool inHead = state_ == TState::StatusLine || state_ == TState::HeaderLine || state_ == TState::Trailer;
    if (inHead) {
        headBytes_ += static_cast<int64_t>(take);
        if (headBytes_ > limits_.maxHeadBytes) {
            Fault("Response header block larger than " + std::to_string(limits_.maxHeadBytes) + " bytes");
        }
    }
    const size_t textBytes = lf ? take - 1 : take;
    if (line_.size() + textBytes > static_cast<size_t>(limits_.maxLineBytes) + 1) {
        throw EIdReadLnMaxLineLengthExceeded();
    }
    line_.append(data, textBytes);
    if (!lf) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > static_cast<size_t>(limits_.maxLineBytes)) throw EIdReadLnMaxLineLengthExceeded();
    return true;
}

TIdParsed TIdHTTPResponseParser::Feed(const char* data, size_t size, size_t& consumed)
{
    consumed = 0;
    piece_ = {};
    if (resetHead_) {
        resetHead_ = false;
        statusLine_.clear();
        headerLines_.clear();
        headBytes_ = 0;
    }
    while (consumed < size) {
        const char* at = data + consumed;
        const size_t available = size - consumed;
        size_t used = 0;
        sawByte_ = true;
        switch (state_) {
        case TState::StatusLine:
            if (TakeLine(at, available, used)) {
                statusLine_ = std::move(line_);
                line_.clear();
                statusCode_ = StatusCodeOf(statusLine_);
                Enter(TState::HeaderLine);
            }
            consumed += used;
            break;
        case TState::HeaderLine:
            if (TakeLine(at, available, used)) {
                consumed += used;
                if (line_.empty()) return EndOfHead();
                if (static_cast<int32_t>(headerLines_.size()) >= limits_.maxHeadLines) {
                    Fault("Response header block longer than " + std::to_string(limits_.maxHeadLines) + " lines");
                }
                headerLines_.push_back(std::move(line_));
                line_.clear();
            } else {
                consumed += used;
            }
            break;
        case TState::Length:
        case TState::ChunkData:
        case TState::UntilClose: {
            const size_t n = state_ == TState::UntilClose
                                 ? available
                                 : static_cast<size_t>(std::min<int64_t>(left_, static_cast<int64_t>(available)));
            piece_ = std::string_view(at, n);
            consumed += n;
            if (state_ == TState::UntilClose) {
                announced_ += static_cast<int64_t>(n);
            } else {
                left_ -= static_cast<int64_t>(n);
                if (left_ == 0) Enter(state_ == TState::Length ? TState::Done : TState::ChunkEnd);
            }
            return TIdParsed::Body;
        }
        case TState::ChunkSize:
            if (TakeLine(at, available, used)) {
                consumed += used;
                left_ = ChunkSizeOf(line_);
                line_.clear();
                announced_ += left_;
                Enter(left_ > 0 ? TState::ChunkData : TState::Trailer);
            } else {
                consumed += used;
            }
            break;
        case TState::ChunkEnd:
            // The chunk's data ends with its line end (RFC 9112 section 7.1); anything else there means the
            // announced size was not the size sent.
            if (line_.empty() && *at == '\r') {
                line_ = "\r";
                consumed += 1;
            } else if (*at == '\n') {
                line_.clear();
                consumed += 1;
                Enter(TState::ChunkSize);
            } else {
                Fault("Chunk data not followed by a line end");
            }
            break;
        case TState::Trailer:
            if (TakeLine(at, available, used)) {
                consumed += used;
                if (line_.empty()) {
                    Enter(TState::Done);
                    return TIdParsed::End;
                }
                if (static_cast<int32_t>(trailer_.size()) >= limits_.maxHeadLines) {
                    Fault("Response header block longer than " + std::to_string(limits_.maxHeadLines) + " lines");
                }
                trailer_.push_back(std::move(line_));
                line_.clear();
            } else {
                consumed += used;
            }
            break;
        case TState::Done: return TIdParsed::End;
        }
        if (state_ == TState::Done) return TIdParsed::End;
    }
    return state_ == TState::Done ? TIdParsed::End : TIdParsed::NeedMore;
}

TIdParsed TIdHTTPResponseParser::EndOfHead()
{
    line_.clear();
    // An interim response has no body (RFC 9110 section 15.2); one that announces a body has lost the framing
    // of everything after it.
    if (statusCode_ / 100 == 1 && statusCode_ != 101) {
        for (const std::string& line : headerLines_) {
            std::string value;
            const bool length = FieldValue(line, "Content-Length", value) && Trimmed(value) != "0";
            if (length || FieldValue(line, "Transfer-Encoding", value)) Fault("Interim response announces a body");
        }
        resetHead_ = true;
        Enter(TState::StatusLine);
        return TIdParsed::Interim;
    }
    DecideFraming();
    return TIdParsed::Head;
}

void TIdHTTPResponseParser::DecideFraming()
{
    // The one place the body's framing is decided (RFC 9112 section 6.3), in the order given there.
    framing_ = {};
    codings_.clear();
    headBytes_ = 0; // the trailer has a budget of its own
    const int32_t code = statusCode_;
    // A 2xx answer to CONNECT starts the tunnel: what follows is the tunnel's (RFC 9110 section 9.3.6).
    const bool tunnel = method_ == hmConnect && code / 100 == 2;
    if (method_ == hmHead || tunnel || code / 100 == 1 || code == 204 || code == 304) {
        Enter(TState::Done);
        return;
    }
    std::vector<std::string> transfer = ListElements(headerLines_, "Transfer-Encoding");
    // "identity" was never a coding that changes bytes; with a length beside it, the length frames the body.
    std::erase(transfer, std::string("identity"));
    std::vector<std::string> lengths;
    std::string value;
    for (const std::string& line : headerLines_) {
        if (!FieldValue(line, "Content-Length", value)) continue;
        if (ContentLengthOf(value) >= 0) {
            lengths.push_back(value);
            continue;
        }
        // "5, 5" is one length repeated (RFC 9110 section 8.6); anything else in a list is no length.
        std::string rest = value;
        while (!rest.empty()) {
            const std::string element = CutToken(rest, ",");
            if (ContentLengthOf(element) < 0) Fault("Invalid Content-Length: " + Trimmed(value));
            lengths.push_back(element);
        }
    }
    int64_t length = -1;
    for (const std::string& text : lengths) {
        const int64_t each = ContentLengthOf(text);
        if (length >= 0 && each != length) {
            Fault("Differing Content-Length values: " + std::to_string(length) + ", " + std::to_string(each));
        }
        length = each;
    }
    if (!transfer.empty()) {
        // A length beside a transfer coding is overridden by it; such a response may be an attempt to smuggle
        // a second one, so its connection carries nothing more.
        if (length >= 0) reusable_ = false;
        const bool chunked = transfer.back() == "chunked";
        if (chunked) transfer.pop_back();
        if (std::find(transfer.begin(), transfer.end(), "chunked") != transfer.end()) {
            Fault("Transfer coding chunked applied before another one");
        }
        codings_ = transfer;
        framing_.kind = chunked ? TIdBodyKind::Chunked : TIdBodyKind::UntilClose;
    } else if (length >= 0) {
        framing_ = {length == 0 ? TIdBodyKind::None : TIdBodyKind::Length, length};
    } else {
        framing_.kind = TIdBodyKind::UntilClose;
    }
    for (const std::string& coding : ListElements(headerLines_, "Content-Encoding")) {
        if (coding != "identity") codings_.push_back(coding);
    }
    switch (framing_.kind) {
    case TIdBodyKind::None: Enter(TState::Done); break;
    case TIdBodyKind::Length:
        left_ = framing_.length;
        announced_ = framing_.length;
        Enter(TState::Length);
        break;
    case TIdBodyKind::Chunked: Enter(TState::ChunkSize); break;
    case TIdBodyKind::UntilClose: Enter(TState::UntilClose); break;
    }
}

TIdParsed TIdHTTPResponseParser::Close()
{
    switch (state_) {
    case TState::StatusLine:
        if (!sawByte_) throw EIdConnClosedGracefully();
        throw EIdHTTPClosedInHeader();
    case TState::HeaderLine: throw EIdHTTPClosedInHeader();
    case TState::UntilClose:
    case TState::Trailer:
        // A server that closes inside the trailer has sent the last chunk: the body is whole.
        Enter(TState::Done);
        return TIdParsed::End;
    case TState::Done: return TIdParsed::End;
    default: throw EIdConnClosedGracefully();
    }
}
