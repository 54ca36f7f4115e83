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
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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

// Far below where a piece's width could wrap an int, even in a huge font.
constexpr size_t kMeasuredPiece = 4096;

// The bytes of the piece of text starting at at: kMeasuredPiece at most,
// ending on a character boundary (whole UTF-8 sequences only).
size_t Utf8PieceLength(const std::string& text, size_t at)
{
    size_t end = std::min(text.size(), at + kMeasuredPiece);
    if (end == text.size()) return end - at;
    size_t back = end;
    while (back > at + 1 && (static_cast<unsigned char>(text[back]) & 0xC0) == 0x80) --back;
    return (back > at ? back : end) - at;
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

int64_t TQtPrinterCanvas::TextWidth(const std::string& text) const
{
    if (IsAsciiRun(text)) return std::llround(qreal(text.size()) * asciiAdvance_);
    // The toolkit measures in int, which a long enough line wraps past; a long
    // line is measured in pieces, each converted alone, and summed.
    int64_t width = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = Utf8PieceLength(text, at);
        width += metrics_.horizontalAdvance(QString::fromUtf8(text.data() + at, qsizetype(length)));
        at += length;
    }
    return width;
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
    // Only what can reach the sheet is drawn: the paper's edge cuts the rest
    // anyway, and a line of millions of characters would otherwise cost
    // memory and time in proportion to its length.
    const int64_t room = int64_t(printer_.paperRect(QPrinter::DevicePixel).width()) - x;
    if (room <= 0) return;
    if (!IsAsciiRun(text)) {
        size_t shown = 0;
        for (int64_t width = 0; shown < text.size() && width <= room;) {
            const size_t length = Utf8PieceLength(text, shown);
            width += metrics_.horizontalAdvance(QString::fromUtf8(text.data() + shown, qsizetype(length)));
            shown += length;
        }
        painter.drawText(QPoint(x, y + ascent_), QString::fromUtf8(text.data(), qsizetype(shown)));
        return;
    }
    const size_t shown = std::min(text.size(), size_t(qreal(room) / asciiAdvance_) + 2);
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(qsizetype(shown));
    positions.reserve(qsizetype(shown));
    for (size_t i = 0; i < shown; ++i) {
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

namespace {

// A file beside the PDF that becomes it only once it is whole, so a full
// disk or a failure midway never leaves a truncated PDF under the real name
// (nor destroys an older one). Removed again unless Commit succeeds.
class TPdfTarget {
public:
    explicit TPdfTarget(const std::string& pdfPath) : pdfPath_(pdfPath)
    {
        const std::filesystem::path path(pdfPath);
        const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
        std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) throw EPrinterError("印刷を開始できません: " + pdfPath + ": " + std::strerror(errno));
        // A temporary file is private; the PDF gets the mode any new file of the user gets.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
        tempPath_ = pattern;
    }
    ~TPdfTarget()
    {
        if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    }
    TPdfTarget(const TPdfTarget&) = delete;
    TPdfTarget& operator=(const TPdfTarget&) = delete;

    const std::string& TempPath() const { return tempPath_; }

    // The writer ends a PDF with its end-of-file marker; a file without it
    // was cut short. Synced before the rename, so the name never points at
    // a file the disk has not taken.
    void Commit()
    {
        const int fd = ::open(tempPath_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) Fail(errno);
        char tail[16] = {};
        const off_t size = ::lseek(fd, 0, SEEK_END);
        const off_t from = std::max<off_t>(0, size - off_t(sizeof tail));
        const ssize_t got = size > 0 ? ::pread(fd, tail, size_t(size - from), from) : 0;
        const bool whole = got > 0 && std::string_view(tail, size_t(got)).find("%%EOF") != std::string_view::npos;
        const int synced = ::fsync(fd);
        const int error = errno;
        ::close(fd);
        if (!whole) Fail(ENOSPC);
        if (synced != 0) Fail(error);
        if (::rename(tempPath_.c_str(), pdfPath_.c_str()) != 0) Fail(errno);
        tempPath_.clear();
    }

private:
    [[noreturn]] void Fail(int error) const
    {
        throw EPrinterError("印刷を完了できません: " + pdfPath_ + ": " + std::strerror(error));
    }

    std::string pdfPath_;
    std::string tempPath_;
};

} // namespace

bool PrintLinesToPdf(const std::string& pdfPath, const QFont& font, const TLineSource& lines, const TAskYesNo& ask,
                     int resolution)
{
    TPdfTarget target(pdfPath);
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(ToQString(target.TempPath()));
        printer.setResolution(resolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        try {
            if (!PrintPaneLines(printer, font, lines, ask)) return false;
        } catch (const EPrinterError& e) {
            // The user knows the file by its own name, not the hidden one.
            std::string message = e.what();
            if (const size_t at = message.find(target.TempPath()); at != std::string::npos)
                message.replace(at, target.TempPath().size(), pdfPath);
            throw EPrinterError(message);
        }
    }
    target.Commit();
    return true;
}
