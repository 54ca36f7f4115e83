#include "app/PagewickM.h"

#include "app/AntiFreeze.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/LibraryCommands.h"
#include "app/PaneText.h"
#include "app/PrintPreview.h"
#include "app/TextPane.h"
#include "net/http/IdHTTP.h"
#include "net/tls/IdSSLIOHandlerSocket.h"
#include "platform/Classes.h"
#include "platform/Dialogs.h"
#include "platform/SysUtils.h"
#include "print/PrintQt.h"
#include "settings/IniFile.h"
#include "settings/PagewickDlg.h"
#include "settings/SettingText.h"
#include "version/verInfo.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <cerrno>

namespace {

const QString kCaption = QStringLiteral("Scrivlet Util");
const QString kUnreadableFile = QStringLiteral("ファイルが読めませんでした");
const QString kDamagedHistory = QStringLiteral("履歴情報が壊れているため、履歴を破棄しました。");
const QString kWarningCaption = QStringLiteral("警告");
const QString kNotFound = QStringLiteral("指定のRFCが見つかりませんでした。\r\nERR:");
const QString kNoServer = QStringLiteral("サーバにアクセスできませんでした。\r\nERR:");

// A document server that stays silent this long between two received bytes,
// or does not accept the connection in this time, is given up on: without a
// limit the window would wait for good, and the only way out would lose the
// settings and history of the whole run.
const int32_t kNetworkTimeoutMs = 30000;

QString ExceptionText(const std::exception& failure)
{
    const std::string message = ExceptionMessage(failure);
    return QString::fromUtf8(message.data(), qsizetype(message.size()));
}

// Sets the hourglass and disables the pane for one command; both come back,
// and the transfer's progress goes, on every way out, also when a failure
// goes to the general error report.
class TBusyWindow {
public:
    TBusyWindow(QWidget& window, QWidget& pane, QWidget& progress, bool& busy)
        : window_(window), pane_(pane), progress_(progress), busy_(busy)
    {
        busy_ = true;
        window_.setCursor(Qt::WaitCursor);
        pane_.setEnabled(false);
    }
    ~TBusyWindow()
    {
        progress_.setVisible(false);
        pane_.setEnabled(true);
        window_.unsetCursor();
        busy_ = false;
    }
    TBusyWindow(const TBusyWindow&) = delete;
    TBusyWindow& operator=(const TBusyWindow&) = delete;

private:
    QWidget& window_;
    QWidget& pane_;
    QWidget& progress_;
    bool& busy_;
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
    return services;
}

TForm1::TForm1(TFormServices services, QWidget* parent) : QMainWindow(parent), services_(std::move(services))
{
    setWindowTitle(kCaption);
    setFont(UiFont(12));
    setMinimumSize(450, 250);
    setGeometry(131, 197, 651, 513);

    auto* client = new QWidget(this);
    setCentralWidget(client);

    Label1 = new QLabel(QStringLiteral("#"), client);
    Label1->setFont(UiFont(16));
    Label1->move(8, 8);

    RFCNumber = new QComboBox(client);
    RFCNumber->setEditable(true);
    RFCNumber->setInsertPolicy(QComboBox::NoInsert);
    RFCNumber->setMaxVisibleItems(15);
    RFCNumber->setGeometry(16, 8, 329, 20);
    RFCNumber->setEditText(QStringLiteral("2223"));

    PrintBtn = new QPushButton(QStringLiteral("印刷"), client);
    PrintBtn->setGeometry(352, 8, 33, 25);
    connect(PrintBtn, &QPushButton::clicked, this, [this] { Guarded([this] { mPrintClick(); }); });

    Memo1 = new TTextPane(client);
    Memo1->move(8, 40);
    // The pane's own font until the first activation gives it the font dialog's.
    QFont paneFont = DocumentFont(QStringLiteral("Courier New"), 0);
    paneFont.setPixelSize(13);
    Memo1->setFont(paneFont);

    setTabOrder(Memo1, RFCNumber);
    setTabOrder(RFCNumber, PrintBtn);

    StatusBar1 = statusBar();
    StatusBar1->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar1);
    StatusBar1->addWidget(statusLabel_, 1);

    FontDlg.Font = DocumentFont(QStringLiteral("Courier New"), 0);
    FontDlg.Font.setPixelSize(12);

