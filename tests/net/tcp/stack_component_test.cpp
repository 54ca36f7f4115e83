// The component base: ownership and destruction notices, status and work
// events, the process-wide stack's lifetime and the yield hook.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/tcp/IdAntiFreezeBase.h"
#include "net/tcp/IdComponent.h"
#include "net/tcp/IdStackPosix.h"
#include "tests/support/NetTestSupport.h"

namespace {

using testsupport::TCountingAntiFreeze;

// Records the destruction notices it receives.
class TWatcher : public TIdBaseComponent {
public:
    using TIdBaseComponent::TIdBaseComponent;
    std::vector<TIdBaseComponent*> removed;

protected:
    void Notification(TIdBaseComponent* component, TOperation operation) override
    {
        if (operation == opRemove) {
            removed.push_back(component);
        }
    }
};

class TTracked : public TIdBaseComponent {
public:
    TTracked(TIdBaseComponent* owner, int& destroyed) : TIdBaseComponent(owner), destroyed_(destroyed) {}
    ~TTracked() override { ++destroyed_; }

private:
    int& destroyed_;
};

TEST(TIdBaseComponent, OwnerDeletesItsComponents)
{
    int destroyed = 0;
    auto* owner = new TWatcher();
    auto* first = new TTracked(owner, destroyed);
    new TTracked(owner, destroyed);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(first->Owner(), owner);
    delete first; // leaves its owner
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(owner->ComponentCount(), 1);
    delete owner;
    EXPECT_EQ(destroyed, 2);
}

TEST(TIdBaseComponent, ObserverHearsOfTheDestructionOnce)
{
    TWatcher observer;
    auto* watched = new TWatcher();
    watched->FreeNotification(&observer);
    watched->FreeNotification(&observer);
    delete watched;
    ASSERT_EQ(observer.removed.size(), 1u);
    EXPECT_EQ(observer.removed[0], watched);
}

TEST(TIdComponent, ReportStatusUsesTheStatusTexts)
{
    struct Case {
        TIdStatus status;
        const char* argument;
        const char* text;
    };
    const Case cases[] = {
        {hsResolving, "example.test", "Resolving hostname example.test."},
        {hsConnecting, "127.0.0.1", "Connecting to 127.0.0.1."},
        {hsConnected, "ignored", "Connected."},
        {hsDisconnecting, nullptr, "Disconnecting."},
        {hsDisconnected, nullptr, "Disconnected."},
        {hsStatusText, "50% done", "50% done"},
        {hsStatusText, nullptr, ""},
    };
    TIdComponent component;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> texts;
        component.OnStatus = [&](TIdComponent* sender, TIdStatus status, const std::string& text) {
            EXPECT_EQ(sender, &component);
            EXPECT_EQ(status, c.status);
            texts.push_back(text);
        };
        if (c.argument != nullptr) {
            component.ReportStatus(c.status, c.argument);
        } else {
            component.ReportStatus(c.status);
        }
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], c.text);
    }
}

TEST(TIdComponent, WorkEventsReportOnlyTheOutermostLevel)
{
    TIdComponent component;
    std::vector<std::string> events;
    component.OnWorkBegin = [&](TIdComponent*, TWorkMode mode, int64_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [&](TIdComponent*, TWorkMode mode, int64_t count) {
        events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [&](TIdComponent*, TWorkMode mode) { events.push_back("end " + std::to_string(mode)); };

    component.WorkProgress(wmRead, 5); // outside any work: ignored
    component.WorkStarted(wmRead, 100);
    component.WorkProgress(wmRead, 10);
    component.WorkStarted(wmRead, 7); // nested: no second begin
    component.WorkProgress(wmRead, 20);
    component.WorkStarted(wmWrite, 3);
    component.WorkProgress(wmWrite, 3);
    component.WorkFinished(wmWrite);
    component.WorkFinished(wmRead); // inner end: silent
    component.WorkProgress(wmRead, 1);
    component.WorkFinished(wmRead);
    component.WorkFinished(wmRead); // unpaired: silent, and the next begin still fires
    component.WorkStarted(wmRead, 0);
    component.WorkFinished(wmRead);

    const std::vector<std::string> expected = {
        "begin 0 100", "work 0 10", "work 0 30", "begin 1 3", "work 1 3",
        "end 1",       "work 0 31", "end 0",     "begin 0 0", "end 0",
    };
    EXPECT_EQ(events, expected);
}

// A stack whose creations and releases the tests count.
int stacksCreated = 0;
int stacksFreed = 0;
class TCountedStack : public TIdStackPosix {
public:
    TCountedStack() { ++stacksCreated; }
    ~TCountedStack() override { ++stacksFreed; }
};

class TStackLifetime : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(StackUsers, 0) << "another component is still alive";
        saved_ = StackClass;
        StackClass = [] { return static_cast<TIdStack*>(new TCountedStack()); };
        stacksCreated = stacksFreed = 0;
    }
    void TearDown() override { StackClass = saved_; }

private:
    TIdStackClass saved_;
};

