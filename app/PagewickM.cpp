#include "app/PagewickM.h"

#include "app/AntiFreeze.h"
#include "app/DocumentFetch.h"
#include "app/DocumentText.h"
#include "app/DocumentUrl.h"
#include "app/FetchGuard.h"
#include "app/FontStyle.h"
#include "app/LibraryCommands.h"
#include "app/PaneText.h"
#include "app/PrintPreview.h"
#include "app/ReaderView.h"
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

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrinter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>

namespace {

const QString kCaption = QStringLiteral("Scrivlet Util");
const QString kUnreadableFile = QStringLiteral("ファイルが読めませんでした");
const QString kDamagedHistory = QStringLiteral("履歴情報が壊れているため、履歴を破棄しました。");
const QString kWarningCaption = QStringLiteral("警告");
const QString kNotFound = QStringLiteral("指定のRFCが見つかりませんでした。\r\nERR:");
const QString kNoServer = QStringLiteral("サーバにアクセスできませんでした。");
const QString kNoNumber = QStringLiteral("RFCの番号を数字で入力してください。");
const QString kCancelled = QStringLiteral("取得を中止しました");
const QString kFailed = QStringLiteral("取得できませんでした: ");
const QString kNotText = QStringLiteral("テキストファイルではありません");
const QString kRedirected = QStringLiteral("開始フォルダに書き込めないため、設定は %1 に保存します");
const QString kFellBack = QStringLiteral("開始フォルダに書き込めなかったため、設定を %1 に保存しました");
const QString kMadePrivate =
    QStringLiteral("パスワードを保存するため、設定ファイル %1 を本人だけが読めるようにしました");

// Why a URL format or URL is refused, for the message box.
QString UrlProblemText(TUrlProblem problem, const std::string& url)
{
    QString why;
    switch (problem) {
    case TUrlProblem::None: return {};
    case TUrlProblem::NoScheme: why = QStringLiteral("http://、https:// または file:/// で始めてください。"); break;
    case TUrlProblem::BadScheme: why = QStringLiteral("使えるのは http、https、file だけです。"); break;
    case TUrlProblem::NoHost: why = QStringLiteral("サーバ名がありません。"); break;
    case TUrlProblem::TooLong: return QStringLiteral("URLが長すぎます（%1バイトまで）。").arg(qulonglong(kMaxUrlBytes));
    }
    return QStringLiteral("URLの形式が正しくありません: ") + SettingToText(WithoutPassword(url)) + "\r\n" + why;
}

// A message in one line, for the status bar.
QString OneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QChar('\n'), QChar(' '));
    return text;
}

// Failures that mean the server (or the proxy on the way) was never reached
// or never answered, whichever layer noticed it.
bool IsNoServer(const std::exception& failure)
{
    return dynamic_cast<const EIdSocketError*>(&failure) || dynamic_cast<const EIdConnectException*>(&failure) ||
           dynamic_cast<const EIdConnectTimeout*>(&failure) || dynamic_cast<const EIdSocksError*>(&failure) ||
           dynamic_cast<const EIdReadTimeout*>(&failure);
}

// A document server that stays silent this long between two received bytes,
// or does not accept the connection in this time, is given up on: without a
// limit the window would wait for good, and the only way out would lose the
// settings and history of the whole run.
const int32_t kNetworkTimeoutMs = 30000;
const int32_t kMaxRedirects = 5;

QString ExceptionText(const std::exception& failure)
{
    const std::string message = ExceptionMessage(failure);
    return QString::fromUtf8(message.data(), qsizetype(message.size()));
}

// The fetch's own bounds, and a server that hung up mid-answer: each says
// what happened rather than passing for an unreachable server.
QString BoundExceededText(const std::exception& failure, const std::string& url)
{
    QString why;
    if (dynamic_cast<const EIdHTTPTooLarge*>(&failure))
        why = QStringLiteral("文書が大きすぎます（%1 MiBまで）。").arg(qulonglong(kMaxDocumentBytes >> 20));
    else if (dynamic_cast<const EIdHTTPTimeLimit*>(&failure))
        why = QStringLiteral("制限時間内に文書が届きませんでした。");
    else if (dynamic_cast<const EIdHTTPClosedInHeader*>(&failure))
        why = QStringLiteral("サーバが応答の途中で接続を切りました。");
    else
        return {};
    return why + QStringLiteral("\r\n") + SettingToText(url) + QStringLiteral("\r\nERR:") + ExceptionText(failure);
}

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
    services.OpenUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
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
    Label1->move(8, 8);

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
    RFCNumber->setGeometry(16, 8, 329, 20);
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
    CancelBtn = new QPushButton(QStringLiteral("中止"), StatusBar1);
    CancelBtn->setVisible(false);
    CancelBtn->setFocusPolicy(Qt::NoFocus);
    StatusBar1->addPermanentWidget(CancelBtn);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { antiFreeze_->RequestCancel(); });
    CreateHttpClient();

    BuildMenu();
    CreateReader();
    if (!services_.LibraryPath.empty()) Library = std::make_unique<TLibraryCommands>(*this, services_.LibraryPath);
    FormCreate();
    // Watched only now that every control exists.
    client->installEventFilter(this);
    RFCNumber->installEventFilter(this);
    RFCNumber->lineEdit()->installEventFilter(this);

    FormResize();
}