    version = std::make_unique<TversionInfo>(true);

    progressLabel_ = new QLabel(StatusBar1);
    progressLabel_->setVisible(false);
    StatusBar1->addPermanentWidget(progressLabel_);
    CreateHttpClient();

    BuildMenu();
    if (!services_.LibraryPath.empty()) Library = std::make_unique<TLibraryCommands>(*this, services_.LibraryPath);
    FormCreate();
    // Watched only now that every control exists.
    client->installEventFilter(this);
    RFCNumber->installEventFilter(this);
    RFCNumber->lineEdit()->installEventFilter(this);
    FormResize();
}

TForm1::~TForm1() = default;

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
    N2 = N1->addSeparator();
    mPrint = add(N1, QStringLiteral("印刷(&P)"), QKeySequence(Qt::CTRL | Qt::Key_P), &TForm1::mPrintClick);
    mPrintPreview = add(N1, QStringLiteral("印刷プレビュー"), QKeySequence(), &TForm1::mPrintPreviewClick);
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
    return QMainWindow::event(e);
}

void TForm1::FormActivate()
{
    if (!FirstActivate) return;
    FirstActivate = false;
    LoadState();
    Memo1->setFont(FontDlg.Font);
    SetStatusText(QString::fromStdString(version->GetVersionText()));
    if (Library) Library->Started();
}

void TForm1::LoadState()
{
    TIniFile ini(services_.IniPath);
    QString name = SettingToText(ini.ReadString("font", "Name", "Courier New"));
    if (!name.isEmpty()) FontDlg.Font = DocumentFont(LeftWhole(name, kMaxFontName), PointSizeOf(FontDlg.Font));
    int points = ini.ReadInteger("font", "size", 10);
    if (points > 0) FontDlg.Font.setPointSize(points);

    TDocumentHistory::TLoadResult loaded = history_.Load(ini);
    SyncNumberBox();
    RFCNumber->setEditText(QString::fromStdString(loaded.FirstEntry));
    if (loaded.Damaged) ShowMessage(kDamagedHistory);

    // Capped before it is applied: a window far larger than the screen
    // cannot be drawn (offscreen its backing store asks for terabytes).
    const QSize stored(ini.ReadInteger("window", "width", 640), ini.ReadInteger("window", "height", 512));
    const QRect place = PlaceOnScreen(stored, minimumSize(), services_.Screen->Size(), services_.Screen->Available());
    resize(place.size());
    move(place.topLeft());
}

