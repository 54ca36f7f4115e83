// The main window: its widgets, layout and handlers, and the views that follow the session.
#include "app/PagewickM.h"

#include "app/ClientSettings.h"
#include "app/DocumentCommands.h"
#include "app/DocumentFetch.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/FontStyle.h"
#include "app/LibraryCommands.h"
#include "app/PaneText.h"
#include "app/ReaderView.h"
#include "app/TextPane.h"
#include "net/fetch/Fetcher.h"
#include "net/http/IdHTTP.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "platform/SysUtils.h"
#include "settings/IniFile.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"
#include "version/verInfo.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

const QString kCaption = QStringLiteral("Scrivlet Util");
const QString kNewTab = QStringLiteral("新しいタブ");
const QString kFetching = QStringLiteral("取得中...");
const QString kFetched = QStringLiteral("取得済み");
const char* const kEditsDropped = " [編集した内容は破棄しました]";
const char* const kTabsSection = "tabs";
const QString kDamagedHistory = QStringLiteral("履歴情報が壊れているため、履歴を破棄しました。");
const QString kWarningCaption = QStringLiteral("警告");
const QString kRedirected = QStringLiteral("開始フォルダに書き込めないため、設定は %1 に保存します");
const QString kFellBack = QStringLiteral("開始フォルダに書き込めなかったため、設定を %1 に保存しました");
const QString kMadePrivate =
    QStringLiteral("パスワードを保存するため、設定ファイル %1 を本人だけが読めるようにしました");

QString Utf8(const std::string& text) { return SettingToText(text); }

QString ExceptionText(const std::exception& failure) { return Utf8(ExceptionMessage(failure)); }

// The number box, telling when its drop-down list closes.
class TNumberBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    void hidePopup() override
    {
        const bool shown = view()->isVisible();
        QComboBox::hidePopup();
        if (shown && OnListClosed) OnListClosed();
    }
    std::function<void()> OnListClosed;
};

// Esc anywhere in the window, while it is installed, calls OnEscape and goes no
// further (the find bar's own Esc waits until the fetch has ended); other
// windows (a message box shown meanwhile) keep their keys.
class TEscapeWatch : public QObject {
public:
    TEscapeWatch(QWidget& window, std::function<void()> onEscape)
        : QObject(&window), window_(window), onEscape_(std::move(onEscape))
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::ShortcutOverride && e->type() != QEvent::KeyPress) return false;
        if (static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape || !watched->isWidgetType()) return false;
        if (static_cast<QWidget*>(watched)->window() != &window_) return false;
        // Accepted, so no shortcut takes the key; the key itself cancels next.
        if (e->type() == QEvent::ShortcutOverride)
            e->accept();
        else
            onEscape_();
        return true;
    }

private:
    QWidget& window_;
    std::function<void()> onEscape_;
};

// A font name keeps at most 31 characters, as the settings have always stored it.
const int kMaxFontName = 31;

int PointSizeOf(const QFont& font)
{
    if (font.pointSize() > 0) return font.pointSize();
    // A pixel-sized font: points at the usual 96 pixels per inch.
    return (font.pixelSize() * 72 + 48) / 96;
}

} // namespace

QPoint CentredPosition(QSize screen, QSize window)
{
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

QRect PlaceOnScreen(QSize stored, QSize minimum, QSize screen, QRect available)
{
    const QRect area = available.isEmpty() ? QRect(0, 0, 640, 512) : available;
    const QSize size(std::max(minimum.width(), std::min(stored.width(), area.width())),
                     std::max(minimum.height(), std::min(stored.height(), area.height())));
    QPoint pos = CentredPosition(screen, size);
    pos.setX(std::max(area.left(), std::min(pos.x(), area.left() + area.width() - size.width())));
    pos.setY(std::max(area.top(), std::min(pos.y(), area.top() + area.height() - size.height())));
    return QRect(pos, size);
}

QFont UiFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("Noto Sans JP"), QStringLiteral("IPAPGothic")});
    font.setPixelSize(pixelSize);
    return font;
}

QFont DocumentFont(const QString& name, int pointSize)
{
    QFont font;
    // The stored name comes first so it is what the font reports and saves.
    font.setFamilies({name, QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono"),
                      QStringLiteral("Noto Sans Mono CJK JP")});
    font.setStyleHint(QFont::TypeWriter);
    if (pointSize > 0) font.setPointSize(pointSize);
    return font;
}

TFormServices TFormServices::Desktop()
{
    TFormServices services;
    services.MessageBoxes = std::make_shared<TQtMessageBoxes>();
    services.Dialogs = std::make_shared<TQtCommonDialogs>();
    services.Screen = std::make_shared<TQtScreen>();
    services.LibraryPath = DefaultLibraryPath();
    // exit(), not quit(): quitting would close the windows and save twice.
    services.EndEventLoop = [] { QApplication::exit(0); };
    services.OpenUrl = DesktopOpener(QStringLiteral("xdg-open"));
    return services;
}

