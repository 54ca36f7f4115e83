// The library's menu, relations bar and windows in the main window, following the session.
#include "app/LibraryCommands.h"

#include "app/Readability.h"

#include "app/DocumentCommands.h"
#include "app/DocumentSession.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/LibraryListModel.h"
#include "app/SearchWindow.h"
#include "app/StorageDialog.h"
#include "app/SyncDialog.h"
#include "app/TextPane.h"
#include "library/IndexLoader.h"
#include "library/LibrarySearch.h"
#include "library/RfcHeader.h"
#include "net/fetch/Fetcher.h"
#include "platform/Dialogs.h"
#include "platform/SysUtils.h"
#include "settings/SettingText.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <span>
#include <vector>

namespace {

const char* const kFromLibrary = " [ライブラリ]";
const QString kCachedTip = QStringLiteral("ライブラリにあります");
const QString kRemoveEntry = QStringLiteral("履歴から削除");
constexpr int kRetryIntervalMs = 2000;
constexpr int kMaxRetries = 30;
const QString kOfflineRefused = QStringLiteral("オフラインです: ネットワークには接続しません");
QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

QString NumberLink(int number) { return QStringLiteral("<a href=\"rfc:%1\">%1</a>").arg(number); }

// "Obsoleted by 2965 → 6265" with each RFC a link, or "current".
QString ChainLinks(const std::vector<std::vector<int>>& chain)
{
    if (chain.empty()) return QStringLiteral("current");
    QStringList steps;
    for (const std::vector<int>& step : chain) {
        QStringList links;
        for (int number : step) links << NumberLink(number);
        steps << links.join(QStringLiteral(", "));
    }
    return QStringLiteral("Obsoleted by ") + steps.join(QStringLiteral(" \u2192 "));
}

// "Updated by RFC 7230, RFC 7231": each RFC a link the bar opens through the fetch command.
QString RelationText(const char* label, const std::vector<std::string>& ids)
{
    if (ids.empty()) return QString();
    // A long list folds: the bar stays a line or two, and its tool tip names every document.
    constexpr std::size_t kShown = 6;
    const std::size_t shown = ids.size() > kShown + 1 ? kShown : ids.size();
    QStringList links;
    for (const std::string& id : std::span(ids).first(shown)) {
        const QString shown = Text(DisplayDocumentId(id)).toHtmlEscaped();
        const int number = RfcNumberOf(id);
        links << (number > 0 ? QStringLiteral("<a href=\"rfc:%1\">%2</a>").arg(number).arg(shown) : shown);
    }
    QString text = QString::fromLatin1(label) + links.join(QStringLiteral(", "));
    if (shown < ids.size()) text += QStringLiteral(" … and %1 more").arg(ids.size() - shown);
    return text;
}

} // namespace

TLibraryCommands::TLibraryCommands(QMainWindow& window, QComboBox& numberBox, TTextPane& pane, TLibraryStore& store,
                                   TDocumentSession& session, TLibraryHooks hooks)
    : QObject(&window), window_(window), numberBox_(numberBox), pane_(pane), store_(store), session_(session),
      hooks_(std::move(hooks))
{
    BuildMenu();
    BuildRelationsBar(numberBox.parentWidget());
    if (auto* bar = window_.statusBar()) {
        FaultLabel = new QLabel(bar);
        FaultLabel->setTextFormat(Qt::PlainText);
        FaultLabel->setVisible(false);
        bar->addPermanentWidget(FaultLabel);
    }
    // A document kept back by another process's lock is stored once the lock is gone, tried for a minute.
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(kRetryIntervalMs);
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (!store_.Pending || ++retries_ > kMaxRetries) {
            store_.Pending.reset();
            retryTimer_->stop();
            return;
        }
        TCachedDocument pending = *store_.Pending;
        if (store_.Keep(std::move(pending))) {
            retryTimer_->stop();
            MarkHistory();
        }
    });
    // The bar names the shown document, and the library shows it again at the next start.
    session_.Subscribe([this](TSessionChange change) {
        if (store_.Pending && !retryTimer_->isActive()) {
            retries_ = 0;
            retryTimer_->start();
        }
        if (change != TSessionChange::Document) return;
        const TDocument* shown = session_.Shown();
        if (shown && shown->Origin != TDocumentOrigin::File) store_.Cache.SetLastShown(shown->Url);
        ShowRelations();
    });

    QAbstractItemView* list = numberBox_.view();
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

TLibraryCommands::~TLibraryCommands()
{
    // The sync's thread ends with its dialog, before the library it may still be using goes.
    delete sync_.data();
    delete storage_.data();
    delete search_.data();
}

TSearchWindow* TLibraryCommands::SearchWindow() const { return search_.data(); }

TSyncDialog* TLibraryCommands::SyncDialog() const { return sync_.data(); }

TStorageDialog* TLibraryCommands::StorageDialog() const { return storage_.data(); }

void TLibraryCommands::SetOfflineForRun()
{
    offlineForRun_ = true;
    const QSignalBlocker quiet(mOffline);
    mOffline->setChecked(true);
}

