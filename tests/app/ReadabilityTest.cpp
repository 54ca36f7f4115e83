#include "app/Readability.h"

#include <gtest/gtest.h>

// Worked values: black on white is 21:1, #767676 on white the lightest grey
// that reaches 4.5:1 (4.54), #777777 just misses it (4.48).
TEST(ContrastRatio, MatchesWorkedValues)
{
    struct Row {
        const char* a;
        const char* b;
        double ratio;
    } rows[] = {
        {"#000000", "#ffffff", 21.0}, {"#ffffff", "#000000", 21.0}, {"#767676", "#ffffff", 4.54},
        {"#777777", "#ffffff", 4.48}, {"#336699", "#336699", 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " on " + row.b);
        EXPECT_NEAR(ContrastRatio(QColor(row.a), QColor(row.b)), row.ratio, 0.01);
    }
}

// Links of light and dark palettes on the bar's backgrounds: a readable
// colour stays, an unreadable one moves only as far as it must.
TEST(ReadableOn, ReachesTheContrastAndKeepsWhatAlreadyReads)
{
    struct Row {
        const char* what;
        const char* link;
        const char* background;
        bool kept;
    } rows[] = {
        {"light palette's link on its alternate base", "#0000ff", "#f7f7f7", true},
        {"light palette's link on its selection", "#0000ff", "#308cc6", false},
        {"dark palette's link on its alternate base", "#2a82da", "#353535", false},
        {"dark palette's link on a pale selection", "#8ab4f8", "#a8c7fa", false},
        {"white on white", "#ffffff", "#ffffff", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QColor result = ReadableOn(QColor(row.link), QColor(row.background));
        EXPECT_GE(ContrastRatio(result, QColor(row.background)), 4.5);
        EXPECT_EQ(result == QColor(row.link), row.kept) << result.name().toStdString();
        // Moved no further than needed: a little less would not read.
        if (!row.kept) {
            EXPECT_LT(ContrastRatio(result, QColor(row.background)), 4.6);
        }
    }
}
