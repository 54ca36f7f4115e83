#include "app/LibraryCommands.h"

#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/PagewickM.h"
#include "app/PaneText.h"
#include "app/SearchWindow.h"
#include "app/TextPane.h"
#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "net/http/IdHTTP.h"
#include "platform/Dialogs.h"
#include "platform/LineSource.h"
#include "platform/SysUtils.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <vector>

namespace {

const QString kFromLibrary = QStringLiteral(" [ライブラリ]");
const QString kConfirmed = QStringLiteral(" [ライブラリ・最新を確認]");
const QString kUnreachable = QStringLiteral(" [ライブラリ] サーバに接続できませんでした: ");
const QString kGone = QStringLiteral(" [ライブラリ] サーバにはもうありません");
const QString kRejected = QStringLiteral(" [ライブラリ] サーバの応答は保存しませんでした: ");
const QString kCachedTip = QStringLiteral("ライブラリにあります");
const QString kRemoveEntry = QStringLiteral("履歴から削除");
// Another process holding the library keeps a write waiting this long at most:
// the window must not freeze on it. A document not stored then is tried again
// every few seconds for a minute.
constexpr int kBusyTimeoutMs = 250;
constexpr int kRetryIntervalMs = 2000;
constexpr int kMaxRetries = 20;
// The header of an RFC, where its number stands, is within its first lines.
constexpr int kHeaderLines = 80;
// The bar sits between the number box and the pane.
constexpr int kBarTop = 36;

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

// The first lines of the pane's document, read line by line: the whole
// text is never copied for a look at its header.
class THeadLines : public TLineSource {
public:
    explicit THeadLines(const TTextPane& pane)
    {
        for (int i = 0; i < std::min(kHeaderLines, pane.SourceLineCount()); ++i)
            lines_.push_back(pane.SourceLineAt(i).toStdString());
    }
    int Count() const override { return int(lines_.size()); }
    std::string Line(int index) const override
    {
        return index >= 0 && index < Count() ? lines_[size_t(index)] : std::string();
    }

private:
    std::vector<std::string> lines_;
};

// "Obsoleted by RFC 7230, RFC 7231": each RFC a link the bar opens through the fetch command.
QString RelationText(const char* label, const std::vector<std::string>& ids)
{
    if (ids.empty()) return QString();
    QStringList links;
    for (const std::string& id : ids) {
        const QString shown = Text(DisplayDocumentId(id)).toHtmlEscaped();
        const int number = RfcNumberOf(id);
        links << (number > 0 ? QStringLiteral("<a href=\"rfc:%1\">%2</a>").arg(number).arg(shown) : shown);
    }
    return QString::fromLatin1(label) + links.join(QStringLiteral(", "));
}

int64_t Now() { return int64_t(std::time(nullptr)); }

} // namespace

TLibraryCommands::TLibraryCommands(TForm1& form, const std::string& databasePath)
    : QObject(&form), form_(form), database_({databasePath, kBusyTimeoutMs}), cache_(database_)
{
    BuildMenu();
    BuildRelationsBar();
    FaultLabel = new QLabel(form_.StatusBar1);
    FaultLabel->setTextFormat(Qt::PlainText);
    FaultLabel->setVisible(false);
    form_.StatusBar1->addPermanentWidget(FaultLabel);
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(kRetryIntervalMs);
    connect(retryTimer_, &QTimer::timeout, this, [this] { RetryPending(); });
    // The bar follows whatever the pane shows, by whichever command it came.
    auto* relationsTimer = new QTimer(this);
    relationsTimer->setSingleShot(true);
    relationsTimer->setInterval(0);
    connect(relationsTimer, &QTimer::timeout, this, [this] { ShowRelations(); });
    connect(form_.Memo1, &TTextPane::textChanged, relationsTimer, qOverload<>(&QTimer::start));

    QAbstractItemView* list = form_.RFCNumber->view();
    list->installEventFilter(this);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
        const int row = list->indexAt(at).row();
        if (row < 0) return;
        QMenu menu;
        QAction* remove = menu.addAction(kRemoveEntry);
        if (menu.exec(list->viewport()->mapToGlobal(at)) == remove) RemoveHistoryEntryAt(row);
    });
}

