// The window's busy state around a command that loads a document.
#include "app/FetchGuard.h"

#include "app/AntiFreeze.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

TFetchGuard::TFetchGuard(QWidget& window, const std::vector<QWidget*>& inert, QWidget& cancel, TQtAntiFreeze* hook)
    : window_(window), cancel_(cancel), hook_(hook), focus_(QApplication::focusWidget())
{
    window_.setCursor(Qt::WaitCursor);
    for (QWidget* widget : inert) {
        inert_.emplace_back(widget, widget->isEnabled());
        widget->setEnabled(false);
    }
    if (!hook_) return;
    hook_->ClearCancel();
    cancel_.setVisible(true);
    qApp->installEventFilter(this);
    hook_->SetInputFiltered(true);
}

TFetchGuard::~TFetchGuard()
{
    if (hook_) {
        // Input that came in after the last step is dropped now, not run against the new document.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        hook_->SetInputFiltered(false);
        qApp->removeEventFilter(this);
        hook_->ClearCancel();
        cancel_.setVisible(false);
    }
    for (auto& [widget, enabled] : inert_)
        if (widget) widget->setEnabled(enabled);
    window_.unsetCursor();
    if (focus_) focus_->setFocus();
}

bool TFetchGuard::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Shortcut:
        // The window's menu commands; a message box shown meanwhile keeps its own keys.
        return !watched->isWidgetType() || static_cast<QWidget*>(watched)->window() == &window_;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: break;
    default: return false;
    }
    // Windows pass input on to their widgets, where it is judged; only the
    // main window's widgets lose it, the cancel control apart.
    if (!watched->isWidgetType()) return false;
    const auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != &window_ || widget == &cancel_) return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Accepted, so no menu shortcut fires; the key itself is dropped next.
        event->accept();
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        hook_->RequestCancel();
    }
    return true;
}
