// Reads arbitrary bytes as a settings file, writes one value and saves.
// Whatever the file held, the written value must read back as written
// (line breaks become blanks) and a key of another section must keep its
// value across the save.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "fuzz/FuzzSupport.h"
#include "settings/IniFile.h"
#include "tests/support/TempDir.h"

namespace {

std::string TempPath()
{
    static const TTempDir folder;
    return folder.File("fuzz.ini");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The input is "<file text>\0<value>"; without a NUL the value is empty.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string file = input.substr(0, split);
    std::string value = split == std::string::npos ? std::string() : input.substr(split + 1);
    if (value.size() > 1500) value.resize(1500); // stays below the read limit
    for (char& c : value) {
        if (c == '\0') c = ' ';
    }

    const std::string path = TempPath();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);

    std::string otherBefore;
    {
        TIniFile ini(path);
        otherBefore = ini.ReadString("conf", "URLbase", "<none>");
        (void)ini.ReadInteger("window", "width", 640);
        (void)ini.ReadBool("conf", "UseProxy", false);
        (void)ini.ReadString("rfcs", "N01", "INVAL");
        ini.WriteString("fuzz", "Value", value);
        ini.UpdateFile();
    }
    std::string expected = value;
    for (char& c : expected) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    TIniFile again(path);
    Check(again.ReadString("fuzz", "Value", "<none>") == expected);
    Check(again.ReadString("conf", "URLbase", "<none>") == otherBefore);
    unlink(path.c_str());
    return 0;
}
