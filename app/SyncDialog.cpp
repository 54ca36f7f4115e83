// The dialog that runs one sync on its own thread and shows its progress.
#include "app/SyncDialog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }

const QString kPause = QStringLiteral("一時停止");
const QString kResume = QStringLiteral("再開");

} // namespace

TSyncDialog::TSyncDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("すべて取得"));
    resize(560, 320);
    Bar = new QProgressBar(this);
    Line = new QLabel(this);
    // Failures carry the server's reason phrases: text, never markup.
    Line->setTextFormat(Qt::PlainText);
    Failures = new QPlainTextEdit(this);
    Failures->setReadOnly(true);
    Failures->setPlaceholderText(QStringLiteral("取得できなかった文書はここに表示されます"));
    PauseBtn = new QPushButton(kPause, this);
    CancelBtn = new QPushButton(QStringLiteral("中止"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(PauseBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Bar);
    layout->addWidget(Line);
    layout->addWidget(Failures, 1);
    layout->addLayout(buttons);

    connect(PauseBtn, &QPushButton::clicked, this, [this] {
        if (!Running()) return;
        if (control_->Paused()) {
            control_->Resume();
            PauseBtn->setText(kPause);
        } else {
            control_->Pause();
            PauseBtn->setText(kResume);
        }
    });
    connect(CancelBtn, &QPushButton::clicked, this, [this] {
        if (Running())
            control_->Cancel();
        else
            close();
    });
}

TSyncDialog::~TSyncDialog() { Stop(); }

void TSyncDialog::Stop()
{
    if (!worker_.joinable()) return;
    control_->Cancel();
    worker_.join();
}

bool TSyncDialog::Start(const TSyncRunOptions& options)
{
    if (Running()) return false;
    if (worker_.joinable()) worker_.join();
    control_ = std::make_unique<TSyncControl>();
    finished_ = false;
    failuresShown_ = 0;
    Failures->clear();
    Bar->setRange(0, 0);
    Line->setText(QStringLiteral("索引を確かめています..."));
    PauseBtn->setEnabled(true);
    PauseBtn->setText(kPause);
    CancelBtn->setText(QStringLiteral("中止"));
    QPointer<TSyncDialog> self(this);
    TSyncControl* control = control_.get();
    // The dialog outlives the thread (its destructor joins it), so the queued calls find it alive.
    worker_ = std::thread([self, control, options] {
        TSyncRunReport report = RunLibrarySync(options, *control, [self](const TSyncProgress& progress) {
            QMetaObject::invokeMethod(
                self, [self, progress] { self->Show(progress); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            self, [self, report] { self->Finish(report); }, Qt::QueuedConnection);
    });
    return true;
}

void TSyncDialog::Show(const TSyncProgress& progress)
{
    Bar->setRange(0, std::max(progress.Total, 1));
    Bar->setValue(progress.Done);
    Line->setText(Text(SyncProgressLine(progress)));
}

void TSyncDialog::Finish(const TSyncRunReport& report)
{
    finished_ = true;
    for (const TSyncFailure& failure : report.Result.Failures)
        Failures->appendPlainText(QStringLiteral("RFC %1: %2").arg(failure.Number).arg(Text(failure.Reason)));
    QString summary;
    if (!report.Stopped.empty())
        summary = QStringLiteral("取得できませんでした: ") + Text(report.Stopped);
    else
        summary = QStringLiteral("%1 件を保存しました (%2)、失敗 %3 件%4")
                      .arg(report.Result.Stored)
                      .arg(Text(ByteSizeText(report.Result.Bytes)))
                      .arg(report.Result.Failures.size())
                      .arg(report.Result.Cancelled ? QStringLiteral("。中止しました: 次の実行で続きから取得します")
                                                   : QString());
    Line->setText(summary);
    if (Bar->maximum() == 0) Bar->setRange(0, 1);
    PauseBtn->setEnabled(false);
    CancelBtn->setText(QStringLiteral("閉じる"));
    if (OnFinished) OnFinished(report);
}

void TSyncDialog::closeEvent(QCloseEvent* e)
{
    Stop();
    QDialog::closeEvent(e);
}
