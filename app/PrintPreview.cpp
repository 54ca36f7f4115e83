// The print preview's fit check and the pages it draws on demand.
#include "app/PrintPreview.h"

#include "print/PrintQt.h"

#include <QPainter>
#include <QPrinter>
#include <memory>
#include <vector>

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

TPreviewPages PreviewPages(QPrinter& printer, const QFont& font, const TLineSource& lines)
{
    auto canvas = std::make_shared<TQtPrinterCanvas>(printer);
    canvas->SetFont(font);
    const int pitch = LinePitch(canvas->PageHeight());
    // Page k holds lines [starts[k], starts[k + 1]); a page break on the first
    // line makes an empty first page, as printing does.
    std::vector<int> starts = PageStarts(lines);
    if (starts.back() > 0 && IsPageBreakLine(lines.Line(0))) starts.insert(starts.begin(), 0);
    const QRect paper = printer.paperRect(QPrinter::DevicePixel).toRect();
    const QPoint page = printer.pageRect(QPrinter::DevicePixel).toRect().topLeft() - paper.topLeft();

    TPreviewPages pages;
    pages.Count = int(starts.size()) - 1;
    pages.Paper = paper.size();
    pages.Draw = [canvas, starts = std::move(starts), pitch, page, &lines](QPainter& painter, int k) {
        painter.translate(page);
        canvas->DrawOnto(&painter);
        DrawPage(lines, *canvas, pitch, starts[size_t(k)], starts[size_t(k) + 1]);
        canvas->DrawOnto(nullptr);
    };
    return pages;
}
