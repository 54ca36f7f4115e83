#include "net/http/IdHTTPRules.h"

#include <algorithm>
#include <cstring>

#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

std::string Trimmed(const std::string& text) { return std::string(TrimBlanks(text)); }

bool IsDecimal(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

} // namespace

TIdHTTPDeadlines::TIdHTTPDeadlines(int32_t readTimeoutMs, int32_t connectTimeoutMs, int32_t totalTimeoutMs,
                                   std::shared_ptr<const TIdCancel> cancel)
    : connectMs_(connectTimeoutMs != 0 ? connectTimeoutMs : readTimeoutMs),
      call_((totalTimeoutMs > 0 ? DeadlineAfter(totalTimeoutMs) : TIdDeadline()).WithCancel(std::move(cancel)))
{}

TIdDeadline TIdHTTPDeadlines::Connect() const
{
    return (connectMs_ > 0 ? DeadlineAfter(connectMs_) : TIdDeadline()).Earlier(call_);
}

TIdDeadline TIdHTTPDeadlines::SideBody(int32_t waitMs) const { return DeadlineAfter(waitMs).Earlier(call_); }

const char* ProtocolVersionText(TIdHTTPProtocolVersion version) { return version == pv1_0 ? "1.0" : "1.1"; }

int32_t StatusCodeOf(const std::string& statusLine)
{
    std::string rest = statusLine;
    CutToken(rest, " ");
    rest = Trimmed(rest);
    const std::string word = CutToken(rest, " ", false);
    if (word.size() != 3 || !IsDecimal(word)) return -1;
    return (word[0] - '0') * 100 + (word[1] - '0') * 10 + (word[2] - '0');
}

bool IsInterimStatus(int32_t code) { return code / 100 == 1 && code != 101; }

TIdHTTPAction DecideAfterResponse(const TIdHTTPResponseFacts& facts)
{
    const int32_t code = facts.code;
    // A Location on any status but 304 is taken as a redirect, as the client always has.
    if ((code / 100 == 3 && code != 304) || facts.hasLocation) {
        if (!facts.handleRedirects) return TIdHTTPAction::AskRedirect;
        return facts.passes < facts.redirectMaximum ? TIdHTTPAction::Redirect : TIdHTTPAction::TooManyRedirects;
    }
    if (code / 100 == 2) return TIdHTTPAction::Done;
    if ((code == 401 || code == 407) && facts.challengeTries < facts.authRetries) {
        return code == 401 ? TIdHTTPAction::AnswerServerChallenge : TIdHTTPAction::AnswerProxyChallenge;
    }
    return TIdHTTPAction::Fail;
}

std::string RedirectRefusal(const std::string& currentProtocol, const std::string& location)
{
    // A scheme is a letter, then letters, digits, "+", "-" or ".", then ":" (RFC 3986 section 3.1); anything
    // else before the first "/", "?" or "#" makes the location relative.
    const size_t colon = location.find(':');
    const size_t end = location.find_first_of("/?#");
    if (colon == std::string::npos || colon == 0 || (end != std::string::npos && end < colon)) return {};
    const std::string scheme = location.substr(0, colon);
    const bool isScheme = IsAsciiLetter(scheme[0]) && std::all_of(scheme.begin(), scheme.end(), [](char c) {
                              return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
                          });
    if (!isScheme) return {};
    if (!SameText(scheme, "http") && !SameText(scheme, "https")) {
        return "Redirect to a location that is neither http nor https refused: " + location;
    }
    if (SameText(currentProtocol, "https") && SameText(scheme, "http")) {
        return "Redirect from https to http refused: " + location;
    }
    return {};
}

