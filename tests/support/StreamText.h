#pragma once

#include <string>

#include "platform/Classes.h"

namespace testsupport {

// The whole content of a stream, read from its start; the position ends at the end.
inline std::string StreamText(TStream& stream)
{
    std::string text(static_cast<size_t>(stream.Size()), '\0');
    stream.SetPosition(0);
    stream.ReadBuffer(text.data(), stream.Size());
    return text;
}

} // namespace testsupport