TForm1::TForm1(TFormServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)), settings_(services_.Settings)
{
    setWindowTitle(kCaption);
    setFont(UiFont(12));
    setMinimumSize(450, 250);
    setGeometry(131, 197, 651, 513);

    auto* client = new QWidget(this);
    setCentralWidget(client);

    Label1 = new QLabel(QStringLiteral("#"), client);
    Label1->setFont(UiFont(16));

    auto* numberBox = new TNumberBox(client);
    // The list closes right before the box reports the entry picked in it.
    numberBox->OnListClosed = [this] {
        pickedFromList_ = true;
        QTimer::singleShot(0, this, [this] { pickedFromList_ = false; });
    };
    RFCNumber = numberBox;
    RFCNumber->setEditable(true);
    RFCNumber->setInsertPolicy(QComboBox::NoInsert);
    RFCNumber->setMaxVisibleItems(15);
    RFCNumber->setFixedSize(329, 20);
    RFCNumber->setEditText(QStringLiteral("2223"));
    // Enter fetches what was typed: nothing is completed into the box from the history.
    RFCNumber->setCompleter(nullptr);
    // An entry picked from the drop-down list is fetched at once. The box
    // also reports an activation when its field loses the focus holding an
    // entry's text, so only one that follows a pick in the list counts.
    connect(RFCNumber, &QComboBox::activated, this, [this] {
        if (!std::exchange(pickedFromList_, false)) return;
        Guarded([this] { mOpenFromWebClick(); });
    });

    PrintBtn = new QPushButton(QStringLiteral("印刷"), client);
    PrintBtn->setFixedSize(33, 25);
    connect(PrintBtn, &QPushButton::clicked, this, [this] { Guarded([this] { mPrintClick(); }); });

    Memo1 = new TTextPane(client);
    // The pane's own font until the first activation gives it the font dialog's.
    QFont paneFont = DocumentFont(QStringLiteral("Courier New"), 0);
    paneFont.setPixelSize(13);
    Memo1->setFont(paneFont);

    Tabs = new QTabBar(client);
    Tabs->setDocumentMode(true);
    Tabs->setElideMode(Qt::ElideRight);
    Tabs->setExpanding(false);
    Tabs->setFocusPolicy(Qt::NoFocus);
    Tabs->addTab(kNewTab);
    Tabs->setVisible(false);
    tabs_.resize(1);
    tabs_[0].Id = nextTabId_++;
    connect(Tabs, &QTabBar::currentChanged, this, [this](int index) { Guarded([this, index] { SwitchTab(index); }); });

    setTabOrder(Memo1, RFCNumber);
    setTabOrder(RFCNumber, PrintBtn);

    StatusBar1 = statusBar();
    StatusBar1->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar1);
    // Reason phrases, file names and index failures land here: text, never markup.
    statusLabel_->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(statusLabel_, 1);

    FontDlg.Font = DocumentFont(QStringLiteral("Courier New"), 0);
    FontDlg.Font.setPixelSize(12);

    version = std::make_unique<TversionInfo>(true);

    progressLabel_ = new QLabel(StatusBar1);
    progressLabel_->setVisible(false);
    StatusBar1->addPermanentWidget(progressLabel_);
    CancelBtn = new QPushButton(QStringLiteral("中止"), StatusBar1);
    CancelBtn->setVisible(false);
    CancelBtn->setFocusPolicy(Qt::NoFocus);
    StatusBar1->addPermanentWidget(CancelBtn);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelFetch(); });
    escapeWatch_ = new TEscapeWatch(*this, [this] { CancelFetch(); });
    CreateFetcher();
    // The window's own views follow first, so the reading aids find the pane already showing the document.
    Session.ReadingLine = [this] {
        // A document about to be left keeps its position for the next time it is shown.
        if (Reader) Reader->KeepPosition();
        return Memo1->FirstVisibleSourceLine();
    };
    // Only an edited pane gives its text: an unedited document is shown again from its own bytes.
    Session.EditedText = [this]() -> std::optional<std::string> {
        if (!Memo1->Modified()) return std::nullopt;
        Memo1->SetModified(false);
        return Utf8Of(Memo1->Text());
    };
    Session.Subscribe([this](TSessionChange change) { FollowSession(change); });

    BuildMenu();
    CreateReader();
    CreateCommands();
    CreatePrintCommands();
    FormCreate();
    BuildLayout();
    // Watched only now that every control exists.
    RFCNumber->installEventFilter(this);
    RFCNumber->lineEdit()->installEventFilter(this);
}

TForm1::~TForm1()
{
    // No worker outlives the window or its tabs' fetchers.
    EndFetches();
}

std::function<void(const QString& url)> DesktopOpener(const QString& program)
{
    return [program](const QString& url) { QProcess::startDetached(program, {url}); };
}

void TForm1::OpenLink(const QString& link)
{
    const QByteArray bytes = link.toUtf8();
    const std::optional<std::string> url = BrowserUrl(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!url) {
        SetStatusText(QStringLiteral("このリンクは開きません: ") + link);
        return;
    }
    if (services_.OpenUrl) services_.OpenUrl(QString::fromStdString(*url));
}

void TForm1::CreateReader()
{
    TReaderHooks hooks;
    hooks.FetchRfc = [this](int rfc, std::function<void()> shown) {
        if (FrontFetching()) return;
        RFCNumber->setEditText(QString::number(rfc));
        (void)FetchTyped([shown = std::move(shown)](TCommandOutcome outcome) {
            if (outcome == TCommandOutcome::Shown && shown) shown();
        });
    };
    hooks.OpenUrl = [this](const QString& url) { OpenLink(url); };
    hooks.Status = [this](const QString& text) { SetStatusText(text); };
    hooks.StatusText = [this] { return StatusText(); };
    hooks.Guarded = [this](const std::function<void()>& body) { Guarded(body); };
    hooks.FetchRfcInNewTab = [this](int rfc, std::function<void()> shown) { FetchInNewTab(rfc, std::move(shown)); };
    hooks.Busy = [this] { return FrontFetching(); };
    // Reading positions live in the library, when there is one.
    hooks.ReadingLine = [this](const std::string& url) {
        return LibraryStore ? LibraryStore->Cache.ReadingLine(url) : std::nullopt;
    };
    hooks.KeepReadingLine = [this](const std::string& url, int line) {
        if (LibraryStore) LibraryStore->Cache.KeepReadingLine(url, line);
    };
    Reader = std::make_unique<TReaderView>(*this, *Memo1, Session, std::move(hooks));
}

