// The open dialog as the user meets it: the filter's "all files" and names
// typed with and without the default extension, and the print preview.
#include "platform/Dialogs.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QtTest/QTest>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace {

const QString kFilter = QStringLiteral("テキストファイル|*.txt|すべてのファイル|*.*");

} // namespace

TEST(FilterToQt, AllFilesIsTheBareStar)
{
    struct Case {
        QString filter, expected;
    } cases[] = {
        {kFilter, QStringLiteral("テキストファイル (*.txt);;すべてのファイル (*)")},
        {QStringLiteral("両方|*.txt;*.*"), QStringLiteral("両方 (*.txt *)")},
        {QStringLiteral("C|*.c;*.h"), QStringLiteral("C (*.c *.h)")},
        {QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter.toStdString());
        EXPECT_EQ(FilterToQt(c.filter), c.expected);
    }
}

// Files without an extension could not be opened: the toolkit's default
// suffix turned "rfc1234" into "rfc1234.txt" and Open stayed disabled.
TEST(OpenDialog, AnExistingFileOpensWhateverItsNameAndTheDefaultExtensionFindsTheRest)
{
    TTempDir dir;
    for (const char* name : {"rfc1234", "rfc2223.txt", "notes.md", "README", "README.txt"})
        WriteTextFile(dir.File(name), "text\n");
    struct Case {
        const char* typed;
        std::optional<std::string> opened;
    } cases[] = {
        {"rfc1234", "rfc1234"}, {"rfc2223", "rfc2223.txt"}, {"rfc2223.txt", "rfc2223.txt"}, {"notes.md", "notes.md"},
        {"README", "README"},   {"missing", std::nullopt},  {"notes", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QStringList filters;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            dialog->setDirectory(QString::fromStdString(dir.Path()));
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            edit->setText(QString::fromUtf8(c.typed));
            QTest::keyClick(edit, Qt::Key_Return);
            // Still open: nothing of that name opens; the user cancels.
            if (dialog->isVisible()) dialog->reject();
        });
        TQtCommonDialogs dialogs;
        const std::optional<QString> opened = dialogs.OpenFile(nullptr, kFilter, QStringLiteral(".txt"));
        EXPECT_EQ(filters,
                  QStringList({QStringLiteral("テキストファイル (*.txt)"), QStringLiteral("すべてのファイル (*)")}));
        if (c.opened) {
            ASSERT_TRUE(opened.has_value());
            EXPECT_EQ(opened->toStdString(), dir.File(*c.opened));
        } else {
            EXPECT_FALSE(opened.has_value()) << opened->toStdString();
        }
    }
}

// A preview of a long document draws the pages in view, not all of them: the
// first at once, a later one when it is scrolled to.
TEST(PreviewDialog, DrawsOnlyThePagesInView)
{
    std::vector<int> drawn;
    TPreviewPages pages;
    pages.Count = 176;
    pages.Paper = QSize(4960, 7016);
    pages.Draw = [&drawn](QPainter&, int page) { drawn.push_back(page); };
    bool checked = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QApplication::processEvents();
        dialog->repaint();
        auto* scroll = dialog->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        scroll->viewport()->repaint();
        EXPECT_NE(std::find(drawn.begin(), drawn.end(), 0), drawn.end());
        EXPECT_LE(*std::max_element(drawn.begin(), drawn.end()), 2);
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        scroll->viewport()->repaint();
        EXPECT_NE(std::find(drawn.begin(), drawn.end(), 175), drawn.end());
        EXPECT_EQ(std::find(drawn.begin(), drawn.end(), 90), drawn.end());
        checked = true;
        dialog->reject();
    });
    TQtCommonDialogs().PrintPreview(nullptr, pages);
    EXPECT_TRUE(checked);
}
