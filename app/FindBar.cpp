// The find bar: its field and count, the matches it marks and the current one.
#include "app/FindBar.h"

#include "app/DocumentFind.h"
#include "app/PaneText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>

namespace {

const QString kNotFound = QStringLiteral("見つかりません");

TPaneMark MatchMark(TPaneSpan span, bool current)
{
    TPaneMark mark;
    mark.Start = span.Start;
    mark.Length = span.Length;
    mark.Background = current ? QPalette::Highlight : QPalette::ToolTipBase;
    mark.Foreground = current ? QPalette::HighlightedText : QPalette::ToolTipText;
    return mark;
}

} // namespace

TFindBar::TFindBar(TTextPane& pane, std::function<const TUtf8Lines&()> lines, QWidget* parent)
    : QWidget(parent), pane_(pane), lines_(std::move(lines))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("検索:"), this);
    Field = new QLineEdit(this);
    Field->setClearButtonEnabled(true);
    label->setBuddy(Field);
    MatchCase = new QCheckBox(QStringLiteral("大文字と小文字を区別"), this);
    auto button = [this](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(true);
        return b;
    };
    QToolButton* previous = button(QStringLiteral("▲"), QStringLiteral("前を検索 (Shift+F3)"));
    QToolButton* next = button(QStringLiteral("▼"), QStringLiteral("次を検索 (F3)"));
    count_ = new QLabel(this);
    count_->setMinimumWidth(count_->fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")));
    QToolButton* close = button(QStringLiteral("×"), QStringLiteral("閉じる (Esc)"));
    row->addWidget(label);
    row->addWidget(Field, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(MatchCase);
    row->addWidget(count_);
    row->addWidget(close);

    // Typing finds from where the reader is, not from the last match.
    connect(Field, &QLineEdit::textChanged, this,
            [this] { Search(pane_.SourceLineStart(pane_.FirstVisibleSourceLine())); });
    connect(MatchCase, &QCheckBox::toggled, this, [this] { Research(); });
    connect(previous, &QToolButton::clicked, this, &TFindBar::Previous);
    connect(next, &QToolButton::clicked, this, &TFindBar::Next);
    connect(close, &QToolButton::clicked, this, &TFindBar::closeRequested);
    Field->installEventFilter(this);
    hide();
}

void TFindBar::Open()
{
    show();
    Field->setFocus(Qt::ShortcutFocusReason);
    Field->selectAll();
    // Closing dropped the matches: the text still in the field is found again.
    if (matches_.empty()) Research();
}

void TFindBar::Close()
{
    if (current_ >= 0) {
        const TPaneMark& mark = marks_[size_t(matches_[size_t(current_)])];
        pane_.Select(mark.Start, mark.Start + mark.Length);
    }
    hide();
    marks_.clear();
    matches_.clear();
    current_ = -1;
    pane_.setFocus(Qt::OtherFocusReason);
    emit marksChanged();
}

void TFindBar::Next()
{
    if (!matches_.empty()) MakeCurrent((current_ + 1) % MatchCount());
}

void TFindBar::Previous()
{
    if (!matches_.empty()) MakeCurrent((current_ + MatchCount() - 1) % MatchCount());
}

void TFindBar::Research()
{
    Search(current_ >= 0 ? marks_[size_t(matches_[size_t(current_)])].Start
                         : pane_.SourceLineStart(pane_.FirstVisibleSourceLine()));
}

void TFindBar::Search(int from)
{
    marks_.clear();
    matches_.clear();
    current_ = -1;
    const QByteArray needle = Field->text().toUtf8();
    if (!isHidden() && !needle.isEmpty()) {
        const TUtf8Lines& lines = lines_();
        const std::vector<TFindMatch> found =
            FindAll(lines.Lines(), std::string_view(needle.constData(), size_t(needle.size())), MatchCase->isChecked());
        marks_.reserve(found.size());
        for (const TFindMatch& m : found) {
            matches_.push_back(int(marks_.size()));
            marks_.push_back(MatchMark(PaneSpan(pane_, lines, m.Line, m.Offset, m.Length), false));
        }
    }
    if (!marks_.empty()) {
        auto at = std::lower_bound(marks_.begin(), marks_.end(), from,
                                   [](const TPaneMark& m, int pos) { return m.Start < pos; });
        current_ = at == marks_.end() ? 0 : int(at - marks_.begin());
        marks_[size_t(current_)] = MatchMark({marks_[size_t(current_)].Start, marks_[size_t(current_)].Length}, true);
        ScrollToCurrent();
    }
    ShowState();
    emit marksChanged();
}

void TFindBar::MakeCurrent(int index)
{
    TPaneMark& old = marks_[size_t(current_)];
    old = MatchMark({old.Start, old.Length}, false);
    current_ = index;
    TPaneMark& now = marks_[size_t(current_)];
    now = MatchMark({now.Start, now.Length}, true);
    ScrollToCurrent();
    ShowState();
    emit marksChanged();
}

QString TFindBar::CountText() const
{
    if (Field->text().isEmpty()) return {};
    if (matches_.empty()) return kNotFound;
    return QStringLiteral("%1 / %2").arg(current_ + 1).arg(MatchCount());
}

void TFindBar::ShowState()
{
    count_->setText(CountText());
    // Not found: the count says so in bold, and the field's text takes the
    // colour the palette gives links already visited, so it stands out in
    // any theme without a colour of its own.
    const bool notFound = !Field->text().isEmpty() && matches_.empty();
    QFont font = count_->font();
    font.setBold(notFound);
    count_->setFont(font);
    QPalette colours = Field->palette();
    colours.setBrush(QPalette::Text, palette().brush(notFound ? QPalette::LinkVisited : QPalette::Text));
    Field->setPalette(colours);
}

void TFindBar::ScrollToCurrent()
{
    const int line = pane_.SourceLineOfPosition(marks_[size_t(current_)].Start);
    const int first = pane_.FirstVisibleSourceLine();
    const int last =
        pane_.SourceLineOfPosition(pane_.PositionAt(QPoint(0, std::max(0, pane_.viewport()->height() - 1))));
    // The last visible line may be cut off at the bottom: only the ones above it count as in view.
    if (line >= first && line < last) return;
    pane_.ScrollToSourceLine(std::max(0, line - std::max(1, (last - first) / 3)));
}

bool TFindBar::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == Field && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                Previous();
            else
                Next();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            emit closeRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}
