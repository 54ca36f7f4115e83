#pragma once

// A printer canvas that records what the layout code asks of it, for tests.
// Page size and text height are set by the test; a text is as wide as its
// byte count times charWidth unless the test gives its width explicitly.

#include "print/PrintLayout.h"

#include <map>
#include <ostream>
#include <string>
#include <vector>

struct TCanvasCall {
    enum TKind { ckBeginDoc, ckNewPage, ckTextOut, ckEndDoc };
    TKind kind;
    int x = 0;
    int y = 0;
    std::string text;

    bool operator==(const TCanvasCall& other) const = default;
};

TCanvasCall BeginDocCall();
TCanvasCall NewPageCall();
TCanvasCall TextOutCall(int x, int y, const std::string& text);
TCanvasCall EndDocCall();

std::ostream& operator<<(std::ostream& out, const TCanvasCall& call);

class TRecordingCanvas : public TPrinterCanvas {
public:
    int pageWidth = 1000;
    int pageHeight = 6000;
    int textHeight = 50;
    int charWidth = 10;
    std::map<std::string, int> widths; // overrides charWidth for these texts

    std::vector<TCanvasCall> calls;
    mutable std::vector<std::string> measured;      // arguments of TextWidth
    mutable std::vector<std::string> heightSamples; // arguments of TextHeight

    int PageWidth() const override { return pageWidth; }
    int PageHeight() const override { return pageHeight; }
    int64_t TextWidth(const std::string& text) const override;
    int TextHeight(const std::string& text) const override;
    void TextOut(int x, int y, const std::string& text) override;
    void BeginDoc() override;
    void NewPage() override;
    void EndDoc() override;
};
