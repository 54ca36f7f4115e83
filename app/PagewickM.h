// TForm1: the main window. Owns the number box, the print button, the text
// pane, the status bar, the menu, the document history and the version
// component; references the options dialog (created after it, alive until
// the end). Handlers are thin: they read widgets, call plain code and write
// results back. Every handler body runs inside Guarded(), so a failure no
// command catches reaches the general error report and the program goes on.
// GUI thread only.
#pragma once

#include "app/DocumentHistory.h"
#include "settings/SettingsStore.h"

#include <QFont>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <functional>
#include <memory>
#include <string>

class QAction;
class TIdHTTP;
class TIniFile;
class TLibraryCommands;
class TIdSSLIOHandlerSocket;
class TQtAntiFreeze;
class QComboBox;
class QLabel;
class QMenu;
class QPrinter;
class QPushButton;
class QStatusBar;
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
    // Opens a web address in the desktop's browser.
    std::function<void(const QString& url)> OpenUrl;
    static TFormServices Desktop();
};

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
    QAction* N3;
    QAction* mQuit;
    QMenu* O2;
    QAction* mHttpConf;
    QAction* mFontConf;
    TFontDlg FontDlg;
    TOpenDlg OpenDlg;
    QComboBox* RFCNumber;
    QPushButton* PrintBtn;
    // Beside the transfer's progress while a fetch runs; cancels it, as Esc does.
    QPushButton* CancelBtn;
    std::unique_ptr<TversionInfo> version;
    // The TLS transport of the client, for https documents (and plain bytes for http);
    // declared first so it outlives the client that references it.
    std::unique_ptr<TIdSSLIOHandlerSocket> IdSSLIOHandlerSocket1;
    // The HTTP client of every fetch; lives as long as the window.
    std::unique_ptr<TIdHTTP> IdHTTP1;
    TOptionDlg* OptionDlg = nullptr;
    // Find, contents, links, back and forward, zoom: the menu "表示" and what it drives.
    std::unique_ptr<TReaderView> Reader;
    // The local library's commands and its part in fetching; absent without a library.
    std::unique_ptr<TLibraryCommands> Library;

    QString StatusText() const;
    void SetStatusText(const QString& text);
    const TDocumentHistory& History() const { return history_; }
    const TStringList& UrlList() const { return history_.Urls(); }

    // Handlers.
    void FormActivate();
    void FormResize();
    void mOpenClick();
    void mOpenFromWebClick();
    void mPrintClick();
    // The pages as printing would draw them, after the same fit check; the
    // preview's own print button prints those pages.
    void mPrintPreviewClick();
    void mQuitClick();
    void mHttpConfClick();
    void mFontConfClick();
    void RFCnumberKeyPress(QChar key);

    // Loads the file named by a "file:///" URL into the pane; on any failure
    // (a binary file included) shows "ファイルが読めませんでした", keeps the
    // pane's text and returns false.
    bool LoadLocalFile(const std::string& url);
    // The open command after its dialog: loads the file at path and adds it
    // to the history. A file that cannot be read raises, the pane left empty.
    void OpenFile(const QString& path);
    // How a fetch over the network ended: the message to show (Failed) and
    // the status line's text (Failed, Cancelled).
    struct TFetchOutcome {
        enum TKind { Done, Failed, Cancelled } Kind = Done;
        QString Message;
        QString Status;
    };
    // Fetches the URL into the pane with the proxy and SOCKS hop the options
    // name (or shows it from the library). An HTTP error status, a failure to
    // reach the server and a cancel end it as Failed or Cancelled with the
    // pane as it was; other failures propagate. shownUrl is the URL as the
    // status line may show it and the library keeps it.
    TFetchOutcome FetchOverNetwork(const std::string& url, const std::string& shownUrl);
    // The same, telling the user: on a failure the status line and a message
    // say why and the print button is disabled; false then and on a cancel.
    bool FetchHttp(const std::string& url);

    // A signal to end the program: cancels a running fetch, then saves and
    // ends as the quit command does, without asking anything.
    void EndBySignal();

    // Runs a network command other than the fetch with the window busy as for
    // a fetch; false (and nothing run) while a fetch is under way.
    bool RunBusy(const std::function<void()>& body);
    // Drops history entry index and shows the history again.
    void RemoveHistoryEntry(int index);

    // Runs one handler body; a failure goes to the general error report.
    // Returns false when the body failed.
    bool Guarded(const std::function<void()>& body);
    // The general error report: the failure's message in an error box.
    void ReportFailure(const std::exception& failure);

    // Puts the options' HTTP proxy, SOCKS hop and time limit on the client;
    // every request of the window's client goes out after it.
    void ApplyConnectionSettings();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormCreate();
    // Runs a command that may wait on the network: fetching_ is set, the window takes
    // no input but Esc and the cancel button (hook absent: nothing to cancel), and the
    // progress goes on every way out.
    void WhileFetching(TQtAntiFreeze* hook, const std::function<void()>& body);
    // The fit check's question, asked in a message box over the window.
    std::function<bool(const std::string&, const std::string&)> AskAboutFit();
    void BuildMenu();
    void LoadState();
    void SaveState();
    // The window's and the options' state as the settings file keeps it.
    void WriteState(TIniFile& ini);
    // Makes the settings file private once a password is to be stored in
    // it; true when it did, for the caller to say so.
    bool ProtectSecrets();
    void SyncNumberBox();
    void ShowMessage(const QString& text);
    void ShowProgress(int64_t received);
    void CreateHttpClient();
    void CreateReader();
    // What the user is told when the server could not be reached: the host
    // and port that were tried and the failure.
    QString NoServerMessage(const std::exception& failure, const std::string& url);
    // The window's caption names the document shown.
    void ShowDocumentName(const std::string& entry);
    // The URL the command is to load for the typed text, or "" after saying why there is none.
    std::string UrlForTyped(const std::string& typed, int index);
    // Saves at the end of the program; a folder that cannot be written is
    // reported and does not keep the program from ending. False when the
    // save failed otherwise (the window then stays).
    bool SaveForExit();

    TFormServices services_;
    TSettingsStore settings_;
    TDocumentHistory history_;
    QLabel* statusLabel_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    bool FirstActivate = true;
    bool quitting_ = false;
    // A fetch is running: the window stays drawn but takes no second command.
    bool fetching_ = false;
    bool closeAfterFetch_ = false;
    // Ending on a signal: the save asks nothing and the program ends whatever happens.
    bool endingBySignal_ = false;
    // A close asked for while a command waited on the network happens when it
    // ends, whichever way it ends.
    class TCloseAfterFetch {
    public:
        explicit TCloseAfterFetch(TForm1& form) : form_(form) {}
        ~TCloseAfterFetch();
        TCloseAfterFetch(const TCloseAfterFetch&) = delete;
        TCloseAfterFetch& operator=(const TCloseAfterFetch&) = delete;

    private:
        TForm1& form_;
    };
    // Set when the number box's list closes, for the activation that follows a pick in it.
    bool pickedFromList_ = false;
    std::unique_ptr<TQtAntiFreeze> antiFreeze_;
    QLabel* progressLabel_ = nullptr;
    int64_t expectedBytes_ = 0;
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