void TForm1::CreateCommands()
{
    TCommandHost host;
    host.Message = [this](const std::string& text) { ShowMessage(Utf8(text)); };
    host.Status = [this](const std::string& text) { SetStatusText(Utf8(text)); };
    host.UrlFormat = [this] { return TextToSetting(OptionDlg->UrlBase->text()); };
    host.HistCount = [this] { return OptionDlg->GetHistCount(); };
    host.Settings = [this] { return CurrentFetchSettings(); };
    host.ShownLines = [this] { return Memo1->LineCount(); };
    host.ShownNames = [this] {
        return std::pair<int, std::string>{ExtractNumber(Memo1->Lines()), ExtractTitle(Memo1->Lines())};
    };
    host.RunNetwork = [this](std::function<void(TFetcher&)> work, std::function<void()> then) {
        RunNetwork(std::move(work), std::move(then));
    };
    host.Offline = [this] { return Library && Library->Offline(); };
    host.ShowList = [this](const std::string& text) {
        if (Library) Library->OpenLibraryWindow(Utf8(text));
    };
    if (!services_.LibraryPath.empty()) {
        LibraryStore = std::make_unique<TLibraryStore>(services_.LibraryPath);
        host.LibraryFault = [this](const std::string& fault) {
            if (Library) Library->ShowFault(fault);
        };
        TLibraryHooks hooks;
        hooks.Guarded = [this](const std::function<void()>& body) { Guarded(body); };
        hooks.OpenNumber = [this](int number) {
            if (FrontFetching()) return;
            RFCNumber->setEditText(QString::number(number));
            Guarded([this] { mOpenFromWebClick(); });
        };
        hooks.RemoveHistoryEntry = [this](int index) { RemoveHistoryEntry(index); };
        hooks.FetchAgain = [this] { mRefetchClick(); };
        hooks.UpdateIndex = [this] { mUpdateIndexClick(); };
        hooks.OpenLink = [this](const QString& link) { OpenLink(link); };
        hooks.UrlFormat = [this] { return OptionDlg ? TextToSetting(OptionDlg->UrlBase->text()) : std::string(); };
        hooks.Settings = [this] { return CurrentFetchSettings(); };
        hooks.OfflineSetting = [this] { return OptionDlg ? &OptionDlg->Offline : nullptr; };
        hooks.Status = [this](const QString& text) { SetStatusText(text); };
        hooks.Confirm = [this](const QString& question) {
            return services_.MessageBoxes->AskYesNo(this, question, QApplication::applicationName());
        };
        Library =
            std::make_unique<TLibraryCommands>(*this, *RFCNumber, *Memo1, *LibraryStore, Session, std::move(hooks));
        Reader->Menu->addSeparator();
        Reader->Menu->addAction(Library->mOffline);
    }
    Commands = std::make_unique<TDocumentCommands>(Session, *Fetcher, LibraryStore.get(), std::move(host));
}

void TForm1::FollowSession(TSessionChange change)
{
    const TDocument* shown = Session.Shown();
    if (!shown && change != TSessionChange::History) {
        // A new tab: nothing to read or print yet, and the box waits for a number.
        Memo1->LoadText(QString());
        PrintBtn->setEnabled(false);
        setWindowTitle(kCaption);
        RFCNumber->setEditText(QString());
        NameTab();
        return;
    }
    switch (change) {
    case TSessionChange::Document:
        Memo1->LoadText(shown->Edited ? PaneTextFromUtf8(*shown->Edited) : FileTextToPaneText(shown->Body));
        [[fallthrough]];
    case TSessionChange::Names:
        // The open command has always left the button as it was; every other document is printable.
        if (shown->Origin != TDocumentOrigin::File ||
            (!shown->Entry.empty() && shown->Entry.find(" * ") == std::string::npos))
            printable_ = true;
        PrintBtn->setEnabled(printable_);
        setWindowTitle(shown->Entry.empty() ? kCaption : Utf8(shown->Entry) + QStringLiteral(" - ") + kCaption);
        // The document shown again at start keeps the box as the history left it.
        if (!shown->BoxText.empty()) RFCNumber->setEditText(Utf8(shown->BoxText));
        NameTab();
        if (change == TSessionChange::Names) break;
        [[fallthrough]];
    case TSessionChange::Place: Memo1->ScrollToSourceLine(Session.Line()); [[fallthrough]];
    case TSessionChange::Status:
        if (!Session.Status().empty()) SetStatusText(Utf8(Session.Status()));
        break;
    case TSessionChange::History: SyncNumberBox(); break;
    }
}

TFetchSettings TForm1::CurrentFetchSettings() const { return FetchSettingsOf(ConnectionOptionsOf(*OptionDlg)); }

