// Reads arbitrary bytes as a document, as a fetched body would arrive: its
// outline, every line's references, the document's links and pages, and
// find-all of the input's first bytes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/DocumentFind.h"
#include "app/DocumentOutline.h"
#include "app/DocumentPages.h"
#include "app/DocumentReferences.h"
#include "fuzz/FuzzSupport.h"
#include "platform/TextUtil.h"

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> lines = SplitLines(text);

    int previousLine = -1;
    for (const THeading& heading : DocumentOutline(lines)) {
        Check(heading.Line > previousLine && heading.Line < int(lines.size()));
        Check(heading.Level >= 1 && heading.Level <= 9);
        Check(!heading.Title.empty() || !heading.Number.empty());
        previousLine = heading.Line;
    }

    for (std::string_view line : lines) {
        std::size_t end = 0;
        for (const TReference& ref : FindReferences(line)) {
            Check(ref.Offset >= end && ref.Length > 0 && ref.Offset + ref.Length <= line.size());
            const bool citation = ref.Kind == TReferenceKind::Citation;
            Check(citation ||
                  (ref.Rfc > 0) == (ref.Kind == TReferenceKind::Rfc || ref.Kind == TReferenceKind::RfcSection));
            Check(ref.Section.empty() ==
                  (ref.Kind == TReferenceKind::Rfc || ref.Kind == TReferenceKind::Url || citation));
            Check(ref.Tag.empty() != citation);
            end = ref.Offset + ref.Length;
        }
    }

    // The document's links: in line order, inside their lines, and a citation's entry is a line of the text.
    const TDocumentLayout layout = DocumentLayout(lines);
    int lastLine = -1;
    for (const TDocumentLink& link : DocumentLinks(lines, layout.Contents, 1)) {
        Check(link.Line >= lastLine && link.Line < int(lines.size()));
        Check(link.Reference.Offset + link.Reference.Length <= lines[std::size_t(link.Line)].size());
        Check(link.Reference.Kind != TReferenceKind::Citation ||
              (link.Reference.EntryLine >= 0 && link.Reference.EntryLine < int(lines.size())));
        lastLine = link.Line;
    }
    for (const TDocumentPage& page : DocumentPages(lines)) Check(page.FirstLine < int(lines.size()));

    const std::string_view needle = std::string_view(text).substr(0, 3);
    for (const TFindMatch& match : FindAll(lines, needle, false)) {
        const std::string_view found = lines[std::size_t(match.Line)].substr(match.Offset, match.Length);
        Check(found.size() == needle.size());
        for (std::size_t k = 0; k < found.size(); ++k) Check(Fold(found[k]) == Fold(needle[k]));
    }
    return 0;
}
