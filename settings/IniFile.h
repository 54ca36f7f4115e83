#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "settings/IniFileStore.h"

// Raised when the settings file cannot be written; the message is
// "<file name> に書き込めません".
class EIniFileException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// TIniFile: access to one INI settings file ("[section]" lines followed by
// "key=value" lines).
//
// The file is read once, when the object is created, into an in-memory copy of
// its lines; every read and write works on that copy. Writes reach the disk
// when the copy is flushed:
//  - UpdateFile() flushes and reports a refusal as EIniFileException. The
//    normal way to release an accessor that was written to is to call it.
//  - The destructor flushes pending writes too and swallows a failure. It only
//    matters when an exception unwinds past the accessor: whatever was written
//    before the failure then still reaches the file, and keys not written yet
//    keep the values they had in the file.
// A flush writes a temporary file beside the target, syncs it and renames it
// over the target, so a crash or kill at any instant leaves either the old file
// or the new one, whole; temporary files that killed saves left are removed by
// the next save. An accessor that only reads never touches the file.
//
// The file is indexed once when it is read (sections and keys in maps), so
// reading or saving a file of many keys takes time linear in its size.
//
// Section and key names compare case-insensitively (ASCII). Lines this class
// does not address (comments, unknown sections and keys, blank lines) and the
// order of all lines survive a rewrite; every line not written to keeps its
// bytes and its own line end (CR LF, CR or LF), and a rewritten line keeps its
// line end too. New lines end like the file's first line (LF in a new file).
// The text is kept as bytes (settings are UTF-8); a file that starts with a
// UTF-16 byte-order mark is read as UTF-16 and written back in it.
//
// A value is returned without the blanks (bytes 0 to 32) around it, and a
// value enclosed in a pair of double or single quotes loses that pair, so a
// hand-written "key = value" reads as "value". Values are written as they
// stand; only a value that would not survive that reading (blanks at either
// end, or enclosed in quotes) is written inside double quotes. A line break
// inside a value would split the file's line, so each CR and LF of a written
// value becomes a blank. Section and key names are the program's own and must
// not contain '=', ']' or line breaks.
//
// A file that exists but is no regular file, cannot be read or is larger than
// 64 MiB is unreadable: it reads as empty and is never overwritten.
//
// Not thread-safe; one accessor per file at a time.
class TIniFile {
public:
    // Longest value text a read returns, in characters (code points).
    static constexpr std::size_t kMaxValueLength = 2047;
    // Wherever a value must become Unicode text (a text field, a UTF-16
    // file), a byte that is not part of a valid UTF-8 sequence b becomes the
    // private-use code point kEscapedByteBase + b, and that code point becomes
    // the byte again on the way back, so no byte is lost.
    static constexpr char32_t kEscapedByteBase = 0x10FF00;

    // Reads fileName if it exists. A missing file is an empty file; a file that
    // exists but cannot be read is treated as empty too, and is then never
    // overwritten (a flush raises EIniFileException instead).
    explicit TIniFile(const std::string& fileName);
    // A copy in memory only, over text: nothing is read, and a flush writes
    // nowhere. Records what a run writes, to compare it with another record.
    struct TInMemory {};
    explicit TIniFile(TInMemory, std::string_view text = {});
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    // The value of section/key, or defaultValue when the section or key is
    // missing. A key present with an empty value gives the empty text. At most
    // kMaxValueLength characters come back.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& defaultValue) const;
    // Replaces the value of an existing key (the first one, keeping its
    // spelling), else appends the key to the section, else appends the section.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The value converted as an integer (decimal, or hexadecimal with "$",
    // "0x" or "0X"); a missing value or one that is no integer gives
    // defaultValue. Example: "0x1F90" reads as 8080.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const;
    // Writes the decimal text of value.
    void WriteInteger(const std::string& section, const std::string& key, int32_t value);

    // Read as an integer (same rules, default 1 or 0); any non-zero value is true.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // Writes "1" or "0".
    void WriteBool(const std::string& section, const std::string& key, bool value);

    // Removes every occurrence of the section: its header line and all lines
    // up to the next section header. A missing section is no error.
    void EraseSection(const std::string& section);

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    // Removes every line of the section (all its copies) that sets a key
    // for which erase(key) is true; comments and the other keys stay.
    void EraseKeys(const std::string& section, const std::function<bool(std::string_view key)>& erase);

    // Calls visit for each key of the file in file order, once per section
    // and key (the first line of each, as reads see it), with the section's
    // and key's spelling in the file and the whole value (not cut to
    // kMaxValueLength).
    void ForEachValue(const std::function<void(const std::string& section, const std::string& key,
                                               const std::string& value)>& visit) const;

    // From now on the flushes go to fileName, and the first one writes the
    // whole copy even when nothing else changes. Reading it started from
    // another file; that one is never written.
    void Retarget(const std::string& fileName);
    // A file holding a secret: written readable by its owner only (0600 for
    // a new file; an existing file's group and other permissions dropped).
    void SetPrivate() { private_ = true; }

    // Writes pending changes to the file; raises EIniFileException when the
    // platform refuses. Does nothing when nothing was written.
    void UpdateFile();

private:
    struct Line {
        std::string text; // without its line end
        std::string end;  // "\r\n", "\r", "\n", or empty for a last line without one
    };
    // A "[name]" line and the lines up to the next one; the lines before the
    // first header form a block without a header.
    struct Block {
        std::vector<Line> lines;
        bool erased = false;
    };
    struct Place {
        std::size_t block;
        std::size_t line;
    };
    // All copies of one section (same name up to case), in file order, and
    // the first line of each key among them.
    struct Section {
        std::vector<std::size_t> blocks;
        std::unordered_map<std::string, Place> keys;
    };

    void Index(std::string_view text);
    std::string Text() const;
    const Section* FindSection(const std::string& section) const;
    const Line* FindKey(const std::string& section, const std::string& key) const;
    void Flush();

    std::string fileName_;
    std::vector<Block> blocks_;
    std::unordered_map<std::string, Section> sections_; // by lower-case name
    ini_store::TEncoding encoding_;
    std::string newLine_ = "\n";
    bool unreadable_ = false;
    bool dirty_ = false;
    bool inMemory_ = false;
    bool private_ = false;
};