TEST_F(TStackLifetime, ComponentsShareOneStackFreedWithTheLast)
{
    auto* first = new TIdComponent();
    TIdStack* stack = GlobalStack;
    ASSERT_NE(stack, nullptr);
    auto* second = new TIdComponent();
    EXPECT_EQ(StackUsers, 2);
    EXPECT_EQ(GlobalStack, stack);
    EXPECT_EQ(stacksCreated, 1);
    delete first;
    EXPECT_EQ(StackUsers, 1);
    EXPECT_EQ(stacksFreed, 0);
    EXPECT_EQ(GlobalStack, stack);
    delete second;
    EXPECT_EQ(StackUsers, 0);
    EXPECT_EQ(stacksFreed, 1);
    EXPECT_EQ(GlobalStack, nullptr);

    // A later component makes a new stack; the start-up stays done.
    TIdComponent third;
    EXPECT_EQ(stacksCreated, 2);
    EXPECT_TRUE(StackStarted.load());
}

TEST_F(TStackLifetime, FailingStackCreationLeavesNoCountBehind)
{
    StackClass = []() -> TIdStack* { throw std::runtime_error("no stack"); };
    EXPECT_THROW(TIdComponent(), std::runtime_error);
    EXPECT_EQ(StackUsers, 0);
    EXPECT_EQ(GlobalStack, nullptr);
    // The guard was released: the next component gets a stack.
    StackClass = [] { return static_cast<TIdStack*>(new TCountedStack()); };
    TIdComponent component;
    EXPECT_NE(GlobalStack, nullptr);
    EXPECT_EQ(StackUsers, 1);
}

TEST_F(TStackLifetime, ComponentsOnSeveralThreadsKeepTheCountRight)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                TIdComponent component;
                ASSERT_NE(GlobalStack, nullptr);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(StackUsers, 0);
    EXPECT_EQ(GlobalStack, nullptr);
    EXPECT_EQ(stacksCreated, stacksFreed);
}

TEST(TIdAntiFreezeBase, YieldsOnlyOnTheMainThreadWhileActive)
{
    EXPECT_FALSE(TIdAntiFreezeBase::ShouldYield());
    {
        TCountingAntiFreeze hook;
        EXPECT_EQ(ActiveAntiFreeze.load(), &hook);
        EXPECT_TRUE(TIdAntiFreezeBase::ShouldYield());
        bool onWorker = true;
        std::thread([&] { onWorker = TIdAntiFreezeBase::ShouldYield(); }).join();
        EXPECT_FALSE(onWorker);
        hook.SetActive(false);
        EXPECT_FALSE(TIdAntiFreezeBase::ShouldYield());
    }
    EXPECT_EQ(ActiveAntiFreeze.load(), nullptr);
}

TEST(TIdAntiFreezeBase, YieldToApplicationHonoursIdleness)
{
    struct Case {
        bool onlyWhenIdle;
        bool idle;
        bool override;
        int steps;
    };
    const Case cases[] = {
        {true, true, false, 1},   {true, false, false, 0}, {true, false, true, 1},
        {false, false, false, 1}, {false, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.onlyWhenIdle << c.idle << c.override);
        TCountingAntiFreeze hook;
        hook.SetOnlyWhenIdle(c.onlyWhenIdle);
        TIdAntiFreezeBase::YieldToApplication(c.idle, c.override);
        EXPECT_EQ(hook.steps, c.steps);
    }
    // Without an instance nothing happens (and nothing crashes).
    TIdAntiFreezeBase::YieldToApplication(true, true);
}

} // namespace
