// The references a line of an RFC makes: to other RFCs, to sections of this
// document or of another RFC, and to web addresses. Plain functions over one
// source line, so links can be found for the lines on screen only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class TReferenceKind {
    Rfc,        // another RFC: Rfc holds its number
    Section,    // a section or appendix of this document: Section holds its number
    RfcSection, // a section of another RFC: both Rfc and Section are set
    Url,        // an http or https address: the span itself
};

// One reference: the bytes [Offset, Offset + Length) of the line.
struct TReference {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    TReferenceKind Kind = TReferenceKind::Rfc;
    int Rfc = 0;
    // As a heading's number in the outline: "3.2.1", "B", "A.1"; no trailing period.
    std::string Section;

    bool operator==(const TReference&) const = default;
};

// The references of one line, left to right, not overlapping. Recognised:
//   - RFCs: "RFC 2616", "RFC2616", "RFC-2616", "RFC #733", "[RFC2616]" (the
//     span takes the brackets), "RFCs 2616 and 7230" (one span per number);
//   - sections here: "Section 3.2", "section 3.2.1", "Sections 3 and 4",
//     "Appendix B", "appendix A.1";
//   - sections elsewhere: "Section 4 of [RFC7230]", "Section 4 of RFC 7230",
//     "RFC 7230, Section 4", "[RFC7230], Section 4" (one span for the whole);
//   - "http://" and "https://" addresses up to a blank, a quote or an angle
//     bracket, without closing punctuation (".", ",", ")" and the like).
// A section cited from a document named only by a tag ("Section 4 of [HTTP]")
// is not linked: the tag does not say which RFC it is. Offsets count bytes.
// Example: FindReferences("see [RFC2616].") == {{4, 9, Rfc, 2616, ""}}.
std::vector<TReference> FindReferences(std::string_view line);