void TForm1::SetOptionDlg(TOptionDlg* dialog)
{
    OptionDlg = dialog;
    if (!dialog) return;
    dialog->AcceptUrlFormat = [this](const QString& text) {
        const std::string format = TextToSetting(text);
        const TUrlProblem problem = CheckUrlFormat(format, 5);
        if (problem == TUrlProblem::None) return true;
        ShowMessage(Utf8(UrlProblemMessage(problem, format)));
        return false;
    };
}

void TForm1::BuildMenu()
{
    auto add = [this](QMenu* menu, const QString& caption, const QKeySequence& keys, void (TForm1::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
        return action;
    };
    N1 = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mOpen = add(N1, QStringLiteral("開く(&O)"), QKeySequence(Qt::CTRL | Qt::Key_O), &TForm1::mOpenClick);
    mOpenFromWeb =
        add(N1, QStringLiteral("webから取得(&W)"), QKeySequence(Qt::CTRL | Qt::Key_M), &TForm1::mOpenFromWebClick);
    N1->addSeparator();
    mNewTab = add(N1, QStringLiteral("新しいタブ(&T)"), QKeySequence(Qt::CTRL | Qt::Key_T), &TForm1::mNewTabClick);
    mCloseTab = add(N1, QStringLiteral("タブを閉じる"), QKeySequence(Qt::CTRL | Qt::Key_W), &TForm1::mCloseTabClick);
    // Beside the menu, as the keys alone: they belong to the window wherever the focus is.
    mNextTab = new QAction(this);
    mNextTab->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    mPreviousTab = new QAction(this);
    mPreviousTab->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    for (QAction* action : {mNextTab, mPreviousTab}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(mNextTab, &QAction::triggered, this, [this] { Guarded([this] { mNextTabClick(); }); });
    connect(mPreviousTab, &QAction::triggered, this, [this] { Guarded([this] { mPreviousTabClick(); }); });
    N2 = N1->addSeparator();
    mPrint = add(N1, QStringLiteral("印刷(&P)"), QKeySequence(Qt::CTRL | Qt::Key_P), &TForm1::mPrintClick);
    mPrintPreview = add(N1, QStringLiteral("印刷プレビュー"), QKeySequence(), &TForm1::mPrintPreviewClick);
    mExportPdf = add(N1, QStringLiteral("PDFに書き出し..."), QKeySequence(), &TForm1::mExportPdfClick);
    N3 = N1->addSeparator();
    mQuit = add(N1, QStringLiteral("終了(&X)"), QKeySequence(), &TForm1::mQuitClick);
    O2 = menuBar()->addMenu(QStringLiteral("オプション(&O)"));
    mHttpConf =
        add(O2, QStringLiteral("httpの設定"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O), &TForm1::mHttpConfClick);
    mFontConf = add(O2, QStringLiteral("フォントの指定"), QKeySequence(Qt::CTRL | Qt::Key_F), &TForm1::mFontConfClick);
}

void TForm1::FormCreate()
{
    FirstActivate = true;
    PrintBtn->setEnabled(false);
}

bool TForm1::Guarded(const std::function<void()>& body)
{
    try {
        body();
        return true;
    } catch (const std::exception& e) {
        ReportFailure(e);
        return false;
    }
}

void TForm1::ReportFailure(const std::exception& failure)
{
    services_.MessageBoxes->ShowError(this, ErrorReportText(ExceptionText(failure)));
}

void TForm1::ShowMessage(const QString& text) { services_.MessageBoxes->ShowMessage(this, text); }

QString TForm1::StatusText() const { return statusLabel_->text(); }

void TForm1::SetStatusText(const QString& text) { statusLabel_->setText(text); }

bool TForm1::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show) {
        bool handled = QMainWindow::event(e);
        if (FirstActivate) Guarded([this] { FormActivate(); });
        return handled;
    }
    if (e->type() == QEvent::Resize) {
        const bool handled = QMainWindow::event(e);
        FormResize();
        return handled;
    }
    return QMainWindow::event(e);
}

void TForm1::FormResize()
{
    // The layout keeps the pane 8 pixels from the client area's edges. Laid out
    // now rather than on the event loop's next pass, so whatever reads the
    // pane's size right after a resize (the start's placing, a test) sees it.
    if (QLayout* layout = centralWidget()->layout()) layout->activate();
}

void TForm1::FormActivate()
{
    if (!FirstActivate) return;
    FirstActivate = false;
    LoadState();
    Reader->SetDocumentFont(FontDlg.Font);
    // What this run would write unchanged: only what differs from it is the run's own change.
    settings_.KeepBaseline([this](TIniFile& ini) { WriteState(ini); });
    QString status = QString::fromStdString(version->GetVersionText());
    const QString written = SettingToText(settings_.Place().WritePath);
    if (settings_.Place().Redirected) status += QStringLiteral("  ") + kRedirected.arg(written);
    if (ProtectSecrets()) status += QStringLiteral("  ") + kMadePrivate.arg(written);
    SetStatusText(status);
    if (Library) Library->Started();
    RestoreTabs();
    Commands->TellLibraryFault();
}

