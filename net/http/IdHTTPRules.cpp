#include "net/http/IdHTTPRules.h"

#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

namespace {

std::string Trimmed(const std::string& text) { return std::string(TrimBlanks(text)); }

} // namespace

const char* ProtocolVersionText(TIdHTTPProtocolVersion version) { return version == pv1_0 ? "1.0" : "1.1"; }

int32_t StatusCodeOf(const std::string& statusLine)
{
    std::string rest = statusLine;
    CutToken(rest, " ");
    rest = Trimmed(rest);
    int32_t code = -1;
    return TryStrToInt(CutToken(rest, " ", false), code) ? code : -1;
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

int64_t ChunkSizeOf(const std::string& line)
{
    // RFC 7230 section 4.1: chunk-size [ chunk-ext ] where an extension starts with ";" (optionally after
    // blanks). Anything else after the digits means the framing is lost, so the body cannot be trusted.
    const std::string_view text = TrimLeftBlanks(line);
    size_t i = 0;
    int64_t size = 0;
    int significant = 0;
    for (; i < text.size() && HexValue(text[i]) >= 0; ++i) {
        if (size != 0 || text[i] != '0') ++significant;
        if (significant > 15) throw EIdHTTPBadResponse("Chunk size too large");
        size = size * 16 + HexValue(text[i]);
    }
    const bool endsWell = i == text.size() || text[i] == ';' || IsBlank(text[i]);
    if (i == 0 || !endsWell) throw EIdHTTPBadResponse("Invalid chunk size line");
    return size;
}

void MergeRequestUri(TIdURI& current, const TIdURI& next)
{
    current.Path = ResolvePath(current.Path, next.Path, '/');
    current.Resource = next.Resource;
    current.Query = next.Query;
    if (!next.Host.empty()) current.Host = next.Host;
    current.Protocol = next.Protocol.empty() ? std::string("http") : next.Protocol;
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
