// Reads arbitrary header lines into a response record: nothing may raise,
// and the fields must agree with the lines. The entity part is then copied
// into a request, composed and read back.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "net/http/IdHTTPHeaderInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdResponseHeaderInfo response;
    response.HeaderLines().SetText(text);
    response.FieldsFromLines();

    const TIdHeaderList& lines = response.HeaderLines();
    Check(response.ContentLengthGiven() == (response.ContentLength() >= 0));
    Check(response.Location() == lines.ValueOf("Location"));
    Check(response.ContentType() == lines.ValueOf("Content-Type"));
    TStringList challenges;
    lines.CollectValues("WWW-Authenticate", &challenges);
    Check(challenges.Count() == response.WWWAuthenticate().Count());
    if (lines.ValueOf("Content-Range").empty()) {
        Check(response.ContentRangeStart() == 0 && response.ContentRangeEnd() == 0);
    }

    TIdRequestHeaderInfo request;
    request.Assign(response);
    request.LinesFromFields();
    TIdResponseHeaderInfo again;
    again.HeaderLines().AssignLines(request.HeaderLines());
    again.FieldsFromLines();
    Check(again.ContentLength() == response.ContentLength() || response.ContentLength() < 0);
    Check(Solid(again.ContentEncoding()) == Solid(response.ContentEncoding()));
    Check(Solid(again.ContentType()) == Solid(response.ContentType()));
    return 0;
}