TForm1::~TForm1() = default;

void TForm1::CreateReader()
{
    TReaderHooks hooks;
    hooks.FetchRfc = [this](int rfc) {
        RFCNumber->setEditText(QString::number(rfc));
        mOpenFromWebClick();
    };
    hooks.OpenUrl = [this](const QString& url) {
        if (services_.OpenUrl) services_.OpenUrl(url);
    };
    hooks.Status = [this](const QString& text) { SetStatusText(text); };
    hooks.StatusText = [this] { return StatusText(); };
    hooks.Guarded = [this](const std::function<void()>& body) { Guarded(body); };
    Reader = std::make_unique<TReaderView>(*this, *Memo1, *PrintBtn, std::move(hooks));
}

void TForm1::SetOptionDlg(TOptionDlg* dialog)
{
    OptionDlg = dialog;
    if (!dialog) return;
    dialog->AcceptUrlFormat = [this](const QString& text) {
        const std::string format = TextToSetting(text);
        TUrlProblem problem = CheckUrl(format);
        if (problem == TUrlProblem::None && FormattedSizeBound(format, 5) > kMaxUrlBytes)
            problem = TUrlProblem::TooLong;
        if (problem == TUrlProblem::None) return true;
        ShowMessage(UrlProblemText(problem, format));
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
    Reader->SetDocumentFont(FontDlg.Font);
    // What this run would write unchanged: only what differs from it is the run's own change.
    settings_.KeepBaseline([this](TIniFile& ini) { WriteState(ini); });
    QString status = QString::fromStdString(version->GetVersionText());
    const QString written = SettingToText(settings_.Place().WritePath);
    if (settings_.Place().Redirected) status += QStringLiteral("  ") + kRedirected.arg(written);
    if (ProtectSecrets()) status += QStringLiteral("  ") + kMadePrivate.arg(written);
    SetStatusText(status);
    if (Library) Library->Started();
}

void TForm1::LoadState()
{
    TIniFile ini(settings_.Place().ReadPath);
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
    Reader->Load(ini);
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
    history_.Save(ini);
    Reader->Save(ini);
    ini.WriteInteger("window", "width", width());
    ini.WriteInteger("window", "height", height());
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == centralWidget() && e->type() == QEvent::Resize) {
        FormResize();
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

void TForm1::FormResize()
{
    // The client area here excludes the status bar, which the layout keeps
    // along the bottom edge: the pane keeps its left margin on three sides.
    QWidget* client = centralWidget();
    // The contents panel and the find bar, when shown, share the pane's
    // place; the pane's left edge then moves, its top is still the margin.
    const int left = 8;
    const int top = Memo1->y();
    Reader->LayOut(QRect(left, top, client->width() - 2 * left, client->height() - top - left));
}

void TForm1::closeEvent(QCloseEvent* e)
{
    // Closed while a fetch waits: the fetch is cancelled, then the window closes and saves.
    if (fetching_) {
        closeAfterFetch_ = true;
        antiFreeze_->RequestCancel();
        e->ignore();
        return;
    }
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
    if (!SaveForExit()) return;
    quitting_ = true;
    if (services_.EndEventLoop) services_.EndEventLoop();
}

TForm1::TCloseAfterFetch::~TCloseAfterFetch()
{
    if (!form_.closeAfterFetch_) return;
    form_.closeAfterFetch_ = false;
    if (form_.endingBySignal_)
        form_.EndBySignal();
    else
        form_.close();
}

void TForm1::EndBySignal()
{
    endingBySignal_ = true;
    if (fetching_) {
        // The fetch unwinds first; the close it then makes saves and ends.
        closeAfterFetch_ = true;
        antiFreeze_->RequestCancel();
        return;
    }
    if (quitting_) return;
    SaveForExit();
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
    // A document is held whole in memory, so a server may not send more than a local file may hold.
    IdHTTP1->SetMaxBodySize(int64_t(kMaxDocumentBytes));
    // A publisher moving its documents to https, or to another path of its own, is followed;
    // OnRedirect, set for each fetch, turns the rest away.
    IdHTTP1->SetHandleRedirects(true);
    IdHTTP1->SetRedirectMaximum(kMaxRedirects);
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

std::string TForm1::UrlForTyped(const std::string& typed, int index)
{
    if (index != -1) return history_.Urls()[index];
    const std::string number = TypedNumber(typed);
    if (number.empty()) {
        ShowMessage(kNoNumber);
        return {};
    }
    const std::string format = TextToSetting(OptionDlg->UrlBase->text());
    // A format from the settings file was never checked by the dialog's OK.
    TUrlProblem problem = CheckUrl(format);
    if (problem == TUrlProblem::None && FormattedSizeBound(format, number.size()) > kMaxUrlBytes)
        problem = TUrlProblem::TooLong;
    if (problem == TUrlProblem::None) {
        const std::string url = DocumentUrl(format, typed);
        problem = CheckUrl(url);
        if (problem == TUrlProblem::None) return url;
    }
    ShowMessage(UrlProblemText(problem, format));
    return {};
}

void TForm1::mOpenFromWebClick()
{
    if (fetching_) return;
    const TCloseAfterFetch closeAfter(*this);
    // Where the reader was, before the status line says what is fetched.
    Reader->Leaving();

    const std::string typed = TextToSetting(RFCNumber->currentText());
    const int index = history_.LookUp(typed);
    const std::string url = UrlForTyped(typed, index);
    if (url.empty()) return;
    // The password goes with the request only: it is neither shown nor stored.
    const std::string shownUrl = WithoutPassword(url);
    SetStatusText(QStringLiteral("accessing... ") + SettingToText(shownUrl));

    const bool local = IsLocalFileUrl(url);
    TFetchOutcome outcome;
    try {
        WhileFetching(local ? nullptr : antiFreeze_.get(), [&] {
            if (local) {
                if (!LoadLocalFile(url)) outcome.Kind = TFetchOutcome::Failed;
            } else {
                outcome = FetchOverNetwork(url, shownUrl);
            }
        });
    } catch (const std::exception& e) {
        SetStatusText(kFailed + OneLine(ExceptionText(e)));
        throw;
    }

    if (outcome.Kind == TFetchOutcome::Cancelled) {
        SetStatusText(outcome.Status);
        return;
    }
    if (outcome.Kind == TFetchOutcome::Failed) {
        // A file that could not be read said so itself and leaves the print button alone.
        if (local) {
            SetStatusText(kUnreadableFile + ": " + SettingToText(shownUrl));
            return;
        }
        SetStatusText(outcome.Status);
        PrintBtn->setEnabled(false);
        if (!outcome.Message.isEmpty()) ShowMessage(outcome.Message);
        return;
    }
    if (index == -1) {
        // The count is read before the entry goes in, so a count that is
        // not a number leaves the history as it was.
        const int histCount = OptionDlg->GetHistCount();
        history_.AddFetched(typed, ExtractTitle(Memo1->Lines()), shownUrl, [histCount] { return histCount; });
    } else {
        history_.MoveToTop(index, typed);
    }
    SyncNumberBox();
    PrintBtn->setEnabled(true);
    ShowDocumentName(history_.Entries()[0]);
    Reader->Shown();
}

void TForm1::ShowDocumentName(const std::string& entry)
{
    setWindowTitle(QString::fromStdString(entry) + QStringLiteral(" - ") + kCaption);
}

void TForm1::ApplyConnectionSettings()
{
    // A server trickling a byte now and then never trips the per-read limit; this bounds the whole fetch.
    IdHTTP1->SetTotalTimeout(int32_t(OptionDlg->FetchTimeLimit) * 1000);
    TIdProxyConnectionInfo& proxy = IdHTTP1->ProxyParams();
    if (OptionDlg->UseProxy->isChecked()) {
        proxy.SetProxyServer(TextToSetting(OptionDlg->ServerName->text()));
        proxy.SetProxyPort(StrToInt(TextToSetting(OptionDlg->PortNumber->text())));
    } else {
        proxy.SetProxyServer("");
        proxy.SetProxyPort(0);
    }
    // The SOCKS hop lies below whatever the client connects to, so a proxy is reached through it too.
    TIdSocksInfo* socks = IdSSLIOHandlerSocket1->SocksInfo();
    static const TSocksVersion kVersions[] = {svNoSocks, svSocks4, svSocks4A, svSocks5};
    const int version = std::clamp(OptionDlg->SocksVersion->currentIndex(), 0, 3);
    socks->SetVersion(kVersions[version]);
    if (version == 0) return;
    socks->SetHost(TextToSetting(OptionDlg->SocksServer->text()));
    socks->SetPort(StrToInt(TextToSetting(OptionDlg->SocksPort->text())));
    const std::string user = TextToSetting(OptionDlg->SocksUser->text());
    const bool withLogin = kVersions[version] == svSocks5 && !user.empty();
    socks->SetAuthentication(withLogin ? saUsernamePassword : saNoAuthentication);
    socks->SetUsername(withLogin ? user : "");
    socks->SetPassword(withLogin ? TextToSetting(OptionDlg->SocksPassword->text()) : "");
}

QString TForm1::NoServerMessage(const std::exception& failure, const std::string& url)
{
    const TIdSocksInfo* socks = IdSSLIOHandlerSocket1->SocksInfo();
    TIdProxyConnectionInfo& proxy = IdHTTP1->ProxyParams();
    TFetchRoute route{url, proxy.ProxyServer(), proxy.ProxyPort(), "", 0};
    if (socks->Version() != svNoSocks) {
        route.SocksHost = socks->Host();
        route.SocksPort = socks->Port();
    }
    // A SOCKS reply means the hop itself was reached.
    const bool socksAnswered = dynamic_cast<const EIdSocksError*>(&failure) != nullptr;
    return kNoServer + QStringLiteral("\r\n接続先: ") + SettingToText(TriedAddress(route, socksAnswered)) +
           QStringLiteral("\r\nERR:") + ExceptionText(failure);
}

TForm1::TFetchOutcome TForm1::FetchOverNetwork(const std::string& url, const std::string& shownUrl)
{
    // A document the library holds is shown from there; the library asks the server about it itself.
    if (Library) {
        if (const std::optional<bool> shown = Library->FetchFromLibrary(shownUrl)) {
            TFetchOutcome outcome;
            if (!*shown) outcome = {TFetchOutcome::Failed, QString(), StatusText()};
            return outcome;
        }
    }
    TMemoryStream body;
    TFetchOutcome outcome;
    // Where the last request went, to judge the next redirect by.
    std::string current = url;
    IdHTTP1->OnRedirect = [&current](TIdCustomHTTP*, std::string& location, int32_t& count, bool& handled,
                                     TIdHTTPMethod&) {
        handled = count < kMaxRedirects && RedirectAllowed(current, location);
        if (handled && CheckUrl(location) == TUrlProblem::None) current = location;
    };
    struct TForget {
        TIdHTTP& client;
        ~TForget() { client.OnRedirect = nullptr; }
    } forget{*IdHTTP1};
    try {
        ApplyConnectionSettings();
        expectedBytes_ = 0;
        IdHTTP1->Get(url, body);
    } catch (const std::exception& e) {
        outcome.Kind = TFetchOutcome::Failed;
        if (antiFreeze_->CancelRequested() || dynamic_cast<const EFetchCancelled*>(&e)) {
            // Closed at once: the server may still be sending, and the next fetch must start afresh.
            IdHTTP1->CloseConnection();
            outcome.Kind = TFetchOutcome::Cancelled;
            outcome.Status = kCancelled + ": " + SettingToText(shownUrl);
            return outcome;
        }
        if (dynamic_cast<const EIdHTTPProtocolException*>(&e))
            outcome.Message = kNotFound + ExceptionText(e);
        else if (const QString bounded = BoundExceededText(e, shownUrl); !bounded.isEmpty())
            outcome.Message = bounded;
        else if (IsNoServer(e))
            outcome.Message = NoServerMessage(e, url);
        else
            throw;
        outcome.Status = OneLine(outcome.Message);
        return outcome;
    }
    // A CR LF pair ends one line, as in a file: servers on other systems send
    // such text, and splitting it twice would double-space every page.
    if (body.Size() > 0) Memo1->LoadText(FileTextToPaneText(std::string_view(body.Memory(), size_t(body.Size()))));
    SetStatusText(
        SettingToText(Format("%s: contains... %d chars/%d lines", shownUrl, body.Size(), Memo1->LineCount())));
    if (Library) Library->Fetched(shownUrl, std::string(body.Memory(), size_t(body.Size())));
    return outcome;
}

bool TForm1::FetchHttp(const std::string& url)
{
    const TFetchOutcome outcome = FetchOverNetwork(url, WithoutPassword(url));
    if (outcome.Kind == TFetchOutcome::Done) return true;
    SetStatusText(outcome.Status);
    if (outcome.Kind == TFetchOutcome::Failed) {
        PrintBtn->setEnabled(false);
        if (!outcome.Message.isEmpty()) ShowMessage(outcome.Message);
    }
    return false;
}

bool TForm1::RunBusy(const std::function<void()>& body)
{
    if (fetching_) return false;
    const TCloseAfterFetch closeAfter(*this);
    bool cancelled = false;
    WhileFetching(antiFreeze_.get(), [&] {
        try {
            body();
        } catch (const std::exception&) {
            if (!antiFreeze_->CancelRequested()) throw;
            IdHTTP1->CloseConnection();
        }
        cancelled = antiFreeze_->CancelRequested();
    });
    if (cancelled) SetStatusText(kCancelled);
    return true;
}

void TForm1::WhileFetching(TQtAntiFreeze* hook, const std::function<void()>& body)
{
    // Declared before the guard, so it runs after the guard has gone: input the
    // guard drops on its way out must still find a fetch running.
    struct TEnd {
        TForm1& form;
        ~TEnd()
        {
            form.fetching_ = false;
            form.progressLabel_->setVisible(false);
        }
    } end{*this};
    fetching_ = true;
    const TFetchGuard guard(*this, {Memo1, RFCNumber, PrintBtn, menuBar()}, *CancelBtn, hook);
    body();
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
    // Not guarded here: a file that cannot be read ends the command with the
    // general error report, leaving the pane empty and the history as it was.
    const std::string fileName = path.toStdString();
    std::string bytes;
    const bool read = ReadDocumentFile(fileName, bytes);
    const int readError = errno;
    // A binary file would fill the history and the settings file with its bytes; the pane keeps its text.
    if (read && !LooksLikeText(bytes)) throw EFOpenError(OpenError(fileName, 0).what() + kNotText.toStdString());
    Reader->Leaving();
    Memo1->clear();
    if (!read) throw OpenError(fileName, readError);
    Memo1->LoadText(FileTextToPaneText(bytes));
    int number = ExtractNumber(Memo1->Lines());
    std::string title = ExtractTitle(Memo1->Lines());
    history_.AddOpenedFile(number, title, fileName);
    SyncNumberBox();
    RFCNumber->setEditText(QString::fromStdString(history_.Entries()[0]));
    SetStatusText(SettingToText(
        Format("file:///%s: contains... %d chars/%d lines", fileName, int64_t(bytes.size()), Memo1->LineCount())));
    ShowDocumentName(history_.Entries()[0]);
    Reader->Shown();
}

bool TForm1::LoadLocalFile(const std::string& url)
{
    // The first eight characters ("file:///") are dropped whatever they
    // are. The rest is the whole path: paths here may be far longer than 255
    // characters, and cutting them would open a different file.
    std::string bytes;
    if (!ReadDocumentFile(LocalFilePath(url), bytes) || !LooksLikeText(bytes)) {
        ShowMessage(kUnreadableFile);
        return false;
    }
    Memo1->LoadText(FileTextToPaneText(bytes));
    return true;
}

void TForm1::mPrintClick()
{
    // The document's own lines: what is printed must not depend on the
    // window's width, and a line too wide for the page is warned about.
    if (Memo1->SourceLineCount() == 0) return;
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!services_.Dialogs->Print(this, *printer_)) return;
    PrintPaneLines(*printer_, FontDlg.Font, Memo1->SourceLines(), AskAboutFit());
}

TAskYesNo TForm1::AskAboutFit()
{
    return [this](const std::string& text, const std::string& caption) {
        return services_.MessageBoxes->AskYesNo(this, QString::fromStdString(text), QString::fromStdString(caption));
    };
}

void TForm1::mPrintPreviewClick()
{
    if (Memo1->SourceLineCount() == 0) return;
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!FitCheckPasses(*printer_, FontDlg.Font, Memo1->SourceLines(), AskAboutFit())) return;
    // Asked once above; the preview draws again on every change of its page set-up.
    services_.Dialogs->PrintPreview(this, *printer_, [this](QPrinter& printer) {
        PrintPaneLines(printer, FontDlg.Font, Memo1->SourceLines(),
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