void TForm1::LoadState()
{
    TIniFile ini(settings_.Place().ReadPath);
    QString name = SettingToText(ini.ReadString("font", "Name", "Courier New"));
    if (!name.isEmpty()) FontDlg.Font = DocumentFont(LeftWhole(name, kMaxFontName), PointSizeOf(FontDlg.Font));
    int points = ini.ReadInteger("font", "size", 10);
    if (points > 0) FontDlg.Font.setPointSize(points);

    TDocumentHistory::TLoadResult loaded = Session.LoadHistory(ini);
    RFCNumber->setEditText(QString::fromStdString(loaded.FirstEntry));
    if (loaded.Damaged) ShowMessage(kDamagedHistory);

    // Capped before it is applied: a window far larger than the screen
    // cannot be drawn (offscreen its backing store asks for terabytes).
    const QSize stored(ini.ReadInteger("window", "width", 640), ini.ReadInteger("window", "height", 512));
    const QRect place = PlaceOnScreen(stored, minimumSize(), services_.Screen->Size(), services_.Screen->Available());
    resize(place.size());
    move(place.topLeft());
    Reader->Load(ini);

    savedTabs_.clear();
    const int count = std::clamp(int(ini.ReadInteger(kTabsSection, "Count", 0)), 0, 100);
    for (int i = 1; i <= count; ++i) {
        const std::string key = std::to_string(i);
        std::string url = ini.ReadString(kTabsSection, "Url" + key, "");
        if (!url.empty()) savedTabs_.emplace_back(std::move(url), int(ini.ReadInteger(kTabsSection, "Line" + key, 0)));
    }
    savedCurrentTab_ = int(ini.ReadInteger(kTabsSection, "Current", 1)) - 1;
}

void TForm1::SaveState()
{
    const TSettingsStore::TSaveResult saved = settings_.Save([this](TIniFile& ini) { WriteState(ini); });
    if (saved.FellBack && !endingBySignal_) ShowMessage(kFellBack.arg(SettingToText(saved.Path)));
}

bool TForm1::ProtectSecrets()
{
    return settings_.ProtectSecrets([this](TIniFile& ini) { WriteState(ini); });
}