TLibraryCommands::~TLibraryCommands() { delete search_.data(); }

TSearchWindow* TLibraryCommands::SearchWindow() const { return search_.data(); }

bool TLibraryCommands::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == form_.centralWidget() && e->type() == QEvent::Resize && RelationsBar->isVisible())
        RelationsBar->resize(form_.centralWidget()->width() - 2 * RelationsBar->x(), RelationsBar->height());
    if (watched == form_.RFCNumber->view() && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        const int row = form_.RFCNumber->view()->currentIndex().row();
        if (row >= 0) {
            RemoveHistoryEntryAt(row);
            return true;
        }
    }
    return QObject::eventFilter(watched, e);
}

void TLibraryCommands::BuildMenu()
{
    auto add = [this](const QString& caption, const QKeySequence& keys, void (TLibraryCommands::*handler)()) {
        QAction* action = mLibrary->addAction(caption);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this,
                [this, handler] { form_.Guarded([this, handler] { (this->*handler)(); }); });
        return action;
    };
    mLibrary = form_.menuBar()->addMenu(QStringLiteral("ライブラリ(&L)"));
    mSearch = add(QStringLiteral("検索(&S)..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L),
                  &TLibraryCommands::mSearchClick);
    mRefetch = add(QStringLiteral("もう一度取得(&R)"), QKeySequence(Qt::Key_F5), &TLibraryCommands::mRefetchClick);
    mLibrary->addSeparator();
    mUpdateIndex = add(QStringLiteral("索引を更新"), QKeySequence(), &TLibraryCommands::mUpdateIndexClick);
}

void TLibraryCommands::BuildRelationsBar()
{
    RelationsBar = new QLabel(form_.centralWidget());
    RelationsBar->setTextFormat(Qt::RichText);
    RelationsBar->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    RelationsBar->setAutoFillBackground(true);
    RelationsBar->setMargin(2);
    RelationsBar->setVisible(false);
    form_.centralWidget()->installEventFilter(this);
    connect(RelationsBar, &QLabel::linkActivated, this, [this](const QString& link) {
        form_.Guarded([this, &link] {
            if (link.startsWith(QStringLiteral("rfc:"))) {
                if (const int number = RfcLinkNumber(link.toStdString()); number > 0) OpenNumber(number);
            } else {
                form_.OpenLink(link);
            }
        });
    });
}

void TLibraryCommands::ShowRelations()
{
    const int number = ExtractNumber(THeadLines(*form_.Memo1));
    std::optional<TRelations> relations;
    if (number > 0) relations = RelationsOf(database_, number);
    if (!relations) {
        if (RelationsBar->isVisible()) {
            RelationsBar->setVisible(false);
            form_.Memo1->move(form_.Memo1->x(), 40);
            form_.FormResize();
        }
        return;
    }
    QStringList parts;
    parts << QStringLiteral("<b>RFC %1</b>").arg(number);
    if (relations->Obsolete) parts << QStringLiteral("<b>OBSOLETE</b>");
    if (!relations->Status.empty()) parts << Text(relations->Status).toHtmlEscaped();
    for (const QString& part :
         {RelationText("Obsoleted by ", relations->ObsoletedBy), RelationText("Updated by ", relations->UpdatedBy),
          RelationText("Obsoletes ", relations->Obsoletes), RelationText("Updates ", relations->Updates)})
        if (!part.isEmpty()) parts << part;
    if (!relations->ErrataUrl.empty())
        parts << QStringLiteral("<a href=\"%1\">Errata</a>").arg(Text(relations->ErrataUrl).toHtmlEscaped());
    RelationsBar->setText(parts.join(QStringLiteral(" &nbsp;·&nbsp; ")));

    // An obsolete document's bar stands out in the selection colours of the palette, its links included.
    QPalette colours = form_.palette();
    if (relations->Obsolete) {
        colours.setColor(QPalette::Window, colours.color(QPalette::Highlight));
        colours.setColor(QPalette::WindowText, colours.color(QPalette::HighlightedText));
        colours.setColor(QPalette::Link, colours.color(QPalette::HighlightedText));
    } else {
        colours.setColor(QPalette::Window, colours.color(QPalette::AlternateBase));
    }
    RelationsBar->setPalette(colours);
    RelationsBar->setToolTip(PlainToolTip(Text(relations->Title)));
    // The window's margin: the pane's own left edge moves right while the contents panel shows.
    const int left = 8;
    RelationsBar->setGeometry(left, kBarTop, form_.centralWidget()->width() - 2 * left,
                              RelationsBar->sizeHint().height());
    RelationsBar->setVisible(true);
    form_.Memo1->move(left, kBarTop + RelationsBar->height() + 2);
    form_.FormResize();
}

