// The references a line of an RFC makes: to other RFCs, to sections of this
// document or of another RFC, and to web addresses. Plain functions over one
// source line, so links can be found for the lines on screen only.
#pragma once

#include "app/DocumentOutline.h"

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class TReferenceKind {
    Rfc,        // another RFC: Rfc holds its number
    Section,    // a section or appendix of this document: Section holds its number
    RfcSection, // a section of another RFC: both Rfc and Section are set
    Url,        // an http or https address: the span itself
    // A bracketed citation, "[33]" or "[RFC2119]": Tag holds what the brackets
    // hold, Rfc the number a tag such as "RFC2119" names (else 0).
    // DocumentLinks points it at its entry in the references (EntryLine).
    Citation,
};

// One reference: the bytes [Offset, Offset + Length) of the line.
struct TReference {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    TReferenceKind Kind = TReferenceKind::Rfc;
    int Rfc = 0;
    // As a heading's number in the outline: "3.2.1", "B", "A.1"; no trailing period.
    std::string Section;
    std::string Tag;
    // The 0-based line a citation's entry starts on; -1 when not known.
    int EntryLine = -1;

    bool operator==(const TReference&) const = default;
};

// The references of one line, left to right, not overlapping. Recognised:
//   - RFCs: "RFC 2616", "RFC2616", "RFC-2616", "RFC #733", "RFCs 2616 and
//     7230" (one span per number), and the numbers of a header line
//     "Obsoletes: 2068, 2069" or "Updates: 1738" ("Obsoleted by:", "Updated by:");
//   - citations: "[RFC2616]", "[33]", "[HTTP]" (the span takes the brackets);
//   - sections here: "Section 3.2", "section 3.2.1", "Sections 3 and 4",
//     "Appendix B", "appendix A.1"; not a placeholder such as "Section X.Y";
//   - sections elsewhere: "Section 4 of [RFC7230]", "Section 4 of RFC 7230",
//     "RFC 7230, Section 4", "[RFC7230], Section 4", "RFC 822, section 5",
//     "RFC 740 Appendix C" (one span for the whole);
//   - "http://" and "https://" addresses up to a blank, a quote or an angle
//     bracket, without closing punctuation (".", ",", ")" and the like).
// A section cited from a document named only by a tag ("Section 4 of [HTTP]")
// is not linked: the tag does not say which RFC it is. Offsets count bytes.
// Example: FindReferences("see [RFC2616].") == {{4, 9, Citation, 2616, "", "RFC2616"}}.
[[nodiscard]] std::vector<TReference> FindReferences(std::string_view line);

// A reference and the 0-based line it stands on.
struct TDocumentLink {
    int Line = 0;
    TReference Reference;

    bool operator==(const TDocumentLink&) const = default;
};

// Every link of a document, by line and then offset: the references of each
// line, and each line of its own table of contents as a link to that section
// (the span from its first to its last non-blank character). A citation
// points at the last line of the document that starts with it and a blank
// (its entry in the references); without such an entry a citation of an RFC
// links to that RFC and any other is no link, and an entry's own label links
// to the RFC it names, if any. The running page header (the first line after
// a form feed) naming ownNumber, the document's own number, is no link.
[[nodiscard]] std::vector<TDocumentLink> DocumentLinks(std::span<const std::string_view> lines,
                                                       std::span<const TContentsEntry> contents, int ownNumber);
