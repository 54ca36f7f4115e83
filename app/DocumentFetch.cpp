// The fetch command's plain decisions: the typed number, URL checks, redirects, history text.
#include "app/DocumentFetch.h"

#include <algorithm>
#include <cctype>

namespace {

char Lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// A full-width digit (U+FF10 to U+FF19) at the start of text: its value, or -1.
int FullWidthDigit(std::string_view text)
{
    if (text.size() < 3 || text[0] != '\xEF' || text[1] != '\xBC') return -1;
    const unsigned char last = static_cast<unsigned char>(text[2]);
    return last >= 0x90 && last <= 0x99 ? last - 0x90 : -1;
}

// The parts of "scheme://authority/rest"; Scheme empty when the text has no scheme.
struct TUrlParts {
    std::string_view Scheme;
    std::string_view Authority;
    std::string_view Rest;
};

TUrlParts SplitUrl(std::string_view url)
{
    TUrlParts parts;
    const std::size_t mark = url.find("://");
    if (mark == std::string_view::npos || mark == 0) {
        parts.Rest = url;
        return parts;
    }
    const std::string_view scheme = url.substr(0, mark);
    const bool wellFormed =
        std::isalpha(static_cast<unsigned char>(scheme[0])) && std::all_of(scheme.begin(), scheme.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    if (!wellFormed) {
        parts.Rest = url;
        return parts;
    }
    parts.Scheme = scheme;
    const std::string_view after = url.substr(mark + 3);
    const std::size_t end = std::min(after.find_first_of("/?#"), after.size());
    parts.Authority = after.substr(0, end);
    parts.Rest = after.substr(end);
    return parts;
}

std::string_view HostPort(std::string_view authority)
{
    const std::size_t at = authority.rfind('@');
    return at == std::string_view::npos ? authority : authority.substr(at + 1);
}

std::string_view HostOf(std::string_view hostPort)
{
    if (!hostPort.empty() && hostPort[0] == '[') {
        const std::size_t close = hostPort.find(']');
        return close == std::string_view::npos ? hostPort : hostPort.substr(0, close + 1);
    }
    return hostPort.substr(0, hostPort.find(':'));
}

} // namespace

std::string TypedNumber(std::string_view typed)
{
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < typed.size() && (typed[i] == ' ' || typed[i] == '\t')) ++i;
    };
    skipBlanks();
    if (typed.size() - i >= 3 && EqualNoCase(typed.substr(i, 3), "rfc")) {
        i += 3;
        skipBlanks();
    }
    std::string digits;
    while (i < typed.size()) {
        if (typed[i] >= '0' && typed[i] <= '9') {
            digits += typed[i++];
        } else if (const int value = FullWidthDigit(typed.substr(i)); value >= 0) {
            digits += char('0' + value);
            i += 3;
        } else {
            break;
        }
    }
    return digits;
}

std::string DocumentNumber(std::string_view typed)
{
    std::string digits = TypedNumber(typed);
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return digits.empty() ? digits : "0";
    return digits.substr(first);
}

TUrlProblem CheckUrlFormat(std::string_view format, std::size_t numberBytes)
{
    TUrlProblem problem = CheckUrl(format);
    if (problem != TUrlProblem::None) return problem;
    if (FormattedSizeBound(format, numberBytes) > kMaxUrlBytes) return TUrlProblem::TooLong;
    // A conversion other than "%s" is the formatter's to refuse; none at all would fetch one document for every number.
    bool conversion = false;
    for (std::size_t i = 0; i < format.size(); ++i)
        if (format[i] == '%') {
            if (i + 1 < format.size() && format[i + 1] != '%') conversion = true;
            ++i;
        }
    return conversion ? TUrlProblem::None : TUrlProblem::NoNumber;
}

TUrlProblem CheckUrl(std::string_view url)
{
    if (url.size() > kMaxUrlBytes) return TUrlProblem::TooLong;
    const TUrlParts parts = SplitUrl(url);
    if (parts.Scheme.empty()) return TUrlProblem::NoScheme;
    // Only the exact lower-case "file" loads from disk; any other spelling would go out as a request.
    if (parts.Scheme == "file") return TUrlProblem::None;
    if (!EqualNoCase(parts.Scheme, "http") && !EqualNoCase(parts.Scheme, "https")) return TUrlProblem::BadScheme;
    if (HostOf(HostPort(parts.Authority)).empty()) return TUrlProblem::NoHost;
    return TUrlProblem::None;
}