bool TLibraryCommands::Offline() const
{
    const bool* setting = hooks_.OfflineSetting ? hooks_.OfflineSetting() : nullptr;
    return offlineForRun_ || (setting && *setting);
}

bool TLibraryCommands::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == numberBox_.view() && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_Delete) {
        const int row = numberBox_.view()->currentIndex().row();
        if (row >= 0) {
            RemoveHistoryEntryAt(row);
            return true;
        }
    }
    return QObject::eventFilter(watched, e);
}

void TLibraryCommands::BuildMenu()
{
    auto add = [this](const QString& caption, const QKeySequence& keys, std::function<void()> handler) {
        QAction* action = mLibrary->addAction(caption);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, [this, handler] { hooks_.Guarded(handler); });
        return action;
    };
    mLibrary = window_.menuBar()->addMenu(QStringLiteral("ライブラリ(&L)"));
    mSearch =
        add(QStringLiteral("検索(&S)..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), [this] { mSearchClick(); });
    mRefetch = add(QStringLiteral("もう一度取得(&R)"), QKeySequence(Qt::Key_F5), [this] { hooks_.FetchAgain(); });
    mLibrary->addSeparator();
    mUpdateIndex = add(QStringLiteral("索引を更新"), QKeySequence(), [this] { hooks_.UpdateIndex(); });
    mSyncAll = add(QStringLiteral("すべて取得"), QKeySequence(), [this] { mSyncAllClick(); });
    mStorage = add(QStringLiteral("保存状況"), QKeySequence(), [this] { mStorageClick(); });

    mOffline = new QAction(QStringLiteral("オフライン"), this);
    mOffline->setCheckable(true);
    // The switch is the setting, except that --offline leaves the setting as it was.
    connect(mOffline, &QAction::toggled, this, [this](bool on) {
        if (!on) offlineForRun_ = false;
        bool* setting = hooks_.OfflineSetting ? hooks_.OfflineSetting() : nullptr;
        if (setting && !offlineForRun_) *setting = on;
    });
}

void TLibraryCommands::BuildRelationsBar(QWidget* parent)
{
    RelationsBar = new QLabel(parent);
    RelationsBar->setTextFormat(Qt::RichText);
    RelationsBar->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    RelationsBar->setAutoFillBackground(true);
    RelationsBar->setMargin(2);
    // A long list of relations goes on to a second line rather than past the window's edge.
    RelationsBar->setWordWrap(true);
    RelationsBar->setVisible(false);
    connect(RelationsBar, &QLabel::linkActivated, this, [this](const QString& link) {
        hooks_.Guarded([this, &link] {
            if (link.startsWith(QStringLiteral("rfc:"))) {
                if (const int number = RfcLinkNumber(link.toStdString()); number > 0) hooks_.OpenNumber(number);
            } else if (hooks_.OpenLink) {
                hooks_.OpenLink(link);
            }
        });
    });
}

void TLibraryCommands::ShowRelations()
{
    const TDocument* shown = session_.Shown();
    // A document without the usual header line may still name itself the older way ("RFC #  822").
    const int number = !shown ? 0 : shown->Number > 0 ? shown->Number : HeaderRfcNumber(shown->Body);
    std::optional<TRelations> relations;
    if (number > 0) relations = RelationsOf(store_.Database, number);
    if (!relations) {
        RelationsBar->setVisible(false);
        return;
    }
    QStringList parts;
    parts << QStringLiteral("<b>RFC %1</b>").arg(number);
    if (relations->Obsolete) parts << QStringLiteral("<b>OBSOLETE</b>");
    if (!relations->Status.empty()) parts << Text(relations->Status).toHtmlEscaped();
    parts << ChainLinks(ObsoletionChain(store_.Database, number));
    for (const QString& part :
         {RelationText("Updated by ", relations->UpdatedBy), RelationText("Obsoletes ", relations->Obsoletes),
          RelationText("Updates ", relations->Updates)})
        if (!part.isEmpty()) parts << part;
    if (!relations->ErrataUrl.empty())
        parts << QStringLiteral("<a href=\"%1\">Errata</a>").arg(Text(relations->ErrataUrl).toHtmlEscaped());
    RelationsBar->setText(parts.join(QStringLiteral(" &nbsp;·&nbsp; ")));

    // An obsolete document's bar stands out in the selection colours of the palette, its links included.
    QPalette colours = window_.palette();
    if (relations->Obsolete) {
        colours.setColor(QPalette::Window, colours.color(QPalette::Highlight));
        colours.setColor(QPalette::WindowText, colours.color(QPalette::HighlightedText));
        colours.setColor(QPalette::Link, colours.color(QPalette::HighlightedText));
    } else {
        colours.setColor(QPalette::Window, colours.color(QPalette::AlternateBase));
    }
    // Whatever the palette, light or dark, the text and links read on the bar.
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Link, QPalette::LinkVisited})
        colours.setColor(role, ReadableOn(colours.color(role), colours.color(QPalette::Window)));
    RelationsBar->setPalette(colours);
    QString tip = Text(relations->Title);
    for (const auto& [label, ids] :
         {std::pair{"Obsoleted by ", &relations->ObsoletedBy}, std::pair{"Updated by ", &relations->UpdatedBy}}) {
        if (ids->size() < 2) continue;
        tip += QStringLiteral("\n") + QString::fromLatin1(label);
        for (const std::string& id : *ids) tip += Text(DisplayDocumentId(id)) + QStringLiteral(" ");
    }
    RelationsBar->setToolTip(PlainToolTip(tip.trimmed()));
    RelationsBar->setVisible(true);
}

