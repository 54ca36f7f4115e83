#pragma once

// The printer canvas over a QPrinter, and the two entry points the window and
// the tools use: print a pane's lines on a chosen printer, or into a PDF file.

#include "print/PrintLayout.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QRawFont>

#include <array>
#include <stdexcept>
#include <string>

class QPrinter;

// A failure of the printing platform: the job cannot start, a page cannot be
// added, or the printer reports an error. The message names the printer (or
// the output file) so the general error report is useful on its own.
class EPrinterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// TPrinterCanvas on a QPrinter that the caller owns and has set up (printer
// or output file, page size, resolution). Device units are the printer's
// device pixels at its resolution; the page is the printer's paint rectangle,
// whose top-left corner is (0, 0) for TextOut. The font keeps its point size
// and is scaled to the printer's resolution. The painter is owned here and
// lives from BeginDoc to EndDoc (or to destruction, should a failure
// interrupt the job). GUI thread only.
class TQtPrinterCanvas : public TPrinterCanvas {
public:
    explicit TQtPrinterCanvas(QPrinter& printer);
    ~TQtPrinterCanvas() override;

    TQtPrinterCanvas(const TQtPrinterCanvas&) = delete;
    TQtPrinterCanvas& operator=(const TQtPrinterCanvas&) = delete;

    // A font sized in pixels is first given the point size it has on the
    // primary screen. Throws EPrinterError when the printer's metrics of the
    // font cannot be right (a font too large for the font engine).
    void SetFont(const QFont& font);

    // TextOut draws on painter (begun by its owner, its unit the printer's
    // device pixel) instead of on the printer, as a preview does; null goes
    // back to the printer. Measuring stays with the printer.
    void DrawOnto(QPainter* painter);

    int PageWidth() const override;
    int PageHeight() const override;
    int TextWidth(const std::string& text) const override;
    int TextHeight(const std::string& text) const override;
    void TextOut(int x, int y, const std::string& text) override;

    void BeginDoc() override;
    void NewPage() override;
    void EndDoc() override;

private:
    [[noreturn]] void Fail(const char* what) const;
    void CheckPrinterState(const char* what) const;
    void CheckMetrics() const;
    void PrepareAsciiRun();
    bool IsAsciiRun(const std::string& text) const;

    QPrinter& printer_;
    QFont font_;
    // Of font_ on the printer; kept because building metrics for a device
    // looks the font up again each time, and every line is measured.
    QFontMetrics metrics_;
    QPainter painter_;
    QPainter* target_ = nullptr;
    int ascent_ = 0; // device pixels from the cell's top to the baseline
    // A fixed-pitch font sets printable ASCII one glyph per character at one
    // advance, exactly as the toolkit's shaping does; such lines are measured
    // by counting and drawn from these glyphs, without shaping them again,
    // and their blanks need no glyph at all. asciiAdvance_ 0: no such font.
    QRawFont asciiFont_;
    std::array<quint32, 95> asciiGlyphs_{}; // for the characters 32 to 126
    qreal asciiAdvance_ = 0;
};

// Everything after the print dialog: puts the font on the printer, checks the
// fit, asks through ask when something does not fit, and prints. Returns
// whether the document was printed (false when the user said No). Throws
// EPrinterError when the printing platform fails.
bool PrintPaneLines(QPrinter& printer, const QFont& font, const TLineSource& lines, const TAskYesNo& ask);

// Prints lines into a PDF file at pdfPath (A4, the given resolution in dots
// per inch) as PrintPaneLines does on a printer. Needs a QGuiApplication.
bool PrintLinesToPdf(const std::string& pdfPath, const QFont& font, const TLineSource& lines, const TAskYesNo& ask,
                     int resolution = 1200);
