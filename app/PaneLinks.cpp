// The pane's links: found for the document shown, drawn as marks and followed on a click.
#include "app/PaneLinks.h"

#include "app/PaneText.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>

TPaneLinks::TPaneLinks(TTextPane& pane) : QObject(&pane), pane_(pane), viewport_(pane.viewport())
{
    viewport_->setMouseTracking(true);
    viewport_->installEventFilter(this);
    // The pane deletes its viewport, and this object, only once it is no
    // longer a pane: the viewport's last events must not reach a filter that
    // asks the pane about them.
    connect(&pane_, &QObject::destroyed, this, [this] { viewport_->removeEventFilter(this); });
    // An edit moves the text under the links: they go with the pane's marks
    // until the document is scanned again.
    connect(&pane_, &TTextPane::textChanged, this, [this] {
        links_.clear();
        marks_.clear();
    });
}

void TPaneLinks::Scan(const TUtf8Lines& lines, std::span<const TContentsEntry> contents, int ownNumber)
{
    links_.clear();
    marks_.clear();
    std::vector<TDocumentLink> all = DocumentLinks(lines.Lines(), contents, ownNumber);
    // Exactly as many as found: a large document's links would otherwise leave growth room of up to as many again.
    links_.reserve(all.size());
    marks_.reserve(all.size());
    for (TDocumentLink& found : all) {
        TReference& r = found.Reference;
        const TPaneSpan span = PaneSpan(pane_, lines, found.Line, r.Offset, r.Length);
        TPaneLink link{span.Start, span.Length, std::move(r), {}};
        if (link.Reference.Kind == TReferenceKind::Url)
            link.Url =
                std::string(lines.Lines()[size_t(found.Line)].substr(link.Reference.Offset, link.Reference.Length));
        links_.push_back(std::move(link));
        TPaneMark mark;
        mark.Start = span.Start;
        mark.Length = span.Length;
        mark.Background = QPalette::NoRole;
        mark.Foreground = QPalette::Link;
        mark.Underline = true;
        marks_.push_back(mark);
    }
}

const TPaneLink* TPaneLinks::LinkAt(int position) const
{
    auto after =
        std::upper_bound(links_.begin(), links_.end(), position, [](int p, const TPaneLink& l) { return p < l.Start; });
    if (after == links_.begin()) return nullptr;
    const TPaneLink& link = *(after - 1);
    return position < link.Start + link.Length ? &link : nullptr;
}

bool TPaneLinks::eventFilter(QObject* watched, QEvent* e)
{
    if (watched != viewport_) return false;
    switch (e->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(e);
        const Qt::KeyboardModifiers keys = mouse->modifiers();
        pressed_ = (mouse->button() == Qt::LeftButton && (keys == Qt::NoModifier || keys == Qt::ControlModifier)) ||
                   (mouse->button() == Qt::MiddleButton && keys == Qt::NoModifier);
        newTab_ = mouse->button() == Qt::MiddleButton || keys == Qt::ControlModifier;
        pressedAt_ = mouse->position().toPoint();
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(e);
        const QPoint at = mouse->position().toPoint();
        const bool click = pressed_ && (mouse->button() == Qt::LeftButton || mouse->button() == Qt::MiddleButton) &&
                           (at - pressedAt_).manhattanLength() < QApplication::startDragDistance() &&
                           pane_.AnchorPosition() == pane_.CursorPosition();
        pressed_ = false;
        if (!click) break;
        if (const TPaneLink* link = LinkAt(pane_.PositionAt(at))) {
            // Followed once the pane is done with the click: following may
            // load another document, or run a fetch with its own event loop.
            const TPaneLink copy = *link;
            QTimer::singleShot(0, this, [this, copy, newTab = newTab_] { emit followed(copy, newTab); });
        }
        break;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(e);
        if (mouse->buttons() != Qt::NoButton || links_.empty()) break;
        const bool over = LinkAt(pane_.PositionAt(mouse->position().toPoint())) != nullptr;
        viewport_->setCursor(over ? Qt::PointingHandCursor : Qt::IBeamCursor);
        break;
    }
    default: break;
    }
    return false;
}
