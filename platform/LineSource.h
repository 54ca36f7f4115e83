// Lines read by index, as a text pane shows them or a printer prints them.
#pragma once

#include <cstddef>
#include <string>

// The lines of a text read by index: wrapped pieces are lines of their own, a
// trailing empty line is not counted, and reading at or past Count() gives
// the empty text. Texts are UTF-8.
class TLineSource {
public:
    virtual ~TLineSource() = default;

    virtual int Count() const = 0;
    virtual std::string Line(int index) const = 0;
    // At most the first bytes of line index (possibly cutting a character):
    // for a look at how lines begin without copying a long line whole.
    virtual std::string LinePrefix(int index, std::size_t bytes) const { return Line(index).substr(0, bytes); }
};
