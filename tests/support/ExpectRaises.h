#pragma once

// The check that a call fails with the exception its caller catches, carrying the text a user would read,
// and how a call ended as one text, so a table row can state a failure or a success as its expected text.

#include <gtest/gtest.h>

#include <exception>
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

// Runs action; what describe makes of the E it raised, or none when it raised nothing.
template <class E = std::exception, class Action, class Describe>
std::string HowItEnded(Action&& action, Describe&& describe, const std::string& none = "")
{
    try {
        action();
    } catch (const E& e) {
        return describe(e);
    }
    return none;
}

// Runs action; the text of the E it raised, or "" when it raised nothing.
template <class E = std::exception, class Action>
std::string RaisedText(Action&& action)
{
    return HowItEnded<E>(action, [](const E& e) { return std::string(e.what()); });
}

} // namespace testsupport
