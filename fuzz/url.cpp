// Splits arbitrary text as a URL and composes it again. Composing may refuse
// a URL without protocol or host, but only with EIdURIException.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdURI uri;
    uri.SetUrl(text);

    // Fields are cut from the text, so together they never outgrow it (plus
    // the "/" an absolute path gains).
    const size_t total = uri.Protocol.size() + uri.Username.size() + uri.Password.size() + uri.Host.size() +
                         uri.Port.size() + uri.Path.size() + uri.Resource.size() + uri.Query.size() +
                         uri.Fragment.size();
    Check(total <= text.size() + 1);
    Check(uri.UriText.find('\\') == std::string::npos);
    Check(uri.Protocol.empty() || uri.Path.starts_with("/"));

    try {
        const std::string full = uri.ComposeUrl(true, true);
        const std::string plain = uri.RequestUri();
        Check(uri.UriText == full);
        Check(plain.size() <= full.size());
        // The request form splits back into the same protocol, path and
        // resource; the query too unless it holds a "#", which the second
        // split takes for the fragment.
        TIdURI again(plain);
        Check(again.Protocol == uri.Protocol);
        Check(again.Path == uri.Path);
        Check(again.Resource == uri.Resource);
        Check(uri.Query.find('#') != std::string::npos || again.Query == uri.Query);
    } catch (const EIdURIException&) {
        Check(uri.Protocol.empty() || uri.Host.empty());
    }
    return 0;
}
