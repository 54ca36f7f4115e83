// From the number box's text to a document URL, and which links leave the program.
#include "app/DocumentUrl.h"

#include "app/DocumentFetch.h"

#include "platform/SysUtils.h"

std::string DigitPrefix(std::string_view text)
{
    std::size_t n = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
    return std::string(text.substr(0, n));
}

std::string DocumentUrl(const std::string& urlFormat, std::string_view typed)
{
    return Format(urlFormat, DocumentNumber(typed));
}

bool IsLocalFileUrl(std::string_view url)
{
    // Case matters: a "File..." format goes to the HTTP client.
    return url.substr(0, 4) == "file";
}

std::optional<std::string> BrowserUrl(std::string_view link)
{
    const size_t colon = link.find("://");
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view scheme = link.substr(0, colon);
    if (!SameText(scheme, "http") && !SameText(scheme, "https")) return std::nullopt;
    const std::string_view rest = link.substr(colon + 3);
    const size_t hostEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, hostEnd);
    const std::string_view host =
        authority.substr(authority.rfind('@') == std::string_view::npos ? 0 : authority.rfind('@') + 1);
    if (host.empty() || host[0] == ':') return std::nullopt;
    std::string url;
    for (const char c : link) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 32 || byte == 127) return std::nullopt;
        if (byte < 128) {
            url += c;
            continue;
        }
        static const char kHex[] = "0123456789ABCDEF";
        url += '%';
        url += kHex[byte >> 4];
        url += kHex[byte & 15];
    }
    return url;
}

int RfcLinkNumber(std::string_view link)
{
    if (!link.starts_with("rfc:")) return 0;
    const std::string_view digits = link.substr(4);
    if (digits.empty() || digits.size() > 5 || DigitPrefix(digits).size() != digits.size()) return 0;
    return std::stoi(std::string(digits));
}
