#pragma once

#include <cstdint>

// Layout of the version record embedded in the executable as an ELF note.
// The note's descriptor holds the file version as two 32-bit words, most
// significant first: Major << 16 | Minor, then Release << 16 | Build.
namespace version_record {

inline constexpr const char* kSectionName = ".note.scrivlet.version";
// Owner name of the note, with its terminating NUL counted in namesz.
inline constexpr char kOwner[] = "Scrivlet";
inline constexpr uint32_t kNoteType = 1;
inline constexpr uint32_t kDescSize = 8;

struct Note {
    uint32_t nameSize;
    uint32_t descSize;
    uint32_t type;
    char owner[12]; // kOwner padded to a multiple of 4 bytes
    uint32_t mostSignificant;
    uint32_t leastSignificant;
};

} // namespace version_record