void TLibraryCommands::ShowFaultOnce()
{
    // Beside the status line, not in it: the next command's status would overwrite it before anyone read it.
    const std::string fault = database_.TakeFaultMessage();
    if (fault.empty()) return;
    FaultLabel->setText(Text(fault));
    FaultLabel->setVisible(true);
}

void TLibraryCommands::Keep(TCachedDocument document)
{
    const std::string url = document.Url;
    if (cache_.Store(document)) {
        pending_.reset();
        retryTimer_->stop();
        cache_.TrimToLimit(SizeLimit, url);
        cache_.SetLastShown(url);
        return;
    }
    // Another process holds the library: the window goes on, and the copy is stored once the lock is gone.
    if (database_.Fault() != TLibraryFault::lfLocked) return;
    pending_ = std::move(document);
    retries_ = 0;
    retryTimer_->start();
}

void TLibraryCommands::RetryPending()
{
    if (!pending_ || ++retries_ > kMaxRetries) {
        pending_.reset();
        retryTimer_->stop();
        return;
    }
    if (!cache_.Store(*pending_)) return;
    cache_.TrimToLimit(SizeLimit, pending_->Url);
    pending_.reset();
    retryTimer_->stop();
    MarkHistory();
}

void TLibraryCommands::Show(const std::string& url, const std::string& body, const QString& note)
{
    form_.Memo1->LoadText(FileTextToPaneText(body));
    ShowStatus(url, body.size(), note);
}

void TLibraryCommands::ShowStatus(const std::string& url, size_t bytes, const QString& note)
{
    form_.SetStatusText(
        SettingToText(Format("%s: contains... %d chars/%d lines", url, int64_t(bytes), form_.Memo1->LineCount())) +
        note);
}

void TLibraryCommands::Started()
{
    const std::string url = cache_.LastShown();
    std::optional<TCachedDocument> last = url.empty() ? std::nullopt : cache_.Find(url);
    if (last) {
        Show(url, last->Body, kFromLibrary);
        currentUrl_ = url;
        form_.PrintBtn->setEnabled(true);
    }
    ShowFaultOnce();
}

std::optional<bool> TLibraryCommands::FetchFromLibrary(const std::string& url)
{
    const bool force = std::exchange(forceNext_, false);
    std::optional<TCachedDocument> cached = cache_.Find(url);
    if (!cached) return std::nullopt;
    Show(url, cached->Body, kFromLibrary);
    // The copy is drawn before the server is asked, which may take a while.
    form_.Memo1->repaint();

    form_.ApplyConnectionSettings();
    const TRevalidationResult checked = Revalidate(*form_.IdHTTP1, cache_, *cached, Now(), force);
    switch (checked.Outcome) {
    case TRevalidationOutcome::roFresh: break;
    case TRevalidationOutcome::roNotModified: ShowStatus(url, cached->Body.size(), kConfirmed); break;
    case TRevalidationOutcome::roReplaced:
        Show(url, checked.Document.Body, QString());
        cache_.TrimToLimit(SizeLimit, url);
        break;
    case TRevalidationOutcome::roGone: ShowStatus(url, cached->Body.size(), kGone); break;
    case TRevalidationOutcome::roRejected:
        ShowStatus(url, cached->Body.size(), kRejected + Text(checked.Failure).trimmed());
        break;
    case TRevalidationOutcome::roFailed:
        ShowStatus(url, cached->Body.size(), kUnreachable + Text(checked.Failure).trimmed());
        break;
    }
    currentUrl_ = url;
    cache_.SetLastShown(url);
    ShowFaultOnce();
    return true;
}