void TForm1::WriteState(TIniFile& ini)
{
    ini.WriteString("font", "Name", TextToSetting(FontDlg.Font.family()));
    ini.WriteInteger("font", "size", PointSizeOf(FontDlg.Font));
    if (OptionDlg) OptionDlg->SaveConf(ini);
    Session.SaveHistory(ini);
    Reader->KeepPosition();
    Reader->Save(ini);
    // Only what the library can show again: a file or an empty tab is not kept.
    int count = 0, current = 0;
    for (int i = 0; i < int(tabs_.size()); ++i) {
        const bool front = i == front_;
        const TDocument* shown = front ? Session.Shown() : tabs_[size_t(i)].Places.Shown();
        if (!shown || shown->Origin == TDocumentOrigin::File) continue;
        const std::string key = std::to_string(++count);
        ini.WriteString(kTabsSection, "Url" + key, shown->Url);
        ini.WriteInteger(kTabsSection, "Line" + key,
                         front ? Memo1->FirstVisibleSourceLine() : tabs_[size_t(i)].Places.Line());
        if (front) current = count;
    }
    ini.WriteInteger(kTabsSection, "Count", count);
    ini.WriteInteger(kTabsSection, "Current", current);
    ini.WriteInteger("window", "width", width());
    ini.WriteInteger("window", "height", height());
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (Library && watched == Library->RelationsBar &&
        (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent)) {
        RelationsBarChanged();
    } else if ((watched == RFCNumber || watched == RFCNumber->lineEdit()) && e->type() == QEvent::FocusOut) {
        // Leaving the field reports an activation too: it is no pick, whatever closed the list before.
        pickedFromList_ = false;
    } else if ((watched == RFCNumber || watched == RFCNumber->lineEdit()) && e->type() == QEvent::KeyPress) {
        // The focus sits on the box itself, which hands keys to its edit field
        // directly, past the field's filters: so both are watched. A key reaches
        // only one of them.
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Guarded([this] { RFCnumberKeyPress(QChar(13)); });
            // Kept from the box: on a text equal to an entry it would pick that entry, a second fetch.
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::BuildLayout()
{
    // The number row along the top, the relations bar (when the library shows
    // one), the tab bar (with more than one tab) and the reading area below,
    // 8 pixels from every edge of the client area; the status bar lies outside
    // it. The pane starts at 40 without the bar, 2 pixels below it with one.
    auto* column = new QVBoxLayout(centralWidget());
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    // The label's glyph reaches under the box, as it always has.
    Label1->setFixedWidth(8);
    row->addWidget(Label1, 0, Qt::AlignTop);
    row->addWidget(RFCNumber, 0, Qt::AlignTop);
    row->addSpacing(7);
    row->addWidget(PrintBtn, 0, Qt::AlignTop);
    row->addStretch(1);
    column->addLayout(row);
    column->addSpacing(3);
    if (Library) {
        column->addWidget(Library->RelationsBar);
        Library->RelationsBar->installEventFilter(this);
    }
    belowBar_ = new QSpacerItem(0, 4, QSizePolicy::Minimum, QSizePolicy::Fixed);
    column->addItem(belowBar_);
    column->addWidget(Tabs);
    column->addWidget(Reader->Area, 1);
    RelationsBarChanged();
}

void TForm1::RelationsBarChanged()
{
    const bool shown = Library && !Library->RelationsBar->isHidden();
    belowBar_->changeSize(0, shown ? 2 : 4, QSizePolicy::Minimum, QSizePolicy::Fixed);
    centralWidget()->layout()->invalidate();
}

void TForm1::closeEvent(QCloseEvent* e)
{
    // Closed while fetches wait: each is cancelled, then the window saves and closes.
    EndFetches();
    if (quitting_ || SaveForExit())
        e->accept();
    else
        e->ignore();
}

bool TForm1::SaveForExit()
{
    try {
        SaveState();
        return true;
    } catch (const EIniFileException& e) {
        // Staying open would not make the folder writable: the user could only kill the program.
        if (!endingBySignal_) ShowMessage(QString::fromUtf8(e.what()) + QStringLiteral("。"));
        return true;
    } catch (const std::exception& e) {
        if (endingBySignal_) return true;
        ReportFailure(e);
        return false;
    }
}

void TForm1::mQuitClick()
{
    EndFetches();
    if (!SaveForExit()) return;
    quitting_ = true;
    if (services_.EndEventLoop) services_.EndEventLoop();
}

void TForm1::EndBySignal()
{
    endingBySignal_ = true;
    if (quitting_) return;
    EndFetches();
    (void)SaveForExit(); // a signal ends the program whether the save worked or not
    quitting_ = true;
    close();
    if (services_.EndEventLoop) services_.EndEventLoop();
}

void TForm1::mHttpConfClick()
{
    if (!OptionDlg) return;
    OptionDlg->KeepValues();
    if (OptionDlg->exec() != QDialog::Accepted)
        OptionDlg->RestoreValues();
    else if (ProtectSecrets())
        SetStatusText(kMadePrivate.arg(SettingToText(settings_.Place().WritePath)));
}

void TForm1::mFontConfClick()
{
    // The dialog starts on the family the pane really shows: a stored family
    // that is not installed is drawn in a stand-in, and the dialog would
    // otherwise fall back to its own default, which OK would then apply.
    const QFontInfo inUse(FontDlg.Font);
    QFont shown = FontDlg.Font;
    shown.setFamilies({inUse.family()});
    if (shown.pointSizeF() <= 0) shown.setPointSizeF(inUse.pointSizeF());
    // Named, so the dialog does not start on the family's first-listed (possibly oblique) style.
    const QString style = StyleToOffer(inUse.family(), inUse.italic(), inUse.weight());
    if (!style.isEmpty()) shown.setStyleName(style);
    std::optional<QFont> chosen = services_.Dialogs->ChooseFont(this, shown);
    if (!chosen) return;
    FontDlg.Font = *chosen;
    Reader->SetDocumentFont(FontDlg.Font);
    Memo1->update();
}

void TForm1::RFCnumberKeyPress(QChar key)
{
    if (key == QChar(13)) mOpenFromWebClick();
}

void TForm1::CreateFetcher()
{
    for (TTab& tab : tabs_)
        if (!tab.Fetcher) tab.Fetcher = std::make_unique<TFetcher>();
    Fetcher = tabs_[size_t(front_)].Fetcher.get();
    IdHTTP1 = &Fetcher->Client();
    IdSSLIOHandlerSocket1 = &Fetcher->Transport();
}

void TForm1::mOpenFromWebClick() { (void)FetchTyped(); }

TCommandOutcome TForm1::FetchTyped(TCommandDone done)
{
    if (FrontFetching()) {
        if (done) done(TCommandOutcome::Refused);
        return TCommandOutcome::Refused;
    }
    return Commands->FetchTyped(TextToSetting(RFCNumber->currentText()), std::move(done));
}

void TForm1::mRefetchClick()
{
    // Fetching again replaces the reader's edits without asking; the status line says they went.
    const auto edited = [this] { return Session.Shown() && (Session.Shown()->Edited || Memo1->Modified()); };
    const bool wasEdited = edited();
    RunCommand([&] {
        (void)Commands->FetchAgain([this, wasEdited, edited](TCommandOutcome) {
            if (wasEdited && !edited()) Session.SetStatus(Session.Status() + kEditsDropped);
        });
    });
}

void TForm1::mUpdateIndexClick()
{
    RunCommand([this] {
        (void)Commands->UpdateIndex([this](TCommandOutcome) {
            if (Library) Library->ShowRelations();
        });
    });
}

void TForm1::RunCommand(const std::function<void()>& body)
{
    if (!FrontFetching()) body();
}

bool TForm1::FrontFetching() const { return tabs_[size_t(front_)].Run != nullptr; }

bool TForm1::Fetching() const
{
    return std::any_of(tabs_.begin(), tabs_.end(), [](const TTab& tab) { return tab.Run && !tab.Run->Arrived; });
}

void TForm1::CancelFetch()
{
    const TFetchRun* run = tabs_[size_t(front_)].Run.get();
    if (run && !run->Arrived) run->Fetcher->RequestCancel();
}

void TForm1::RunNetwork(std::function<void(TFetcher&)> work, std::function<void()> then)
{
    TTab& tab = tabs_[size_t(front_)];
    auto run = std::make_shared<TFetchRun>();
    run->Fetcher = tab.Fetcher.get();
    run->Then = std::move(then);
    run->Fetcher->ResetCancel();
    // Called on the worker: posted, a few times a second at most.
    run->Fetcher->OnProgress = [this, run, last = std::chrono::steady_clock::time_point()](int64_t received,
                                                                                           int64_t expected) mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(100)) return;
        last = now;
        QMetaObject::invokeMethod(
            this, [this, run, received, expected] { ShowProgress(run, received, expected); }, Qt::QueuedConnection);
    };
    tab.Run = run;
    // The worker touches the fetcher and what work captured, nothing else; the
    // window joins it before the fetcher or the window goes, so the queued call
    // finds both (a call queued to a window being destroyed is dropped with it).
    run->Worker = std::thread([this, run, work = std::move(work)] {
        try {
            work(*run->Fetcher);
        } catch (const std::exception&) {
            run->Failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            this, [this, run] { FetchArrived(run); }, Qt::QueuedConnection);
    });
    ShowFetchState();
}

