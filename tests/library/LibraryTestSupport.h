#pragma once

// What the library's tests share: where the sample index and the hostile ones are, and loading one.

#include <filesystem>
#include <string>

#include "library/IndexLoader.h"
#include "tests/support/TempDir.h"

inline std::string SampleIndexPath() { return std::string(SCRIVLET_RFC_DIR) + "/../rfc-index-sample.xml"; }
inline bool SharedFilesPresent() { return std::filesystem::exists(SampleIndexPath()); }
// The sample index cut off in the middle, as a broken download leaves it.
inline std::string CutSampleIndex()
{
    const std::string text = ReadTextFile(SampleIndexPath());
    return text.substr(0, text.size() / 2);
}
inline std::string LibraryDataPath(const std::string& name)
{
    return std::string(SCRIVLET_TEST_DATA_DIR) + "/library/" + name;
}

// Feeds the text to a parser in pieces of the given size (the network hands it over in arbitrary pieces).
inline bool ParseIndexText(const std::string& text, TIndexParser& parser, size_t piece = 7)
{
    for (size_t at = 0; at < text.size(); at += piece)
        parser.Write(text.data() + at, int64_t(std::min(piece, text.size() - at)));
    return parser.Finish();
}
inline bool ParseIndexFile(const std::string& path, TIndexParser& parser, size_t piece = 7)
{
    return ParseIndexText(ReadTextFile(path), parser, piece);
}

inline void LoadIndexFile(TLibraryDatabase& database, const std::string& path)
{
    TIndexParser parser;
    if (!ParseIndexFile(path, parser)) throw std::runtime_error(path + ": " + parser.Failure());
    ReplaceIndex(database, parser.Entries(), "", parser.Subseries());
}
