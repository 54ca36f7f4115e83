// Embeds the program's file version. Linked as object code into the
// executable whose version it states; nothing refers to it by name, so it is
// marked used to survive optimisation.
#include "version/VersionRecord.h"

#if !defined(SCRIVLET_VERSION_MAJOR) || !defined(SCRIVLET_VERSION_MINOR) || !defined(SCRIVLET_VERSION_RELEASE) ||      \
    !defined(SCRIVLET_VERSION_BUILD)
#error "the four SCRIVLET_VERSION_* numbers must be defined by the build"
#endif

namespace version_record {
namespace {

constexpr uint32_t Word(unsigned high, unsigned low)
{
    return static_cast<uint32_t>((high & 0xFFFFu) << 16 | (low & 0xFFFFu));
}

static_assert(SCRIVLET_VERSION_MAJOR <= 0xFFFF && SCRIVLET_VERSION_MINOR <= 0xFFFF &&
                  SCRIVLET_VERSION_RELEASE <= 0xFFFF && SCRIVLET_VERSION_BUILD <= 0xFFFF,
              "each version number must fit in 16 bits");
static_assert(sizeof(Note) == 32, "the note must have no padding between its parts");
static_assert(sizeof kOwner == sizeof "Scrivlet" && sizeof kOwner <= sizeof(Note::owner));

[[gnu::used, gnu::section(".note.scrivlet.version"), gnu::aligned(4)]] const Note kRecord = {
    sizeof kOwner,
    kDescSize,
    kNoteType,
    "Scrivlet",
    Word(SCRIVLET_VERSION_MAJOR, SCRIVLET_VERSION_MINOR),
    Word(SCRIVLET_VERSION_RELEASE, SCRIVLET_VERSION_BUILD),
};

} // namespace
} // namespace version_record