void TForm1::SaveState()
{
    TIniFile ini(services_.IniPath);
    ini.WriteString("font", "Name", TextToSetting(FontDlg.Font.family()));
    ini.WriteInteger("font", "size", PointSizeOf(FontDlg.Font));
    if (OptionDlg) OptionDlg->SaveConf(ini);
    history_.Save(ini);
    ini.WriteInteger("window", "width", width());
    ini.WriteInteger("window", "height", height());
    ini.UpdateFile();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == centralWidget() && e->type() == QEvent::Resize) {
        FormResize();
    } else if ((watched == RFCNumber || watched == RFCNumber->lineEdit()) && e->type() == QEvent::KeyPress) {
        // The focus sits on the box itself, which hands keys to its edit field
        // directly, past the field's filters: so both are watched. A key reaches
        // only one of them.
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            Guarded([this] { RFCnumberKeyPress(QChar(13)); });
        // The number box still receives the key.
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::FormResize()
{
    // The client area here excludes the status bar, which the layout keeps
    // along the bottom edge: the pane keeps its left margin on three sides.
    QWidget* client = centralWidget();
    const int left = Memo1->x();
    const int top = Memo1->y();
    Memo1->resize(client->width() - 2 * left, client->height() - top - left);
}

void TForm1::closeEvent(QCloseEvent* e)
{
    // Closed while a fetch waits: the fetch ends first, then the window closes and saves.
    if (fetching_) {
        closeAfterFetch_ = true;
        e->ignore();
        return;
    }
    if (quitting_ || Guarded([this] { SaveState(); }))
        e->accept();
    else
        e->ignore();
}

void TForm1::mQuitClick()
{
    SaveState();
    quitting_ = true;
    if (services_.EndEventLoop) services_.EndEventLoop();
}

void TForm1::mHttpConfClick()
{
    if (!OptionDlg) return;
    OptionDlg->KeepValues();
    if (OptionDlg->exec() != QDialog::Accepted) OptionDlg->RestoreValues();
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
    std::optional<QFont> chosen = services_.Dialogs->ChooseFont(this, shown);
    if (!chosen) return;
    FontDlg.Font = *chosen;
    Memo1->setFont(FontDlg.Font);
    Memo1->update();
}

void TForm1::RFCnumberKeyPress(QChar key)
{
    if (key == QChar(13)) mOpenFromWebClick();
}

void TForm1::CreateHttpClient()
{
    IdSSLIOHandlerSocket1 = std::make_unique<TIdSSLIOHandlerSocket>();
    IdHTTP1 = std::make_unique<TIdHTTP>();
    // The document publisher serves https only; the handler passes http bytes through untouched.
    IdHTTP1->SetIOHandler(IdSSLIOHandlerSocket1.get());
    TIdHTTPRequest& request = IdHTTP1->Request();
    request.SetAccept("text/html, */*");
    request.SetContentType("text/html");
    request.SetUserAgent("Mozilla/3.0 (compatible; Scrivlet)");
    request.SetContentLength(-1);
    request.SetContentRangeStart(0);
    request.SetContentRangeEnd(0);
    request.SetBasicAuthentication(false);
    IdHTTP1->ProxyParams().SetBasicAuthentication(false);
    IdHTTP1->ProxyParams().SetProxyPort(0);
    IdHTTP1->SetAllowCookies(true);
    IdHTTP1->SetHTTPOptions({hoForceEncodeParams});
    IdHTTP1->SetMaxLineAction(maException);
    IdHTTP1->SetReadTimeout(kNetworkTimeoutMs);
    IdHTTP1->SetConnectTimeout(kNetworkTimeoutMs);
    IdHTTP1->OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int64_t max) {
        if (mode == wmRead) expectedBytes_ = max;
    };
    IdHTTP1->OnWork = [this](TIdComponent*, TWorkMode mode, int64_t count) {
        if (mode == wmRead) ShowProgress(count);
    };
    antiFreeze_ = std::make_unique<TQtAntiFreeze>();
}

void TForm1::ShowProgress(int64_t received)
{
    const auto kib = [](int64_t bytes) { return QString::number((bytes + 1023) / 1024); };
    progressLabel_->setText(expectedBytes_ > 0 ? kib(received) + " / " + kib(expectedBytes_) + " KB"
                                               : kib(received) + " KB");
    progressLabel_->setVisible(true);
}

void TForm1::mOpenFromWebClick()
{
    if (fetching_) return;
    const std::string typed = TextToSetting(RFCNumber->currentText());
    const int index = history_.LookUp(typed);
    const std::string url =
        index == -1 ? DocumentUrl(TextToSetting(OptionDlg->UrlBase->text()), typed) : history_.Urls()[index];
    SetStatusText(QStringLiteral("accessing... ") + SettingToText(url));

    bool ok = false;
    {
        const TBusyWindow busy(*this, *Memo1, *progressLabel_, fetching_);
        ok = IsLocalFileUrl(url) ? LoadLocalFile(url) : FetchHttp(url);
        if (ok) {
            if (index == -1) {
                // The count is read before the entry goes in, so a count that is
                // not a number leaves the history as it was.
                const int histCount = OptionDlg->GetHistCount();
                history_.AddFetched(typed, ExtractTitle(Memo1->Lines()), url, [histCount] { return histCount; });
            } else {
                history_.MoveToTop(index, typed);
            }
            SyncNumberBox();
            PrintBtn->setEnabled(true);
        }
    }
    if (closeAfterFetch_) close();
}

bool TForm1::FetchFailed(const QString& message)
{
    ShowMessage(message);
    PrintBtn->setEnabled(false);
    return false;
}

