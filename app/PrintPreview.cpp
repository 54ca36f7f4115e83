#include "app/PrintPreview.h"

#include "print/PrintQt.h"

namespace {

// Measures on the real printer and drops everything drawn, so the check runs
// the print layout's own steps and nothing else.
class TMeasuringCanvas : public TPrinterCanvas {
public:
    explicit TMeasuringCanvas(const TPrinterCanvas& printer) : printer_(printer) {}
    int PageWidth() const override { return printer_.PageWidth(); }
    int PageHeight() const override { return printer_.PageHeight(); }
    int64_t TextWidth(const std::string& text) const override { return printer_.TextWidth(text); }
    int TextHeight(const std::string& text) const override { return printer_.TextHeight(text); }
    void TextOut(int, int, const std::string&) override {}
    void BeginDoc() override {}
    void NewPage() override {}
    void EndDoc() override {}

private:
    const TPrinterCanvas& printer_;
};

} // namespace

bool FitCheckPasses(QPrinter& printer, const QFont& font, const TLineSource& lines, const TAskYesNo& ask)
{
    TQtPrinterCanvas canvas(printer);
    canvas.SetFont(font);
    TMeasuringCanvas measuring(canvas);
    return PrintLines(lines, measuring, ask);
}
