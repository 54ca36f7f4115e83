#pragma once

// TIdHeaderList: an HTTP header block as an ordered list of raw lines.
//
// A line is either a header line (name, separator, value) or a continuation
// line that begins with a space or a tab and belongs to the header line
// above it. Duplicates are allowed and kept in order; lookups by name find
// the first one. Values are bytes and pass through untouched: nothing is
// decoded or re-encoded. Indexes are 0-based, as in the string list.
// Not thread-safe; one owner at a time.

#include <string>

#include "platform/Classes.h"

class TIdHeaderList : public TStringList {
public:
    TIdHeaderList() = default;
    explicit TIdHeaderList(int foldWidth) : foldWidth_(foldWidth) {}

    // Put between name and value by SetValueOf. Its trailing blanks removed
    // (":") is what NameAt looks for.
    const std::string& Separator() const { return separator_; }
    void SetSeparator(const std::string& value) { separator_ = value; }
    // When false, NameAt upper-cases names. Lookups ignore case either way.
    bool NamesCaseSensitive() const { return namesCaseSensitive_; }
    void SetNamesCaseSensitive(bool value) { namesCaseSensitive_ = value; }
    // ValueAt joins continuation lines.
    bool UnfoldOnRead() const { return unfoldOnRead_; }
    void SetUnfoldOnRead(bool value) { unfoldOnRead_ = value; }
    // SetValueOf wraps long lines into continuation lines.
    bool FoldOnWrite() const { return foldOnWrite_; }
    void SetFoldOnWrite(bool value) { foldOnWrite_ = value; }
    // Column limit of FoldText, in bytes.
    int FoldWidth() const { return foldWidth_; }
    void SetFoldWidth(int value) { foldWidth_ = value; }

    // Replaces the lines with a copy of source's lines; the settings stay.
    void AssignLines(const TStringList& source);

    // The text before the first ":" of line index, untrimmed, upper-cased
    // unless NamesCaseSensitive; empty for a line without ":".
    // Example: "Content-Type : x" -> "CONTENT-TYPE ".
    std::string NameAt(int index) const;
    // The text after the name and its ":", with continuation lines joined by
    // single spaces when UnfoldOnRead, trimmed of blanks (codes 0..32).
    // Empty for an index outside 0..Count()-1.
    std::string ValueAt(int index) const;
    // The first line whose name equals name in any letter case, or -1.
    int IndexOfHeader(const std::string& name) const;
    // ValueAt of the first line so named; empty when absent.
    std::string ValueOf(const std::string& name) const;
    // A non-empty value replaces the first line so named at its place (with
    // the caller's spelling of the name) or is appended; an empty value
    // removes that line with its continuations.
    void SetValueOf(const std::string& name, const std::string& value);
    // Appends the value of every line so named, in list order, to
    // destination; nothing happens for a null destination.
    void CollectValues(const std::string& name, TStringList* destination) const;

    // Wraps text at FoldWidth: breaks go after a space, tab or comma outside
    // double quotes, and every piece after the first begins with one space.
    // Pieces have their trailing blanks removed. A CR LF already in the text
    // ends a piece. Example (width 10): "a: bbb ccc ddd" -> "a: bbb ccc", " ddd".
    TStringList FoldText(const std::string& text) const;
    // Folds text and puts its pieces at index, index + 1, ..., the first
    // replacing line index.
    void ReplaceFolded(const std::string& text, int index);
    // Deletes the continuation lines that follow line index.
    void DropContinuations(int index);

private:
    // 0-based position of the name separator in line, or npos.
    size_t SeparatorPos(const std::string& line) const;
    // NameAt(index) equals name in any letter case.
    bool NameMatches(int index, const std::string& name) const;

    std::string separator_ = ": ";
    bool namesCaseSensitive_ = false;
    bool unfoldOnRead_ = true;
    bool foldOnWrite_ = true;
    int foldWidth_ = 78;
};
