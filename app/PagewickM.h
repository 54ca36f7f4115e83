// TForm1: the main window. Owns the widgets (number box, print button, text
// pane, status bar, menu, tab bar), the document session (what is shown, the
// places and the history), the tabs (each one's document and places, held
// while another tab shows), the fetcher, the library and the commands over them;
// references the options dialog (created after it, alive until the end).
// Calls go one way: handlers call the commands, the commands change the
// session, and the widgets follow the session's notification. Handlers are
// thin adapters; every handler body runs inside Guarded(), so a failure no
// command catches reaches the general error report and the program goes on.
// GUI thread only, but for the fetch workers: a command's network exchange
// runs on a worker thread of its tab with that tab's fetcher, which nothing
// else touches meanwhile; the result comes back as a queued call. The window
// cancels and joins every worker before it goes.
#pragma once

#include "app/DocumentCommands.h"
#include "app/DocumentSession.h"
#include "app/FetchSettings.h"
#include "app/PrintCommands.h"
#include "app/ReaderView.h"
#include "settings/SettingsStore.h"

#include <QFont>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class QAction;
class TIdHTTP;
class TIniFile;
class TLibraryCommands;
class TIdSSLIOHandlerSocket;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTabBar;
class TCommonDialogs;
class TMessageBoxes;
class TOptionDlg;
class TReaderView;
class TScreen;
class TTextPane;
class TversionInfo;
class TSignalPipe;

// The desktop services the window talks to; tests replace them with scripted ones.
struct TFormServices {
    std::shared_ptr<TMessageBoxes> MessageBoxes;
    std::shared_ptr<TCommonDialogs> Dialogs;
    std::shared_ptr<TScreen> Screen;
    // The settings file read at start and written at the end (the program
    // chooses it with ChooseSettingsPlace).
    TSettingsPlace Settings{"Scrivlet.ini", "Scrivlet.ini", "", false};
    // The library's database file; empty: the window works without a library.
    std::string LibraryPath;
    // Ends the event loop without closing the windows.
    std::function<void()> EndEventLoop;
    // Opens a web address in the desktop's browser; only what BrowserUrl accepts reaches it.
    std::function<void(const QString& url)> OpenUrl;
    static TFormServices Desktop();
};

// Starts program with the URL as its one argument, detached and without a
// shell: the desktop's opener in production, a stand-in in tests.
std::function<void(const QString& url)> DesktopOpener(const QString& program);

// The font dialog's font is the single authority for the document font.
struct TFontDlg {
    QFont Font;
};

struct TOpenDlg {
    QString Filter = QStringLiteral("テキストファイル|*.txt|すべてのファイル|*.*");
    QString DefaultExt = QStringLiteral(".txt");
    QString FileName;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(TFormServices services, QWidget* parent = nullptr);
    ~TForm1() override;

    // Also makes the dialog's OK refuse a URL format no fetch could use.
    void SetOptionDlg(TOptionDlg* dialog);

    // Controls and components, named as the window definition names them.
    QLabel* Label1;
    TTextPane* Memo1;
    QStatusBar* StatusBar1;
    QMenu* N1;
    QAction* mOpen;
    QAction* mOpenFromWeb;
    QAction* N2;
    QAction* mPrint;
    QAction* mPrintPreview;
    QAction* mExportPdf;
    QAction* N3;
    QAction* mQuit;
    // Tabs: each shows a document of its own with its own places, find state
    // and zoom; the bar shows only while there is more than one.
    QTabBar* Tabs;
    QAction* mNewTab;
    QAction* mCloseTab;
    QAction* mNextTab;
    QAction* mPreviousTab;
    QMenu* O2;
    QAction* mHttpConf;
    QAction* mFontConf;
    TFontDlg FontDlg;
    TOpenDlg OpenDlg;
    QComboBox* RFCNumber;
    QPushButton* PrintBtn;
    // Beside the transfer's progress while the front tab fetches; cancels it, as Esc does.
    QPushButton* CancelBtn;
    std::unique_ptr<TversionInfo> version;
    // What the window shows: the document, its places and the history. Declared
    // before everything that follows it.
    TDocumentSession Session;
    // The front tab's fetcher, with its client and TLS transport. Each tab has
    // its own for as long as it lives, so a fetch in one tab runs alongside
    // another's; these three follow the tab that comes to the front.
    TFetcher* Fetcher = nullptr;
    TIdSSLIOHandlerSocket* IdSSLIOHandlerSocket1 = nullptr;
    TIdHTTP* IdHTTP1 = nullptr;
    TOptionDlg* OptionDlg = nullptr;
    // Find, contents, links, back and forward, zoom: the menu "表示" and what it drives.
    std::unique_ptr<TReaderView> Reader;
    // The library's database and cache, and its menu, relations bar and search window; absent without a library.
    std::unique_ptr<TLibraryStore> LibraryStore;
    std::unique_ptr<TLibraryCommands> Library;
    // Fetch, open, fetch again, update the index: the same commands the command line runs.
    std::unique_ptr<TDocumentCommands> Commands;
    // Print, print preview and export as PDF of what the pane shows.
    std::unique_ptr<TPrintCommands> Printing;