bool TForm1::FetchHttp(const std::string& url)
{
    if (Library)
        if (std::optional<bool> done = Library->FetchFromLibrary(url)) return *done;
    TMemoryStream body;
    try {
        if (OptionDlg->UseProxy->isChecked()) {
            IdHTTP1->ProxyParams().SetProxyServer(TextToSetting(OptionDlg->ServerName->text()));
            IdHTTP1->ProxyParams().SetProxyPort(StrToInt(TextToSetting(OptionDlg->PortNumber->text())));
        } else {
            IdHTTP1->ProxyParams().SetProxyServer("");
            IdHTTP1->ProxyParams().SetProxyPort(0);
        }
        expectedBytes_ = 0;
        IdHTTP1->Get(url, body);
    } catch (const EIdHTTPProtocolException& e) {
        return FetchFailed(kNotFound + ExceptionText(e));
    } catch (const EIdSocketError& e) {
        return FetchFailed(kNoServer + ExceptionText(e));
    }
    // A CR LF pair ends one line, as in a file: servers on other systems send
    // such text, and splitting it twice would double-space every page.
    if (body.Size() > 0) Memo1->LoadText(FileTextToPaneText(std::string_view(body.Memory(), size_t(body.Size()))));
    SetStatusText(SettingToText(Format("%s: contains... %d chars/%d lines", url, body.Size(), Memo1->LineCount())));
    if (Library) Library->Fetched(url, std::string(body.Memory(), size_t(body.Size())));
    return true;
}

bool TForm1::RunBusy(const std::function<void()>& body)
{
    if (fetching_) return false;
    {
        const TBusyWindow busy(*this, *Memo1, *progressLabel_, fetching_);
        body();
    }
    if (closeAfterFetch_) close();
    return true;
}

void TForm1::RemoveHistoryEntry(int index)
{
    history_.Remove(index);
    SyncNumberBox();
}

void TForm1::mOpenClick()
{
    std::optional<QString> path = services_.Dialogs->OpenFile(this, OpenDlg.Filter, OpenDlg.DefaultExt);
    if (!path) return;
    OpenFile(*path);
}

void TForm1::OpenFile(const QString& path)
{
    OpenDlg.FileName = path;
    Memo1->clear();
    // Not guarded here: a file that cannot be read ends the command with the
    // general error report, leaving the pane empty and the history as it was.
    const std::string fileName = path.toStdString();
    std::string bytes;
    if (!ReadDocumentFile(fileName, bytes)) throw OpenError(fileName, errno);
    Memo1->LoadText(FileTextToPaneText(bytes));
    int number = ExtractNumber(Memo1->Lines());
    std::string title = ExtractTitle(Memo1->Lines());
    history_.AddOpenedFile(number, title, fileName);
    SyncNumberBox();
}

bool TForm1::LoadLocalFile(const std::string& url)
{
    // The first eight characters ("file:///") are dropped whatever they
    // are. The rest is the whole path: paths here may be far longer than 255
    // characters, and cutting them would open a different file.
    std::string bytes;
    if (!ReadDocumentFile(LocalFilePath(url), bytes)) {
        ShowMessage(kUnreadableFile);
        return false;
    }
    Memo1->LoadText(FileTextToPaneText(bytes));
    return true;
}

void TForm1::mPrintClick()
{
    if (Memo1->LineCount() == 0) return;
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!services_.Dialogs->Print(this, *printer_)) return;
    PrintPaneLines(*printer_, FontDlg.Font, Memo1->Lines(),
                   [this](const std::string& text, const std::string& caption) {
                       return services_.MessageBoxes->AskYesNo(this, QString::fromStdString(text),
                                                               QString::fromStdString(caption));
                   });
}

void TForm1::mPrintPreviewClick()
{
    if (Memo1->LineCount() == 0) return;
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    const TAskYesNo ask = [this](const std::string& text, const std::string& caption) {
        return services_.MessageBoxes->AskYesNo(this, QString::fromStdString(text), QString::fromStdString(caption));
    };
    if (!FitCheckPasses(*printer_, FontDlg.Font, Memo1->Lines(), ask)) return;
    // Asked once above; the preview draws again on every change of its page set-up.
    services_.Dialogs->PrintPreview(this, *printer_, [this](QPrinter& printer) {
        PrintPaneLines(printer, FontDlg.Font, Memo1->Lines(),
                       [](const std::string&, const std::string&) { return true; });
    });
}

void TForm1::SyncNumberBox()
{
    const QString text = RFCNumber->currentText();
    const QSignalBlocker block(RFCNumber);
    RFCNumber->clear();
    for (const std::string& entry : history_.Entries()) RFCNumber->addItem(QString::fromStdString(entry));
    RFCNumber->setCurrentIndex(-1);
    RFCNumber->setEditText(text);
    if (Library) Library->MarkHistory();
}
