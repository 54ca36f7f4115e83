// The reading aids around the pane and the menu "表示" that drives them.
#include "app/ReaderView.h"

#include "app/ContentsPanel.h"
#include "app/DocumentSession.h"
#include "app/DocumentText.h"
#include "app/FindBar.h"
#include "app/PaneLinks.h"
#include "app/TextPane.h"
#include "settings/IniFile.h"

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

const char* const kSection = "reader";
constexpr int kZoomSteps[] = {50, 67, 80, 90, 100, 110, 125, 150, 175, 200, 250, 300};
constexpr int kMinContents = 80;
constexpr int kMinPane = 150;
constexpr int kGap = 4;
// Edits are followed once typing pauses this long.
constexpr int kRescanDelayMs = 150;

// Fitting the width makes the font no smaller than this: below it the pane scrolls sideways.
constexpr qreal kMinFitPoints = 7;
constexpr int kMinFitPixels = 9;
// A document's own width, as OrdinaryLineWidth finds it, within these bounds.
constexpr int kMinColumns = 20;
constexpr int kMaxColumns = 250;
constexpr int kUsualColumns = 72;

QFont Zoomed(QFont font, int percent)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * percent / 100.0);
    else if (font.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * percent / 100.0))));
    return font;
}

// font made smaller, no further than the floor, until columns of it take at most available pixels.
QFont Fitted(QFont font, int columns, qreal available)
{
    for (int step = 0; step < 8; ++step) {
        const qreal need = columns * TTextPane::ColumnWidth(font);
        if (need <= available || available <= 0) break;
        const qreal scale = available / need * 0.995;
        if (font.pointSizeF() > 0) {
            if (font.pointSizeF() <= kMinFitPoints) break;
            font.setPointSizeF(std::max(kMinFitPoints, font.pointSizeF() * scale));
        } else {
            if (font.pixelSize() <= kMinFitPixels) break;
            font.setPixelSize(std::max(kMinFitPixels, std::min(font.pixelSize() - 1, int(font.pixelSize() * scale))));
        }
    }
    return font;
}

} // namespace

