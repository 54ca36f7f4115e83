// A failure thrown from an event handler reaches the application's report
// and the program goes on handling events.
#include "app/Pagewick.h"

#include <QEvent>
#include <QObject>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace {

class TThrowingObject : public QObject {
public:
    int Handled = 0;
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User) throw std::runtime_error("'x' は整数ではありません");
        if (e->type() == QEvent::User + 1) ++Handled;
        return QObject::event(e);
    }
};

TApplication* app = nullptr;

} // namespace

TEST(TApplication, ReportsFailuresThatEscapeEventHandlers)
{
    std::string reported;
    app->OnUncaughtFailure = [&reported](const std::exception& e) { reported = e.what(); };
    TThrowingObject object;
    QEvent failing(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&object, &failing));
    EXPECT_EQ(reported, "'x' は整数ではありません");
    QEvent fine(QEvent::Type(QEvent::User + 1));
    QCoreApplication::sendEvent(&object, &fine);
    EXPECT_EQ(object.Handled, 1);
}

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication application(argc, argv);
    app = &application;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
