#pragma once

#include <cstdint>
#include <string>

// TversionInfo: the four numbers of a program file's version, read from the
// version record the build embeds in the executable, and their text.
//
// The record is an ELF note (section ".note.scrivlet.version", owner
// "Scrivlet", type 1) whose descriptor holds two 32-bit words, most
// significant first: Major << 16 | Minor, then Release << 16 | Build
// (see VersionRecord.cpp). Files are read as 64-bit little-endian ELF; any
// other file, a file without the record and a damaged file all read as "no
// version": Valid false and four zeros. Nothing is raised.
//
// The version is read once, by the constructor. Holds no resources after
// that. Not tied to a thread.
class TversionInfo {
public:
    // hasOwner mirrors who owns the component: with an owner window the
    // program's own executable is read; without one FileName stays empty and
    // there is no version.
    explicit TversionInfo(bool hasOwner);
    // Guards against a file name silently choosing the bool constructor.
    TversionInfo(const char*) = delete;

    // The version of an arbitrary file.
    static TversionInfo FromFile(const std::string& fileName);

    // "-" without a version, else "Major.Minor.Release.Build" in unsigned
    // decimal, e.g. "1.1.0.15" or "65535.0.0.1".
    std::string GetVersionText() const;

    // Reads the version of the file named in FileName.
    void ReadVersion();
    // No version: four zeros and Valid false.
    void ClearVersion();

    std::string FileName;
    uint16_t Major = 0;
    uint16_t Minor = 0;
    uint16_t Release = 0;
    uint16_t Build = 0;
    bool Valid = false;

private:
    TversionInfo() = default;
};