std::size_t FormattedSizeBound(std::string_view format, std::size_t argBytes)
{
    // Saturates instead of overflowing: any bound past the limit is refused anyway.
    constexpr std::size_t kCap = std::size_t{1} << 40;
    const auto number = [&](std::size_t& i) {
        std::size_t value = 0;
        while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i])))
            value = std::min(kCap, value * 10 + std::size_t(format[i++] - '0'));
        return value;
    };
    std::size_t total = 0;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            ++total;
            ++i;
            continue;
        }
        ++i;
        if (i < format.size() && format[i] == '%') {
            ++total;
            ++i;
            continue;
        }
        std::size_t width = number(i);
        if (i < format.size() && format[i] == ':') width = (++i, number(i)); // an argument index came first
        if (i < format.size() && format[i] == '-') width = (++i, number(i));
        std::size_t precision = 0;
        if (i < format.size() && format[i] == '.') precision = (++i, number(i));
        if (i < format.size()) ++i; // the conversion letter
        total = std::min(kCap, total + std::max({width, precision, argBytes}));
    }
    return total;
}

std::string WithoutPassword(std::string_view url)
{
    const TUrlParts parts = SplitUrl(url);
    const std::size_t at = parts.Authority.rfind('@');
    if (parts.Scheme.empty() || at == std::string_view::npos) return std::string(url);
    const std::string_view userInfo = parts.Authority.substr(0, at);
    const std::string_view user = userInfo.substr(0, userInfo.find(':'));
    if (user.size() == userInfo.size()) return std::string(url);
    std::string result(parts.Scheme);
    result += "://";
    if (!user.empty()) (result += user) += '@';
    result += parts.Authority.substr(at + 1);
    result += parts.Rest;
    return result;
}

TUrlAddress UrlAddress(std::string_view url)
{
    const TUrlParts parts = SplitUrl(url);
    const std::string_view hostPort = HostPort(parts.Authority);
    TUrlAddress address;
    address.Host = std::string(HostOf(hostPort));
    const std::string_view port = hostPort.substr(address.Host.size());
    if (port.size() > 1 && port[0] == ':') {
        int value = 0;
        for (char c : port.substr(1)) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || value > 99999) return address;
            value = value * 10 + (c - '0');
        }
        address.Port = value;
    } else if (EqualNoCase(parts.Scheme, "http")) {
        address.Port = 80;
    } else if (EqualNoCase(parts.Scheme, "https")) {
        address.Port = 443;
    }
    return address;
}

std::string TriedAddress(const TFetchRoute& route, bool socksAnswered)
{
    const auto hostPort = [](const std::string& host, int port) { return host + ":" + std::to_string(port); };
    const TUrlAddress document = UrlAddress(route.Url);
    const std::string beyond =
        route.ProxyHost.empty() ? hostPort(document.Host, document.Port) : hostPort(route.ProxyHost, route.ProxyPort);
    if (route.SocksHost.empty()) return beyond;
    const std::string hop = "SOCKS " + hostPort(route.SocksHost, route.SocksPort);
    return socksAnswered ? beyond + " (" + hop + ")" : hop;
}

bool RedirectAllowed(std::string_view url, std::string_view location)
{
    const TUrlParts from = SplitUrl(url);
    const TUrlParts to = SplitUrl(location);
    // A relative location stays on the same server and scheme; "//host/..." names another host.
    if (to.Scheme.empty()) return location.substr(0, 2) != "//";
    const bool toHttps = EqualNoCase(to.Scheme, "https");
    if (!toHttps && !EqualNoCase(to.Scheme, "http")) return false;
    if (EqualNoCase(from.Scheme, "https") && !toHttps) return false;
    if (EqualNoCase(HostOf(HostPort(from.Authority)), HostOf(HostPort(to.Authority)))) return true;
    return toHttps && from.Rest == to.Rest;
}

bool LooksLikeText(std::string_view bytes) { return bytes.substr(0, 8192).find('\0') == std::string_view::npos; }

std::string WithoutControlCharacters(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    return text;
}

bool HasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; });
}
