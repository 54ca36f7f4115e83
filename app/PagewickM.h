// TForm1: the main window. Owns the number box, the print button, the text
// pane, the status bar, the menu, the document history and the version
// component; references the options dialog (created after it, alive until
// the end). Handlers are thin: they read widgets, call plain code and write
// results back. Every handler body runs inside Guarded(), so a failure no
// command catches reaches the general error report and the program goes on.
// GUI thread only.
#pragma once

#include "app/DocumentHistory.h"

#include <QFont>
#include <QMainWindow>
#include <QPoint>
#include <QSize>
#include <functional>
#include <memory>
#include <string>

class QAction;
class TIdHTTP;
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
class TScreen;
class TTextPane;
class TversionInfo;

// The desktop services the window talks to; tests replace them with scripted ones.
struct TFormServices {
    std::shared_ptr<TMessageBoxes> MessageBoxes;
    std::shared_ptr<TCommonDialogs> Dialogs;
    std::shared_ptr<TScreen> Screen;
    std::string IniPath = "Scrivlet.ini";
    // The library's database file; empty: the window works without a library.
    std::string LibraryPath;
    // Ends the event loop without closing the windows.
    std::function<void()> EndEventLoop;
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

    void SetOptionDlg(TOptionDlg* dialog) { OptionDlg = dialog; }

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
    std::unique_ptr<TversionInfo> version;
    // The TLS transport of the client, for https documents (and plain bytes for http);
    // declared first so it outlives the client that references it.
    std::unique_ptr<TIdSSLIOHandlerSocket> IdSSLIOHandlerSocket1;
    // The HTTP client of every fetch; lives as long as the window.
    std::unique_ptr<TIdHTTP> IdHTTP1;
    TOptionDlg* OptionDlg = nullptr;
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
    // shows "ファイルが読めませんでした", keeps the pane's text and returns false.
    bool LoadLocalFile(const std::string& url);
    // The open command after its dialog: loads the file at path and adds it
    // to the history. A file that cannot be read raises, the pane left empty.
    void OpenFile(const QString& path);
    // Fetches the URL into the pane with the proxy the options name; on an
    // HTTP error status or a socket failure shows the message, disables the
    // print button and returns false. Other failures propagate.
    bool FetchHttp(const std::string& url);

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

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void FormCreate();
    void BuildMenu();
    void LoadState();
    void SaveState();
    void SyncNumberBox();
    void ShowMessage(const QString& text);
    void ShowProgress(int64_t received);
    // The end of a fetch that failed in one of the two handled ways: says why, disables printing, returns false.
    bool FetchFailed(const QString& message);
    void CreateHttpClient();

    TFormServices services_;
    TDocumentHistory history_;
    QLabel* statusLabel_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    bool FirstActivate = true;
    bool quitting_ = false;
    // A fetch is running: the window stays drawn but takes no second command.
    bool fetching_ = false;
    bool closeAfterFetch_ = false;
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
