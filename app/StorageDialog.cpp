// The dialog of what the library holds and the two ways to give its space back.
#include "app/StorageDialog.h"

#include "app/SyncRun.h"
#include "library/DocumentCache.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <ctime>

TStorageDialog::TStorageDialog(TDocumentCache& cache, int64_t sizeLimit, QWidget* parent)
    : QDialog(parent), cache_(cache), sizeLimit_(sizeLimit)
{
    setWindowTitle(QStringLiteral("保存状況"));
    Counts = new QLabel(this);
    ClearAllBtn = new QPushButton(QStringLiteral("すべて削除"), this);
    Days = new QSpinBox(this);
    Days->setRange(1, 3650);
    Days->setValue(90);
    Days->setSuffix(QStringLiteral(" 日"));
    ClearUnreadBtn = new QPushButton(QStringLiteral("読んでいない文書を削除"), this);
    auto* unread = new QHBoxLayout;
    unread->addWidget(new QLabel(QStringLiteral("この期間読んでいない:"), this));
    unread->addWidget(Days);
    unread->addWidget(ClearUnreadBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Counts);
    layout->addLayout(unread);
    layout->addWidget(ClearAllBtn);
    Now = [] { return int64_t(std::time(nullptr)); };
    connect(ClearAllBtn, &QPushButton::clicked, this, [this] { Clear(true); });
    connect(ClearUnreadBtn, &QPushButton::clicked, this, [this] { Clear(false); });
    Refresh();
}

void TStorageDialog::Refresh()
{
    const TLibraryStorage storage = cache_.Storage();
    Counts->setText(QStringLiteral("保存されている文書: %1 件 (%2、上限 %3)")
                        .arg(storage.Documents)
                        .arg(QString::fromStdString(ByteSizeText(storage.Bytes)))
                        .arg(QString::fromStdString(ByteSizeText(sizeLimit_))));
}

void TStorageDialog::Clear(bool all)
{
    const QString question = all ? QStringLiteral("保存されている文書をすべて削除しますか?")
                                 : QStringLiteral("%1 日間読んでいない文書を削除しますか?").arg(Days->value());
    if (Confirm && !Confirm(question)) return;
    if (all)
        (void)cache_.RemoveAll();
    else
        (void)cache_.RemoveUnreadSince(Now() - int64_t(Days->value()) * 86400);
    Refresh();
}