void TForm1::ShowProgress(const std::shared_ptr<TFetchRun>& run, int64_t received, int64_t expected)
{
    if (run->Arrived || TabIndex(run.get()) < 0) return;
    const auto kib = [](int64_t bytes) { return QString::number((bytes + 1023) / 1024); };
    run->Progress = expected > 0 ? kib(received) + " / " + kib(expected) + " KB" : kib(received) + " KB";
    ShowFetchState();
}

void TForm1::FetchArrived(const std::shared_ptr<TFetchRun>& run)
{
    // A run whose tab has closed was joined and dropped then.
    const int index = TabIndex(run.get());
    if (index < 0) return;
    run->Worker.join();
    run->Fetcher->OnProgress = nullptr;
    run->Arrived = true;
    if (index == front_)
        FinishFrontFetch();
    else
        ShowFetchState();
}

void TForm1::FinishFrontFetch()
{
    TTab& tab = tabs_[size_t(front_)];
    if (!tab.Run || !tab.Run->Arrived) return;
    // A modal dialog (print, the options, a question) works on what is shown now: the document changes after it.
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(100, this, [this] { FinishFrontFetch(); });
        return;
    }
    const std::shared_ptr<TFetchRun> run = std::exchange(tab.Run, nullptr);
    ShowFetchState();
    if (run->Failure)
        Guarded([&run] { std::rethrow_exception(run->Failure); });
    else
        Guarded(run->Then);
    NameTab();
}

void TForm1::DropFetch(TTab& tab)
{
    const std::shared_ptr<TFetchRun> run = std::exchange(tab.Run, nullptr);
    if (!run) return;
    run->Fetcher->RequestCancel();
    if (run->Worker.joinable()) run->Worker.join();
    run->Fetcher->OnProgress = nullptr;
}

void TForm1::EndFetches()
{
    for (TTab& tab : tabs_) DropFetch(tab);
    ShowFetchState();
}

void TForm1::ShowFetchState()
{
    const TFetchRun* run = tabs_[size_t(front_)].Run.get();
    const bool running = run && !run->Arrived;
    CancelBtn->setVisible(running);
    progressLabel_->setText(running ? run->Progress : QString());
    progressLabel_->setVisible(running && !run->Progress.isEmpty());
    if (running)
        qApp->installEventFilter(escapeWatch_);
    else
        qApp->removeEventFilter(escapeWatch_);
    for (int i = 0; i < int(tabs_.size()); ++i)
        if (tabs_[size_t(i)].Run) Tabs->setTabText(i, tabs_[size_t(i)].Run->Arrived ? kFetched : kFetching);
}

int TForm1::TabIndex(int id) const
{
    for (int i = 0; i < int(tabs_.size()); ++i)
        if (tabs_[size_t(i)].Id == id) return i;
    return -1;
}

int TForm1::TabIndex(const TFetchRun* run) const
{
    for (int i = 0; i < int(tabs_.size()); ++i)
        if (tabs_[size_t(i)].Run.get() == run) return i;
    return -1;
}

void TForm1::RemoveHistoryEntry(int index) { Session.RemoveHistoryEntry(index); }

void TForm1::mOpenClick()
{
    if (FrontFetching()) return;
    std::optional<QString> path = services_.Dialogs->OpenFile(this, OpenDlg.Filter, OpenDlg.DefaultExt);
    if (!path) return;
    OpenFile(*path);
}

void TForm1::OpenFile(const QString& path)
{
    OpenDlg.FileName = path;
    // Not guarded here: a file that cannot be read ends the command with the general error report.
    (void)Commands->OpenFile(path.toStdString());
}

void TForm1::CreatePrintCommands()
{
    TPrintHost host;
    // The pane's own lines, edits included: what is printed must not depend on the window's width.
    host.PaneLines = [this] { return &Memo1->SourceLines(); };
    host.Font = [this] { return FontDlg.Font; };
    host.AskFit = [this](const std::string& text, const std::string& caption) {
        return services_.MessageBoxes->AskYesNo(this, Utf8(text), Utf8(caption));
    };
    host.Failure = [this](const std::string& message) {
        services_.MessageBoxes->ShowError(this, ErrorReportText(Utf8(message)));
    };
    host.Parent = this;
    Printing = std::make_unique<TPrintCommands>(Session, *services_.Dialogs, std::move(host));
}

void TForm1::mPrintClick() { (void)Printing->Print(); }

void TForm1::mPrintPreviewClick() { (void)Printing->Preview(); }

void TForm1::mExportPdfClick() { (void)Printing->ExportPdf(); }

void TForm1::SyncNumberBox()
{
    const QString text = RFCNumber->currentText();
    const QSignalBlocker block(RFCNumber);
    RFCNumber->clear();
    for (const std::string& entry : Session.History().Entries()) RFCNumber->addItem(QString::fromStdString(entry));
    RFCNumber->setCurrentIndex(-1);
    RFCNumber->setEditText(text);
    if (Library) Library->MarkHistory();
}

void TForm1::NameTab()
{
    const TDocument* shown = Session.Shown();
    QString name = kNewTab;
    if (shown && shown->Number > 0)
        name = QStringLiteral("RFC %1").arg(shown->Number);
    else if (shown && !shown->Title.empty())
        name = Utf8(shown->Title);
    else if (shown)
        name = Utf8(shown->Url.substr(shown->Url.find_last_of('/') + 1));
    const int index = Tabs->currentIndex();
    Tabs->setTabText(index, name);
    Tabs->setTabToolTip(index, shown ? Utf8(shown->Entry.empty() ? shown->Url : shown->Entry) : QString());
}