std::string ResolveReference(const TIdURI& base, const std::string& reference)
{
    std::string ref = reference;
    ForwardSlashes(ref);
    ref = ref.substr(0, ref.find('#'));
    const size_t colon = ref.find(':');
    const size_t end = ref.find_first_of("/?");
    const bool hasScheme = colon != std::string::npos && colon > 0 && (end == std::string::npos || colon < end) &&
                           IsAsciiLetter(ref[0]) && std::all_of(ref.begin(), ref.begin() + colon, [](char c) {
                               return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
                           });
    TIdURI target;
    if (hasScheme) {
        // Only http and https URLs are followed; any other is judged as it stands.
        const std::string scheme = ref.substr(0, colon);
        if (!SameText(scheme, "http") && !SameText(scheme, "https")) return ref;
        if (ref.compare(colon, 3, "://") != 0) return ref;
        target.SetUrl(ref);
    } else if (ref.rfind("//", 0) == 0) {
        target.SetUrl(base.Protocol + ":" + ref);
    } else {
        target = base;
        target.Fragment.clear();
        if (!ref.empty() && ref[0] == '?') {
            target.Query = ref;
        } else if (!ref.empty()) {
            const TIdURI relative(ref);
            target.Path = ResolvePath(base.Path, relative.Path, '/');
            target.Resource = relative.Resource;
            target.Query = relative.Query;
        }
    }
    if (target.Path.empty()) target.Path = "/";
    return target.ComposeUrl(true, false);
}

bool HostIsClean(const std::string& host)
{
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

std::string EncodeRequestTarget(const std::string& target)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(target.size());
    for (const char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr) {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        } else {
            encoded += c;
        }
    }
    return encoded;
}

bool StatusVersionOf(const std::string& statusLine, TIdHTTPProtocolVersion& version)
{
    const std::string text = statusLine.size() > 5 ? statusLine.substr(5, 3) : std::string();
    if (SameText(text, "1.0")) {
        version = pv1_0;
        return true;
    }
    if (SameText(text, "1.1")) {
        version = pv1_1;
        return true;
    }
    return false;
}

bool KeepAliveAllowed(TIdHTTPProtocolVersion clientVersion, const std::string& connection,
                      const std::string& proxyConnection)
{
    const std::string a = Trimmed(connection);
    const std::string b = Trimmed(proxyConnection);
    if (clientVersion == pv1_1) return !SameText(a, "CLOSE") && !SameText(b, "CLOSE");
    return SameText(a, "KEEP-ALIVE") || SameText(b, "KEEP-ALIVE");
}

void MergeRequestUri(TIdURI& current, const TIdURI& next)
{
    current.Path = ResolvePath(current.Path, next.Path, '/');
    current.Resource = next.Resource;
    current.Query = next.Query;
    if (!next.Host.empty()) current.Host = next.Host;
    // A reference without a scheme keeps the current one (RFC 3986 section 5.2.2): a relative URL after an
    // https request is https.
    if (!next.Protocol.empty()) {
        current.Protocol = next.Protocol;
    } else if (current.Protocol.empty()) {
        current.Protocol = "http";
    }
    if (!next.Port.empty()) {
        current.Port = next.Port;
        return;
    }
    // A URL without a port keeps a non-standard port of the previous request; only the standard ports
    // follow the protocol.
    const int32_t port = StrToIntDef(current.Port, 0);
    if (port != 0 && port != 80 && port != 443) return;
    if (SameText(current.Protocol, "http")) {
        current.Port = "80";
    } else if (SameText(current.Protocol, "https")) {
        current.Port = "443";
    } else {
        throw EIdUnknownProtocol();
    }
}

std::string HostHeaderOf(const TIdURI& uri) { return uri.Port == "80" ? uri.Host : uri.Host + ":" + uri.Port; }

std::string TargetKeyOf(const TIdURI& uri)
{
    return LowerCase(uri.Protocol) + "://" + LowerCase(uri.Host) + ":" + uri.Port;
}

std::string RequestLineOf(TIdHTTPMethod method, const std::string& url, TIdHTTPProtocolVersion version)
{
    static const char* const kMethodNames[] = {"HEAD", "GET", "POST", "OPTIONS", "TRACE", "PUT", "", "CONNECT"};
    if (method == hmDelete) return std::string();
    return std::string(kMethodNames[method]) + " " + url + " HTTP/" + ProtocolVersionText(version);
}