void TLibraryCommands::Started()
{
    if (const bool* setting = hooks_.OfflineSetting ? hooks_.OfflineSetting() : nullptr; setting && *setting) {
        const QSignalBlocker quiet(mOffline);
        mOffline->setChecked(true);
    }
    (void)ShowCopy(store_.Cache.LastShown());
}

bool TLibraryCommands::ShowCopy(const std::string& url)
{
    std::optional<TCachedDocument> copy = url.empty() ? std::nullopt : store_.Cache.Find(url);
    if (!copy) return false;
    session_.Show(NamedDocument(copy->Body, url, TDocumentOrigin::Library), "");
    // Named by its history entry, as a fetch names it: the caption, the box and the tab then
    // agree with the pane on which document is read, also when it comes back at start.
    const TStringList& urls = session_.History().Urls();
    for (int i = 0; i < urls.Count(); ++i) {
        if (urls[i] != url) continue;
        const std::string entry = session_.History().Entries()[i];
        session_.Name(session_.Shown()->Number, session_.Shown()->Title, entry, entry);
        break;
    }
    session_.SetStatus(
        SettingToText(Format("%s: contains... %d chars/%d lines", url, int64_t(copy->Body.size()), pane_.LineCount()))
            .toStdString() +
        kFromLibrary);
    return true;
}

void TLibraryCommands::MarkHistory()
{
    QComboBox* box = &numberBox_;
    const TStringList& urls = session_.History().Urls();
    QFont marked = box->font();
    marked.setBold(true);
    const QBrush greyed = box->palette().brush(QPalette::Disabled, QPalette::Text);
    const std::string format = hooks_.UrlFormat ? hooks_.UrlFormat() : std::string();
    for (int i = 0; i < box->count() && i < urls.Count(); ++i) {
        const bool cached = store_.Cache.Contains(urls[i]);
        // An obsolete document is marked as in the library window: greyed, its replacements in the tip.
        const int number = NumberFromUrl(format, urls[i]);
        const std::optional<TRelations> relations =
            number > 0 ? RelationsOf(store_.Database, number) : std::optional<TRelations>();
        const bool obsolete = relations && relations->Obsolete;
        QStringList tips;
        if (cached) tips << kCachedTip;
        if (obsolete) tips << CurrencyText(store_.Database, number);
        box->setItemData(i, cached ? QVariant(marked) : QVariant(), Qt::FontRole);
        box->setItemData(i, obsolete ? QVariant(greyed) : QVariant(), Qt::ForegroundRole);
        box->setItemData(i, tips.isEmpty() ? QVariant() : QVariant(tips.join(QStringLiteral("\n"))), Qt::ToolTipRole);
    }
}

void TLibraryCommands::RemoveHistoryEntryAt(int index)
{
    numberBox_.hidePopup();
    hooks_.RemoveHistoryEntry(index);
}

void TLibraryCommands::ShowFault(const std::string& fault)
{
    if (!FaultLabel) return;
    FaultLabel->setText(Text(fault));
    FaultLabel->setVisible(true);
}

void TLibraryCommands::mSearchClick() { OpenLibraryWindow(QString()); }

void TLibraryCommands::OpenLibraryWindow(const QString& text)
{
    if (!search_) {
        search_ = new TSearchWindow(store_.Database, &window_);
        search_->OnOpen = [this](int number) { hooks_.OpenNumber(number); };
    }
    if (!text.isEmpty()) search_->Query->setText(text);
    search_->RefreshChoices();
    search_->RunSearch();
    search_->show();
    search_->raise();
    search_->activateWindow();
    search_->Query->setFocus();
    search_->Query->selectAll();
}

void TLibraryCommands::mSyncAllClick()
{
    if (Offline()) {
        if (hooks_.Status) hooks_.Status(kOfflineRefused);
        return;
    }
    if (!sync_) {
        sync_ = new TSyncDialog(&window_);
        sync_->OnFinished = [this](const TSyncRunReport&) {
            if (search_) {
                search_->RefreshChoices();
                search_->RunSearch();
            }
            MarkHistory();
            ShowRelations();
        };
    }
    sync_->show();
    sync_->raise();
    if (sync_->Running()) return;
    TSyncRunOptions options;
    options.LibraryPath = store_.Path;
    options.Settings = hooks_.Settings();
    options.UrlFormat = hooks_.UrlFormat();
    options.UpdateIndexAlways = false;
    sync_->Start(options);
}

void TLibraryCommands::mStorageClick()
{
    if (!storage_) {
        storage_ = new TStorageDialog(store_.Cache, store_.SizeLimit, &window_);
        storage_->Confirm = hooks_.Confirm;
    }
    storage_->Refresh();
    storage_->show();
    storage_->raise();
}