void TForm1::SwitchTab(int index)
{
    if (index < 0 || index >= int(tabs_.size()) || index == front_) return;
    TTab& leaving = tabs_[size_t(front_)];
    TTab& coming = tabs_[size_t(index)];
    leaving.Reading = Reader->State();
    leaving.Printable = printable_;
    leaving.BoxText = RFCNumber->currentText();
    front_ = index;
    if (Tabs->currentIndex() != index) {
        const QSignalBlocker block(Tabs);
        Tabs->setCurrentIndex(index);
    }
    printable_ = coming.Printable;
    // The find bar takes the tab's state first, so closing it leaves no selection in the document
    // coming; the place left is where it was read, wherever that scrolled the pane.
    const int readingAt = Memo1->FirstVisibleSourceLine();
    Reader->SetState(coming.Reading);
    Session.SetLine(readingAt);
    leaving.Places = Session.Exchange(std::move(coming.Places));
    coming.Places = {};
    // Where the tab was read, whatever the find bar's search of the document scrolled to.
    if (Session.Shown()) Memo1->ScrollToSourceLine(Session.Line());
    RFCNumber->setEditText(coming.BoxText);
    PrintBtn->setEnabled(Session.Shown() && printable_);
    CreateFetcher();
    ShowFetchState();
    // A result that came while the tab was behind shows now that it is in front, once the switch is done.
    if (coming.Run && coming.Run->Arrived)
        QMetaObject::invokeMethod(
            this, [this] { FinishFrontFetch(); }, Qt::QueuedConnection);
}

void TForm1::InsertTab(int at)
{
    TTab tab;
    tab.Id = nextTabId_++;
    tab.Fetcher = std::make_unique<TFetcher>();
    // The print button has always stayed enabled once a printable document was shown.
    tab.Printable = printable_;
    tab.Reading = Reader->State();
    tab.Reading.FindOpen = false;
    tabs_.insert(tabs_.begin() + at, std::move(tab));
    if (at <= front_) ++front_;
    {
        const QSignalBlocker block(Tabs);
        Tabs->insertTab(at, kNewTab);
    }
    Tabs->setVisible(true);
    SwitchTab(at);
}

void TForm1::mNewTabClick()
{
    InsertTab(front_ + 1);
    RFCNumber->setFocus();
}

void TForm1::mCloseTabClick()
{
    if (tabs_.size() < 2) return;
    CloseTab(front_, front_ + 1 < int(tabs_.size()) ? front_ + 1 : front_ - 1);
}

void TForm1::CloseTab(int index, int next)
{
    if (tabs_.size() < 2 || index == next) return;
    DropFetch(tabs_[size_t(index)]);
    if (index == front_) SwitchTab(next);
    tabs_.erase(tabs_.begin() + index);
    if (front_ > index) --front_;
    {
        const QSignalBlocker block(Tabs);
        Tabs->removeTab(index);
        Tabs->setCurrentIndex(front_);
    }
    Tabs->setVisible(tabs_.size() > 1);
}

void TForm1::mNextTabClick()
{
    if (tabs_.size() < 2) return;
    SwitchTab((front_ + 1) % int(tabs_.size()));
}

void TForm1::mPreviousTabClick()
{
    if (tabs_.size() < 2) return;
    SwitchTab((front_ + int(tabs_.size()) - 1) % int(tabs_.size()));
}

void TForm1::FetchInNewTab(int rfc, std::function<void()> shown)
{
    const int from = tabs_[size_t(front_)].Id;
    InsertTab(front_ + 1);
    RFCNumber->setEditText(QString::number(rfc));
    (void)FetchTyped([this, from, tab = tabs_[size_t(front_)].Id, shown = std::move(shown)](TCommandOutcome outcome) {
        if (outcome == TCommandOutcome::Shown && shown) shown();
        const int index = TabIndex(tab);
        if (outcome == TCommandOutcome::Shown || index != front_) return;
        // Nothing to read in it: the reader is back where the link was, the status line saying why.
        const QString status = StatusText();
        const int back = TabIndex(from);
        CloseTab(index, back >= 0 ? back : (index > 0 ? index - 1 : 1));
        SetStatusText(status);
    });
}

void TForm1::RestoreTabs()
{
    const std::vector<std::pair<std::string, int>> saved = std::exchange(savedTabs_, {});
    if (!Library || saved.empty()) return;
    const int current = std::clamp(savedCurrentTab_, 0, int(saved.size()) - 1);
    // The library's start has shown the front tab's document already.
    const TDocument* shown = Session.Shown();
    if (shown && shown->Url == saved[size_t(current)].first) Session.SetLine(saved[size_t(current)].second);
    int front = front_;
    int at = front; // the tabs that were before the front one go before it
    for (int i = 0; i < int(saved.size()); ++i) {
        if (i == current) {
            at = front + 1;
            continue;
        }
        if (!LibraryStore->Cache.Contains(saved[size_t(i)].first)) continue;
        InsertTab(at);
        if (at <= front) ++front;
        ++at;
        if (Library->ShowCopy(saved[size_t(i)].first)) Session.SetLine(saved[size_t(i)].second);
    }
    SwitchTab(front);
}
