#include "print/PrintQt.h"

#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QPageSize>
#include <QPoint>
#include <QPrinter>
#include <QScreen>
#include <QString>
#include <QTextLayout>
#include <cmath>

namespace {

QString ToQString(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Names what the job was going to: the PDF file when printing to one,
// otherwise the printer, which a default printer may leave unnamed.
std::string TargetName(const QPrinter& printer)
{
    if (!printer.outputFileName().isEmpty()) return printer.outputFileName().toStdString();
    if (!printer.printerName().isEmpty()) return printer.printerName().toStdString();
    return "既定のプリンタ";
}

// The printer keeps a font's point size. A font sized in pixels instead would
// come out that many printer pixels tall, a few points at most on a fine
// printer, so it is given the point size it has on the screen.
QFont InPoints(const QFont& font)
{
    if (font.pointSizeF() > 0 || font.pixelSize() <= 0) return font;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal screenDpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    QFont inPoints(font);
    inPoints.setPointSizeF(font.pixelSize() * 72.0 / screenDpi);
    return inPoints;
}

} // namespace

TQtPrinterCanvas::TQtPrinterCanvas(QPrinter& printer) : printer_(printer), metrics_(font_, &printer) {}

TQtPrinterCanvas::~TQtPrinterCanvas()
{
    // Only reached active when a failure cut the job short; ending the painter
    // releases the device without reporting anything more.
    if (painter_.isActive()) painter_.end();
}

void TQtPrinterCanvas::SetFont(const QFont& font)
{
    font_ = InPoints(font);
    // Metrics against the printer device scale the point size to its
    // resolution, so they are in the same pixels the painter will draw in.
    metrics_ = QFontMetrics(font_, &printer_);
    ascent_ = metrics_.ascent();
    CheckMetrics();
    PrepareAsciiRun();
    if (painter_.isActive()) painter_.setFont(font_);
}

void TQtPrinterCanvas::PrepareAsciiRun()
{
    asciiAdvance_ = 0;
    QString sample;
    for (char16_t c = 32; c <= 126; ++c) sample += QChar(c);
    // Laid out on the printer, as the painter lays out every line it draws.
    QTextLayout layout(sample, font_, &printer_);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e9);
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    if (runs.size() != 1) return; // a character came from a fallback font
    const QList<quint32> glyphs = runs[0].glyphIndexes();
    const QList<QPointF> positions = runs[0].positions();
    if (glyphs.size() != qsizetype(asciiGlyphs_.size()) || positions.size() != glyphs.size()) return;
    const qreal advance = positions[1].x() - positions[0].x();
    if (advance <= 0) return;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        if (glyphs[i] == 0 && i > 0) return;                                                   // a missing glyph
        if (std::abs(positions[i].x() - positions[0].x() - qreal(i) * advance) > 1e-6) return; // not fixed pitch
        asciiGlyphs_[size_t(i)] = glyphs[i];
    }
    // Counting must give what the metrics measure, or the fit check would differ.
    if (metrics_.horizontalAdvance(sample) != qRound(qreal(glyphs.size()) * advance)) return;
    asciiFont_ = runs[0].rawFont();
    asciiAdvance_ = advance;
}

bool TQtPrinterCanvas::IsAsciiRun(const std::string& text) const
{
    if (asciiAdvance_ <= 0) return false;
    for (const char c : text)
        if (c < 32 || c > 126) return false;
    return true;
}

int TQtPrinterCanvas::PageWidth() const { return printer_.width(); }

int TQtPrinterCanvas::PageHeight() const { return printer_.height(); }

int TQtPrinterCanvas::TextWidth(const std::string& text) const
{
    if (IsAsciiRun(text)) return qRound(qreal(text.size()) * asciiAdvance_);
    return metrics_.horizontalAdvance(ToQString(text));
}

int TQtPrinterCanvas::TextHeight(const std::string& text) const
{
    // The cell of one line: ascent plus descent, whatever glyphs the text has.
    return metrics_.size(Qt::TextSingleLine, ToQString(text)).height();
}

void TQtPrinterCanvas::DrawOnto(QPainter* painter)
{
    target_ = painter;
    if (!target_) return;
    // In the printer's pixels, whatever the target device's resolution.
    QFont inPixels = font_;
    inPixels.setPixelSize(std::max(1, int(std::lround(font_.pointSizeF() * printer_.logicalDpiY() / 72.0))));
    target_->setFont(inPixels);
}

void TQtPrinterCanvas::TextOut(int x, int y, const std::string& text)
{
    QPainter& painter = target_ ? *target_ : painter_;
    if (!IsAsciiRun(text)) {
        painter.drawText(QPoint(x, y + ascent_), ToQString(text));
        return;
    }
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(qsizetype(text.size()));
    positions.reserve(qsizetype(text.size()));
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') continue;
        glyphs.append(asciiGlyphs_[size_t(text[i] - 32)]);
        positions.append(QPointF(qreal(i) * asciiAdvance_, 0));
    }
    if (glyphs.isEmpty()) return;
    QGlyphRun run;
    run.setRawFont(asciiFont_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(x, y + ascent_), run);
}

void TQtPrinterCanvas::BeginDoc()
{
    printer_.setDocName(QString());
    if (!painter_.begin(&printer_)) Fail("印刷を開始できません");
    painter_.setFont(font_);
    ascent_ = painter_.fontMetrics().ascent();
    CheckPrinterState("印刷を開始できません");
}

void TQtPrinterCanvas::NewPage()
{
    if (!printer_.newPage()) Fail("改ページできません");
    CheckPrinterState("改ページできません");
}

void TQtPrinterCanvas::EndDoc()
{
    if (!painter_.end()) Fail("印刷を完了できません");
    CheckPrinterState("印刷を完了できません");
}

void TQtPrinterCanvas::CheckMetrics() const
{
    // Past some thousands of points the font engine's metrics wrap around or
    // collapse to a fixed 32 pixels; a fit check on them passes and the pages
    // come out blank. A real cell spans about the em the font asks for, so
    // one clearly below it (a tenth is left for rounding) cannot be right.
    const double em = font_.pointSizeF() * printer_.logicalDpiY() / 72.0;
    const int cell = metrics_.size(Qt::TextSingleLine, ToQString(kHeightSample)).height();
    if (ascent_ <= 0 || cell <= 0 || cell < em * 0.9) Fail("フォントが大きすぎて印刷できません");
}

void TQtPrinterCanvas::Fail(const char* what) const
{
    throw EPrinterError(std::string(what) + ": " + TargetName(printer_));
}

void TQtPrinterCanvas::CheckPrinterState(const char* what) const
{
    if (printer_.printerState() == QPrinter::Error) Fail(what);
}

bool PrintPaneLines(QPrinter& printer, const QFont& font, const TLineSource& lines, const TAskYesNo& ask)
{
    TQtPrinterCanvas canvas(printer);
    canvas.SetFont(font);
    return PrintLines(lines, canvas, ask);
}

bool PrintLinesToPdf(const std::string& pdfPath, const QFont& font, const TLineSource& lines, const TAskYesNo& ask,
                     int resolution)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(ToQString(pdfPath));
    printer.setResolution(resolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    return PrintPaneLines(printer, font, lines, ask);
}