void TLibraryCommands::Fetched(const std::string& url, std::string body)
{
    // An empty answer (204, or a server that sent nothing) is no document to keep.
    if (body.empty()) return;
    TCachedDocument document = DocumentFromResponse(*form_.IdHTTP1, url, std::move(body), Now());
    document.Number = ExtractNumber(THeadLines(*form_.Memo1));
    document.Title = ExtractTitle(form_.Memo1->Lines());
    Keep(std::move(document));
    currentUrl_ = url;
    MarkHistory();
    ShowFaultOnce();
}

void TLibraryCommands::MarkHistory()
{
    QComboBox* box = form_.RFCNumber;
    const TStringList& urls = form_.UrlList();
    QFont marked = box->font();
    marked.setBold(true);
    for (int i = 0; i < box->count() && i < urls.Count(); ++i) {
        const bool cached = cache_.Contains(urls[i]);
        box->setItemData(i, cached ? QVariant(marked) : QVariant(), Qt::FontRole);
        box->setItemData(i, cached ? QVariant(kCachedTip) : QVariant(), Qt::ToolTipRole);
    }
}

void TLibraryCommands::RemoveHistoryEntryAt(int index)
{
    form_.RFCNumber->hidePopup();
    form_.RemoveHistoryEntry(index);
}

void TLibraryCommands::mRefetchClick()
{
    if (currentUrl_.empty()) return;
    const std::string url = currentUrl_;
    form_.RunBusy([this, &url] {
        form_.SetStatusText(QStringLiteral("accessing... ") + SettingToText(url));
        forceNext_ = true;
        form_.FetchHttp(url);
        forceNext_ = false;
    });
}

void TLibraryCommands::mUpdateIndexClick()
{
    const std::string url = IndexUrlBeside(TextToSetting(form_.OptionDlg->UrlBase->text()));
    form_.RunBusy([this, &url] {
        form_.SetStatusText(QStringLiteral("索引を取得しています... ") + SettingToText(url));
        form_.ApplyConnectionSettings();
        const TIndexUpdateResult result = UpdateIndex(*form_.IdHTTP1, database_, url);
        switch (result.Outcome) {
        case TIndexUpdateOutcome::iuLoaded:
            form_.SetStatusText(QStringLiteral("索引を更新しました: %1 件").arg(result.Entries));
            break;
        case TIndexUpdateOutcome::iuUnchanged: form_.SetStatusText(QStringLiteral("索引は最新です")); break;
        case TIndexUpdateOutcome::iuFailed:
            form_.SetStatusText(QStringLiteral("索引を更新できませんでした: ") + Text(result.Failure).trimmed());
            break;
        }
        ShowFaultOnce();
    });
    ShowRelations();
}

void TLibraryCommands::mSearchClick()
{
    if (!search_) {
        search_ = new TSearchWindow(database_, &form_);
        search_->OnOpen = [this](int number) { OpenNumber(number); };
    }
    search_->show();
    search_->raise();
    search_->activateWindow();
    search_->Query->setFocus();
    search_->Query->selectAll();
}

void TLibraryCommands::OpenNumber(int number)
{
    form_.RFCNumber->setEditText(QString::number(number));
    form_.Guarded([this] { form_.mOpenFromWebClick(); });
}
