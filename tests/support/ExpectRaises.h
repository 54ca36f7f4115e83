#pragma once

// The check that a call fails with the exception its caller catches, carrying the text a user would read.

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// Runs action and expects it to raise an E whose text is message.
template <class E, class Action>
void ExpectRaises(Action&& action, const std::string& message)
{
    try {
        action();
        ADD_FAILURE() << "nothing raised";
    } catch (const E& e) {
        EXPECT_EQ(e.what(), message);
    }
}

} // namespace testsupport
