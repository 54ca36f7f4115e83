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
