// The reading aids around the text pane, and the menu "表示" that drives
// them: the find bar, the contents panel, links, back and forward through the
// session's places, and the zoom. Owns the reading area: a splitter of the
// contents panel and the pane above its find bar, which the main window puts
// in its layout; showing a panel or the bar is showing it, and the pane's font
// follows the width the layout gives it. Follows the session's notification
// for the rest. GUI thread only.
#pragma once

#include "app/DocumentOutline.h"
#include "app/DocumentPages.h"
#include "app/PaneText.h"

#include <QFont>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QSplitter;
class TContentsPanel;
class TDocumentSession;
class TFindBar;
class TIniFile;
class TPaneLinks;
class TTextPane;
struct TPaneLink;

// What the reading aids ask of the window.
struct TReaderHooks {
    // Runs the fetch command for an RFC number, as the number box does; shown
    // (when set) runs once the document shows, in the tab that fetched it.
    std::function<void(int rfc, std::function<void()> shown)> FetchRfc;
    // Opens a web address in the desktop's browser.
    std::function<void(const QString& url)> OpenUrl;
    // Writes and reads the status line.
    std::function<void(const QString& text)> Status;
    std::function<QString()> StatusText;
    // Runs a command body; a failure goes to the general error report.
    std::function<void(const std::function<void()>& body)> Guarded;
    // Fetches an RFC into a tab of its own (a middle or Ctrl click on its link).
    std::function<void(int rfc, std::function<void()> shown)> FetchRfcInNewTab;
    // True while the tab's document is about to change (it fetches): back and forward wait.
    std::function<bool()> Busy;
    // Where the reader was in the document a URL names, kept across runs;
    // absent hooks keep nothing.
    std::function<std::optional<int>(const std::string& url)> ReadingLine;
    std::function<void(const std::string& url, int line)> KeepReadingLine;
};

// What each tab keeps of the reading aids while another tab shows.
struct TReadingState {
    int Zoom = 100;
    QString FindText;
    bool FindOpen = false;
};

class TReaderView : public QObject {
    Q_OBJECT
public:
    // The reading area takes the pane from its parent and becomes that parent's child; the menu goes on the
    // window's menu bar.
    TReaderView(QMainWindow& window, TTextPane& pane, TDocumentSession& session, TReaderHooks hooks);
    ~TReaderView() override;

    // The font the font dialog holds; the pane shows it at the zoom.
    void SetDocumentFont(const QFont& font);
    // The zoom in percent, kept between 50 and 300.
    int Zoom() const { return zoom_; }
    void SetZoom(int percent);
    void ZoomIn();
    void ZoomOut();
    // Fitting the width (on at the start): the zoom gives way so the
    // document's ordinary lines fit the pane, down to a readable size; below
    // that, and with fitting off, the pane scrolls sideways. Word wrap (off at
    // the start) wraps rows at the pane's width instead.
    void SetFitWidth(bool on);
    void SetWordWrap(bool on);
    bool FitWidth() const { return fitWidth_; }
    bool WordWrap() const { return wordWrap_; }

    void Load(const TIniFile& ini);
    void Save(TIniFile& ini) const;

    // The session's places; nothing while a command changes the document (Busy).
    void Back();
    void Forward();

    // Keeps where the reader is in the shown document for the next time it is
    // shown, also in a later run; a document shown anew starts there.
    void KeepPosition();
    // Scrolls to the page the document numbers page ("[Page 42]"), as a new
    // place; false (and the status line says so) when it has none such.
    bool GoToPage(int page);
    // The number of the page at the top of the pane, 0 when it has none.
    int PageBeingRead() const;

    // Puts the source line at the top of the pane, as a new place.
    void JumpTo(int line);
    // Jumps to the heading numbered section ("3.2", "B"); false when there is none.
    bool JumpToSection(const std::string& section, bool newPlace);
    void Follow(const TPaneLink& link, bool newTab = false);

    TReadingState State() const;
    // Takes a tab's zoom and find state; the find bar searches the shown document.
    void SetState(const TReadingState& state);

    // The outline, links and find results follow edits after a pause; this
    // brings them up to date at once.
    void Refresh();
    const TUtf8Lines& Lines();

    QMenu* Menu;
    QAction* FindAction;
    QAction* FindNextAction;
    QAction* FindPreviousAction;
    QAction* CloseFindAction;
    QAction* ContentsAction;
    QAction* BackAction;
    QAction* ForwardAction;
    QAction* GoToPageAction;
    QAction* FitWidthAction;
    QAction* WordWrapAction;
    QAction* ZoomInAction;
    QAction* ZoomOutAction;
    QAction* ZoomResetAction;
    TFindBar* Find;
    TContentsPanel* Contents;
    TPaneLinks* Links;
    // The contents panel beside the pane and its find bar; its handle sets the panel's width.
    QSplitter* Area;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Rescan();
    void ShowMarks();
    void ShowReading();
    void ShowContents(bool visible);
    void ShowFind(bool visible);
    void ShowFindBar(bool visible);
    void UpdateActions();
    void Fit();
    void ShowPage();
    void DocumentShown();

    QMainWindow& window_;
    TTextPane& pane_;
    QWidget* paneViewport_ = nullptr; // watched while the pane lives
    TDocumentSession& session_;
    TReaderHooks hooks_;
    QFont font_;
    int zoom_ = 100;
    bool fitWidth_ = true;
    bool wordWrap_ = false;
    int columns_ = 72; // the document's own width
    std::vector<TDocumentPage> pages_;
    QLabel* pageLabel_ = nullptr;
    std::string url_; // of the document shown, whose position is kept
    // The panel's width as the user last set it, kept while the panel is hidden or squeezed by a small window.
    int contentsWidth_ = 200;
    int wheel_ = 0; // eighths of a degree not yet turned into zoom steps
    TUtf8Lines lines_;
    QTimer rescan_;
};