    QString StatusText() const;
    void SetStatusText(const QString& text);
    const TDocumentHistory& History() const { return Session.History(); }
    const TStringList& UrlList() const { return Session.History().Urls(); }
    // The fetch settings the options hold now.
    TFetchSettings CurrentFetchSettings() const;
    // A link from a document, the index or a server: an http or https address
    // goes to the desktop's browser, anything else is only named on the status line.
    void OpenLink(const QString& link);

    // Handlers.
    void FormActivate();
    // Lays the client area out at once: the pane fills it within 8-pixel margins.
    void FormResize();
    void mOpenClick();
    void mOpenFromWebClick();
    void mPrintClick();
    // The pages as printing would draw them, after the same fit check; the
    // preview's own print button prints those pages.
    void mPrintPreviewClick();
    // What the pane shows into a PDF file the user names.
    void mExportPdfClick();
    void mQuitClick();
    void mHttpConfClick();
    void mFontConfClick();
    void RFCnumberKeyPress(QChar key);

    // The open command after its dialog: shows the file at path and adds it
    // to the history. A file that cannot be read raises and changes nothing.
    void OpenFile(const QString& path);
    // The fetch command for the number box's text: how it ended, or Started while
    // it waits on the network (done tells the end then, unless the tab closes or
    // the window ends first). Refused while the front tab fetches.
    TCommandOutcome FetchTyped(TCommandDone done = {});
    // Whether some tab's fetch still waits on the network.
    bool Fetching() const;
    // Esc and 中止: the front tab's fetch ends as cancelled; nothing when it has none.
    void CancelFetch();
    // A new empty tab after the current one, brought to the front.
    void mNewTabClick();
    // Closes the current tab; the last one stays.
    void mCloseTabClick();
    void mNextTabClick();
    void mPreviousTabClick();
    // Brings tab index to the front: the session, the pane and the number box show its document.
    void SwitchTab(int index);
    // RFC number in a new tab; the tab goes again when the fetch shows nothing.
    // shown (when set) runs once it shows, in that tab.
    void FetchInNewTab(int rfc, std::function<void()> shown = {});

    // ライブラリ → もう一度取得 and 索引を更新.
    void mRefetchClick();
    void mUpdateIndexClick();

    // A signal to end the program: cancels every fetch, then saves and ends as
    // the quit command does, without asking anything.
    void EndBySignal();

    // Drops history entry index; the number box follows.
    void RemoveHistoryEntry(int index);

    // Runs one handler body; a failure goes to the general error report.
    // Returns false when the body failed.
    bool Guarded(const std::function<void()>& body);
    // The general error report: the failure's message in an error box.
    void ReportFailure(const std::exception& failure);

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormCreate();
    void BuildMenu();
    // One layout for the client area: the number row, the relations bar, the tab bar and the reading area.
    void BuildLayout();
    // The gap below the relations bar follows its showing and hiding.
    void RelationsBarChanged();
    void LoadState();
    void SaveState();
    // The window's and the options' state as the settings file keeps it.
    void WriteState(TIniFile& ini);
    // Makes the settings file private once a password is to be stored in
    // it; true when it did, for the caller to say so.
    [[nodiscard]] bool ProtectSecrets();
    void SyncNumberBox();
    void ShowMessage(const QString& text);
    // Gives each tab without one its fetcher; the named members follow the front tab's.
    void CreateFetcher();
    void CreateReader();
    void CreateCommands();
    void CreatePrintCommands();
    // The views that follow the session: pane, caption, number box, status line, print action.
    void FollowSession(TSessionChange change);
    // A command that changes the front tab's document; refused quietly while that tab fetches.
    void RunCommand(const std::function<void()>& body);
    bool FrontFetching() const;
    // The tabs open at the last exit, each from the library's copy of its document.
    void RestoreTabs();
    void NameTab();
    // Saves at the end of the program; a folder that cannot be written is
    // reported and does not keep the program from ending. False when the
    // save failed otherwise (the window then stays).
    [[nodiscard]] bool SaveForExit();