TReaderView::TReaderView(QMainWindow& window, TTextPane& pane, TDocumentSession& session, TReaderHooks hooks)
    : QObject(&window), window_(window), pane_(pane), session_(session), hooks_(std::move(hooks)), font_(pane.font())
{
    Area = new QSplitter(Qt::Horizontal, pane_.parentWidget());
    Area->setChildrenCollapsible(false);
    Area->setHandleWidth(kGap);
    Contents = new TContentsPanel(Area);
    Contents->setMinimumWidth(kMinContents);
    auto* paneColumn = new QWidget(Area);
    paneColumn->setMinimumWidth(kMinPane);
    auto* column = new QVBoxLayout(paneColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(kGap);
    column->addWidget(&pane_, 1);
    Find = new TFindBar(
        pane_, [this]() -> const TUtf8Lines& { return Lines(); }, paneColumn);
    column->addWidget(Find);
    Area->addWidget(Contents);
    Area->addWidget(paneColumn);
    // A wider or narrower window changes the pane, never the panel the user sized.
    Area->setStretchFactor(0, 0);
    Area->setStretchFactor(1, 1);
    connect(Area, &QSplitter::splitterMoved, this, [this] { contentsWidth_ = Contents->width(); });
    Links = new TPaneLinks(pane_);

    auto add = [this](const QString& caption, QList<QKeySequence> keys, auto handler) {
        QAction* action = Menu->addAction(caption);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, [this, handler] { hooks_.Guarded(handler); });
        return action;
    };
    Menu = window_.menuBar()->addMenu(QStringLiteral("表示(&V)"));
    FindAction =
        add(QStringLiteral("検索(&F)"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)}, [this] { ShowFind(true); });
    FindNextAction = add(QStringLiteral("次を検索(&N)"), {QKeySequence(Qt::Key_F3)}, [this] {
        if (Find->isHidden()) return ShowFind(true);
        Find->Next();
    });
    FindPreviousAction = add(QStringLiteral("前を検索(&P)"), {QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] {
        if (Find->isHidden()) return ShowFind(true);
        Find->Previous();
    });
    CloseFindAction = add(QStringLiteral("検索を閉じる"), {QKeySequence(Qt::Key_Escape)}, [this] { ShowFind(false); });
    Menu->addSeparator();
    ContentsAction =
        add(QStringLiteral("目次(&C)"), {QKeySequence(Qt::Key_F9)}, [this] { ShowContents(Contents->isHidden()); });
    ContentsAction->setCheckable(true);
    Menu->addSeparator();
    BackAction = add(QStringLiteral("戻る(&B)"), {QKeySequence(Qt::ALT | Qt::Key_Left)}, [this] { Back(); });
    ForwardAction = add(QStringLiteral("進む(&G)"), {QKeySequence(Qt::ALT | Qt::Key_Right)}, [this] { Forward(); });
    GoToPageAction = add(QStringLiteral("ページへ移動(&J)..."), {QKeySequence(Qt::CTRL | Qt::Key_G)}, [this] {
        bool ok = false;
        const int page = QInputDialog::getInt(&window_, QStringLiteral("ページへ移動"), QStringLiteral("ページ:"),
                                              std::max(1, PageBeingRead()), 1, 99999, 1, &ok);
        if (ok) GoToPage(page);
    });
    Menu->addSeparator();
    FitWidthAction = add(QStringLiteral("幅に合わせる(&W)"), {}, [this] { SetFitWidth(FitWidthAction->isChecked()); });
    FitWidthAction->setCheckable(true);
    FitWidthAction->setChecked(fitWidth_);
    WordWrapAction = add(QStringLiteral("折り返し(&L)"), {}, [this] { SetWordWrap(WordWrapAction->isChecked()); });
    WordWrapAction->setCheckable(true);
    WordWrapAction->setChecked(wordWrap_);
    ZoomInAction =
        add(QStringLiteral("拡大(&I)"), {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
            [this] { ZoomIn(); });
    ZoomOutAction = add(QStringLiteral("縮小(&O)"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { ZoomOut(); });
    ZoomResetAction = add(QStringLiteral("元の大きさ(&R)"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] {
        SetZoom(100);
        hooks_.Status(QStringLiteral("表示倍率 100%"));
    });

    connect(Find, &TFindBar::marksChanged, this, &TReaderView::ShowMarks);
    connect(Find, &TFindBar::closeRequested, this, [this] { ShowFind(false); });
    connect(Contents, &TContentsPanel::headingChosen, this, [this](int line) { JumpTo(line); });
    connect(Links, &TPaneLinks::followed, this, [this](const TPaneLink& link, bool newTab) {
        hooks_.Guarded([this, &link, newTab] { Follow(link, newTab); });
    });
    connect(pane_.verticalScrollBar(), &QScrollBar::valueChanged, this, &TReaderView::ShowReading);
    connect(pane_.verticalScrollBar(), &QScrollBar::valueChanged, this, &TReaderView::ShowPage);
    pageLabel_ = new QLabel(window_.statusBar());
    window_.statusBar()->addPermanentWidget(pageLabel_);
    rescan_.setSingleShot(true);
    rescan_.setInterval(kRescanDelayMs);
    connect(&rescan_, &QTimer::timeout, this, &TReaderView::Rescan);
    connect(&pane_, &TTextPane::textChanged, &rescan_, qOverload<>(&QTimer::start));
    // The mouse's back and forward buttons: the window sees the presses the
    // widgets in it leave alone, the list of the contents panel takes all its own.
    paneViewport_ = pane_.viewport();
    paneViewport_->installEventFilter(this);
    // The font that fits the width follows every size the layout gives the pane.
    pane_.installEventFilter(this);
    Contents->Tree->viewport()->installEventFilter(this);
    window_.installEventFilter(this);
    // The window deletes the pane before this object: the viewport's last
    // events, while the pane is being taken apart, are no longer watched.
    connect(&pane_, &QObject::destroyed, this, [this] {
        pane_.removeEventFilter(this);
        paneViewport_->removeEventFilter(this);
        paneViewport_ = nullptr;
    });
    session_.Subscribe([this](TSessionChange change) {
        // A document just shown is read at once: its outline, links and marks belong to it.
        if (change == TSessionChange::Document) DocumentShown();
        UpdateActions();
    });
    UpdateActions();
}

TReaderView::~TReaderView() = default;

void TReaderView::SetFitWidth(bool on)
{
    fitWidth_ = on;
    FitWidthAction->setChecked(on);
    Fit();
}

void TReaderView::SetWordWrap(bool on)
{
    wordWrap_ = on;
    WordWrapAction->setChecked(on);
    Fit();
}

// The pane's font and wrapping for the zoom, the options and the pane's width.
void TReaderView::Fit()
{
    pane_.SetWrapColumns(wordWrap_ ? 0 : columns_);
    QFont font = Zoomed(font_, zoom_);
    if (fitWidth_) font = Fitted(font, columns_, pane_.AvailableTextWidth());
    if (font != pane_.font()) pane_.setFont(font);
}

// ---------------------------------------------------------------- zoom

void TReaderView::SetDocumentFont(const QFont& font)
{
    font_ = font;
    Fit();
}

void TReaderView::SetZoom(int percent)
{
    zoom_ = std::clamp(percent, kZoomSteps[0], std::end(kZoomSteps)[-1]);
    Fit();
}

void TReaderView::ZoomIn()
{
    const int* next = std::upper_bound(std::begin(kZoomSteps), std::end(kZoomSteps), zoom_);
    SetZoom(next == std::end(kZoomSteps) ? zoom_ : *next);
    hooks_.Status(QStringLiteral("表示倍率 %1%").arg(zoom_));
}

void TReaderView::ZoomOut()
{
    const int* below = std::lower_bound(std::begin(kZoomSteps), std::end(kZoomSteps), zoom_);
    SetZoom(below == std::begin(kZoomSteps) ? zoom_ : below[-1]);
    hooks_.Status(QStringLiteral("表示倍率 %1%").arg(zoom_));
}

// ---------------------------------------------------------------- settings

void TReaderView::Load(const TIniFile& ini)
{
    SetZoom(ini.ReadInteger(kSection, "Zoom", 100));
    contentsWidth_ = std::max(kMinContents, int(ini.ReadInteger(kSection, "ContentsWidth", contentsWidth_)));
    ShowContents(ini.ReadBool(kSection, "Contents", false));
    wordWrap_ = ini.ReadBool(kSection, "WordWrap", false);
    WordWrapAction->setChecked(wordWrap_);
    SetFitWidth(ini.ReadBool(kSection, "FitWidth", true));
}

void TReaderView::Save(TIniFile& ini) const
{
    ini.WriteInteger(kSection, "Zoom", zoom_);
    ini.WriteInteger(kSection, "ContentsWidth", contentsWidth_);
    ini.WriteBool(kSection, "Contents", !Contents->isHidden());
    ini.WriteBool(kSection, "FitWidth", fitWidth_);
    ini.WriteBool(kSection, "WordWrap", wordWrap_);
}

// ---------------------------------------------------------------- places

void TReaderView::Back()
{
    // While the tab fetches, its document is about to change: the places wait.
    if (!hooks_.Busy || !hooks_.Busy()) session_.Back();
}

void TReaderView::Forward()
{
    if (!hooks_.Busy || !hooks_.Busy()) session_.Forward();
}

void TReaderView::JumpTo(int line) { session_.JumpTo(line); }

void TReaderView::KeepPosition()
{
    if (!url_.empty() && hooks_.KeepReadingLine && !pane_.Text().isEmpty())
        hooks_.KeepReadingLine(url_, pane_.FirstVisibleSourceLine());
}

// Another document (or the same one again): the one left keeps its position,
// and a document shown anew (at its first line) starts where it was left.
void TReaderView::DocumentShown()
{
    const TDocument* shown = session_.Shown();
    const std::string url = shown ? shown->Url : std::string();
    if (url != url_) {
        // The pane already shows the new text: the old position was kept on the way (KeepPosition).
        url_ = url;
        Rescan();
        if (!url_.empty() && hooks_.ReadingLine && session_.Line() == 0) {
            if (const std::optional<int> line = hooks_.ReadingLine(url_)) session_.SetLine(*line);
        }
        return;
    }
    Rescan();
}

bool TReaderView::GoToPage(int page)
{
    Refresh();
    const auto found =
        std::find_if(pages_.begin(), pages_.end(), [page](const TDocumentPage& p) { return p.Number == page; });
    if (page <= 0 || found == pages_.end()) {
        hooks_.Status(QStringLiteral("この文書に %1 ページはありません").arg(page));
        return false;
    }
    JumpTo(found->FirstLine);
    return true;
}

int TReaderView::PageBeingRead() const
{
    const TDocumentPage* page = PageOfLine(pages_, pane_.FirstVisibleSourceLine());
    return page ? page->Number : 0;
}

void TReaderView::ShowPage()
{
    const int page = PageBeingRead();
    pageLabel_->setText(page > 0 ? QStringLiteral("[Page %1]").arg(page) : QString());
}

bool TReaderView::JumpToSection(const std::string& section, bool newPlace)
{
    Refresh();
    const std::vector<THeading>& outline = Contents->Outline();
    auto heading = std::find_if(outline.begin(), outline.end(), [&](const THeading& h) { return h.Number == section; });
    if (heading == outline.end()) {
        hooks_.Status(QStringLiteral("この文書に %1 節はありません").arg(QString::fromStdString(section)));
        return false;
    }
    if (newPlace)
        JumpTo(heading->Line);
    else
        session_.SetLine(heading->Line);
    return true;
}

void TReaderView::Follow(const TPaneLink& link, bool newTab)
{
    const TReference& r = link.Reference;
    const auto fetch = [this, newTab](int rfc, std::function<void()> shown) {
        if (newTab && hooks_.FetchRfcInNewTab)
            hooks_.FetchRfcInNewTab(rfc, std::move(shown));
        else
            hooks_.FetchRfc(rfc, std::move(shown));
    };
    switch (r.Kind) {
    case TReferenceKind::Rfc: fetch(r.Rfc, {}); break;
    case TReferenceKind::Section: JumpToSection(r.Section, true); break;
    case TReferenceKind::RfcSection:
        // The fetch's own place becomes the section's, in the tab that fetched it.
        fetch(r.Rfc, [this, section = r.Section] { JumpToSection(section, false); });
        break;
    case TReferenceKind::Url: hooks_.OpenUrl(QString::fromStdString(link.Url)); break;
    case TReferenceKind::Citation: JumpTo(r.EntryLine); break;
    }
}

TReadingState TReaderView::State() const { return {zoom_, Find->Field->text(), !Find->isHidden()}; }

void TReaderView::SetState(const TReadingState& state)
{
    SetZoom(state.Zoom);
    if (Find->Field->text() != state.FindText) Find->Field->setText(state.FindText);
    if (state.FindOpen && Find->isHidden()) {
        ShowFindBar(true);
    } else if (!state.FindOpen) {
        ShowFind(false);
    }
    if (state.FindOpen) Find->Research();
    UpdateActions();
}

// ---------------------------------------------------------------- document

void TReaderView::Refresh()
{
    if (rescan_.isActive()) Rescan();
}

const TUtf8Lines& TReaderView::Lines()
{
    Refresh();
    return lines_;
}

void TReaderView::Rescan()
{
    rescan_.stop();
    // A document as it came is read where the session keeps it, not copied once more; an edited one from the pane.
    const TDocument* shown = session_.Shown();
    lines_.Read(pane_, shown && !shown->Edited && !pane_.Modified() ? session_.ShownBody() : nullptr);
    const int width = OrdinaryLineWidth(lines_.Lines());
    columns_ = width == 0 ? kUsualColumns : std::clamp(width, kMinColumns, kMaxColumns);
    Fit();
    TDocumentLayout layout = DocumentLayout(lines_.Lines());
    Contents->SetOutline(std::move(layout.Headings));
    pages_ = DocumentPages(lines_.Lines());
    ShowPage();
    ShowReading();
    Links->Scan(lines_, layout.Contents, ExtractNumber(pane_.SourceLines()));
    if (!Find->isHidden())
        Find->Research(); // shows the marks
    else
        ShowMarks();
}

// The section being read is the one at a quarter of the pane's height: a
// heading just below the top already starts what is read.
void TReaderView::ShowReading()
{
    const int quarter = pane_.viewport()->height() / 4;
    Contents->ShowReading(pane_.SourceLineOfPosition(pane_.PositionAt(QPoint(0, quarter))));
}

void TReaderView::ShowMarks()
{
    std::vector<TPaneMark> marks = Links->Marks();
    marks.insert(marks.end(), Find->Marks().begin(), Find->Marks().end());
    pane_.SetMarks(std::move(marks));
}

void TReaderView::ShowContents(bool visible)
{
    if (visible) Refresh();
    Contents->setVisible(visible);
    ContentsAction->setChecked(visible);
    // The panel comes back as wide as the user left it; the pane takes the rest.
    if (visible)
        Area->setSizes({contentsWidth_, std::max(kMinPane, Area->width() - Area->handleWidth() - contentsWidth_)});
}

void TReaderView::ShowFind(bool visible)
{
    if (visible) {
        ShowFindBar(true);
        Find->Open();
    } else if (!Find->isHidden()) {
        Find->Close();
        ShowFindBar(false);
    }
    UpdateActions();
}

void TReaderView::ShowFindBar(bool visible)
{
    Find->setVisible(visible);
    // Laid out at once, so the match the bar finds next is in view of the pane as it will be.
    Find->parentWidget()->layout()->activate();
}

void TReaderView::UpdateActions()
{
    BackAction->setEnabled(session_.CanGoBack());
    ForwardAction->setEnabled(session_.CanGoForward());
    CloseFindAction->setEnabled(!Find->isHidden());
}

bool TReaderView::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == &pane_ && e->type() == QEvent::Resize) {
        Fit();
        return false;
    }
    if (watched == paneViewport_ && e->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(e);
        if (!(wheel->modifiers() & Qt::ControlModifier)) return false;
        wheel_ += wheel->angleDelta().y();
        // A notch is 120; fine-grained wheels and touchpads add up to one.
        for (; wheel_ >= 120; wheel_ -= 120) ZoomIn();
        for (; wheel_ <= -120; wheel_ += 120) ZoomOut();
        return true;
    }
    if (e->type() == QEvent::MouseButtonPress) {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(e)->button();
        if (button == Qt::BackButton) {
            hooks_.Guarded([this] { Back(); });
            return true;
        }
        if (button == Qt::ForwardButton) {
            hooks_.Guarded([this] { Forward(); });
            return true;
        }
    }
    return false;
}
