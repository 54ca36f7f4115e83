#include "tests/print/RecordingCanvas.h"

TCanvasCall BeginDocCall() { return {TCanvasCall::ckBeginDoc, 0, 0, {}}; }

TCanvasCall NewPageCall() { return {TCanvasCall::ckNewPage, 0, 0, {}}; }

TCanvasCall TextOutCall(int x, int y, const std::string& text) { return {TCanvasCall::ckTextOut, x, y, text}; }

TCanvasCall EndDocCall() { return {TCanvasCall::ckEndDoc, 0, 0, {}}; }

std::ostream& operator<<(std::ostream& out, const TCanvasCall& call)
{
    switch (call.kind) {
    case TCanvasCall::ckBeginDoc: return out << "BeginDoc";
    case TCanvasCall::ckNewPage: return out << "NewPage";
    case TCanvasCall::ckTextOut: return out << "TextOut(" << call.x << ", " << call.y << ", \"" << call.text << "\")";
    case TCanvasCall::ckEndDoc: return out << "EndDoc";
    }
    return out << "?";
}

int64_t TRecordingCanvas::TextWidth(const std::string& text) const
{
    measured.push_back(text);
    const auto found = widths.find(text);
    if (found != widths.end()) return found->second;
    return static_cast<int64_t>(text.size()) * charWidth;
}

int TRecordingCanvas::TextHeight(const std::string& text) const
{
    heightSamples.push_back(text);
    return textHeight;
}

void TRecordingCanvas::TextOut(int x, int y, const std::string& text) { calls.push_back(TextOutCall(x, y, text)); }

void TRecordingCanvas::BeginDoc() { calls.push_back(BeginDocCall()); }

void TRecordingCanvas::NewPage() { calls.push_back(NewPageCall()); }

void TRecordingCanvas::EndDoc() { calls.push_back(EndDocCall()); }