    TFormServices services_;
    TSettingsStore settings_;
    QLabel* statusLabel_ = nullptr;
    bool FirstActivate = true;
    // A fetch running for a tab: its worker thread, and what follows it on the
    // GUI thread once the result is in, run when the tab is at the front (it
    // reads the pane, the status line and the session, which belong to that tab).
    struct TFetchRun {
        std::thread Worker;
        TFetcher* Fetcher = nullptr; // the tab's
        std::function<void()> Then;
        std::exception_ptr Failure; // a program fault the worker raised, reported here
        bool Arrived = false;       // the worker has ended and been joined
        QString Progress;
    };
    // What a tab keeps while another one shows; the current tab's places are in the session.
    struct TTab {
        int Id = 0;
        TDocumentSession::TPlaces Places;
        TReadingState Reading;
        bool Printable = false;
        QString BoxText;
        std::unique_ptr<TFetcher> Fetcher;
        std::shared_ptr<TFetchRun> Run; // while it fetches, and until its result has been shown
    };
    std::vector<TTab> tabs_;
    int front_ = 0; // the tab whose places the session holds
    int nextTabId_ = 1;
    // An empty tab at index at, brought to the front.
    void InsertTab(int at);
    // Closes tab index (dropping its fetch), showing tab next first; the last tab stays.
    void CloseTab(int index, int next);
    // The index of the tab with the id, or of the one running run; -1 when it was closed.
    int TabIndex(int id) const;
    int TabIndex(const TFetchRun* run) const;
    // The commands' RunNetwork: work on a worker thread with the front tab's fetcher, then in that tab.
    void RunNetwork(std::function<void(TFetcher&)> work, std::function<void()> then);
    void ShowProgress(const std::shared_ptr<TFetchRun>& run, int64_t received, int64_t expected);
    // The worker of run has ended: what follows runs now, or when its tab comes to the front.
    void FetchArrived(const std::shared_ptr<TFetchRun>& run);
    void FinishFrontFetch();
    // Cancels the tab's fetch, waits for its worker (a cancel ends every wait at once) and drops what followed it.
    void DropFetch(TTab& tab);
    // Every tab's, before the window ends.
    void EndFetches();
    // The progress, the cancel button, Esc and the fetching tabs' names follow the fetches.
    void ShowFetchState();
    // The tabs the settings name, restored after the first activation: URL and line each.
    std::vector<std::pair<std::string, int>> savedTabs_;
    int savedCurrentTab_ = 0;
    // The print button's state: set by the first printable document shown, as the button has always behaved.
    bool printable_ = false;
    bool quitting_ = false;
    // Ending on a signal: the save asks nothing and the program ends whatever happens.
    bool endingBySignal_ = false;
    // Set when the number box's list closes, for the activation that follows a pick in it.
    bool pickedFromList_ = false;
    // Watches the application's keys while the front tab fetches: Esc in the window cancels.
    QObject* escapeWatch_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    class QSpacerItem* belowBar_ = nullptr;
};

// Where a window of the given size is centred on a screen of the given
// size; the division truncates toward zero, so a window wider than the
// screen overhangs both edges alike (1024 and 1100 give -38).
QPoint CentredPosition(QSize screen, QSize window);

// Where the window goes at start: the stored size, at least the minimum and
// at most the available area (the minimum wins where the area is smaller),
// centred on the screen, then moved into the available area. An empty area
// (no screen) counts as the designed 640 by 512 at the origin. Example:
// stored 16777215 x 512 on a 1024 x 768 screen whose available area is
// (0, 24) 1024 x 720 gives 1024 x 512 at (0, 128).
QRect PlaceOnScreen(QSize stored, QSize minimum, QSize screen, QRect available);

// The fonts the window definition names are Windows fonts; these stand in
// for them where missing while keeping the names the program stores.
QFont UiFont(int pixelSize);
QFont DocumentFont(const QString& name, int pointSize);
