#include "net/http/IdAuthentication.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http/IdCoderMIME.h"
#include "tests/support/ExpectRaises.h"

namespace {

using testsupport::ExpectRaises;

using Lines = std::vector<std::string>;

Lines LinesOf(const TStringList& list) { return Lines(list.begin(), list.end()); }

std::string Repeat(const std::string& piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// Lets a test put the exchange at a given step.
class TSteppedBasic : public TIdBasicAuthentication {
public:
    void SetStep(int32_t step) { stepNo_ = step; }
};

TEST(TIdEncoderMIME, EncodesTheStandardVectors)
{
    struct Case {
        std::string bytes;
        const char* text;
    };
    // RFC 4648 section 10, then every byte value that reaches the table's ends.
    const Case cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string(1, '\0'), "AA=="},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xEF\xBE", "++++"},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(TIdEncoderMIME::EncodeText(c.bytes), c.text);
    }
    // One unbroken line however long.
    const std::string encoded = TIdEncoderMIME::EncodeText(std::string(300, 'x'));
    EXPECT_EQ(encoded.size(), 400u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

TEST(TIdEncoderMIME, EncodesPartOfAStream)
{
    struct Case {
        int64_t position, count;
        const char* text; // null: "Uneven size in Encode."
    };
    const Case cases[] = {
        {0, TIdEncoder::kAll, "Zm9vYmFy"},
        {0, 3, "Zm9v"},
        {3, 3, "YmFy"},
        {4, TIdEncoder::kAll, "YXI="},
        {4, 6, "YXI="}, // a count beyond the end takes what is left
        {0, 0, ""},
        {0, 1, nullptr},
        {0, 4, nullptr},
        {4, 5, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.position) + "/" + std::to_string(c.count));
        TMemoryStream stream;
        stream.WriteBuffer("foobar", 6);
        stream.SetPosition(c.position);
        TIdEncoderMIME encoder;
        try {
            EXPECT_EQ(encoder.Encode(stream, c.count), c.text ? c.text : "(an error)");
        } catch (const EIdException& e) {
            EXPECT_EQ(c.text, nullptr);
            EXPECT_STREQ(e.what(), "Uneven size in Encode.");
        }
    }
}

TEST(SchemeRegistry, FindsBasicInAnyCaseAndRefusesDuplicates)
{
    EXPECT_EQ(FindScheme("Basic"), TIdBasicAuthentication::Class());
    EXPECT_EQ(FindScheme("bAsIc"), TIdBasicAuthentication::Class());
    EXPECT_EQ(FindScheme("Digest"), nullptr);
    EXPECT_EQ(FindScheme(""), nullptr);
    ExpectRaises<EIdAlreadyRegisteredAuthenticationMethod>(
        [&] { RegisterScheme("basic", TIdBasicAuthentication::Class()); },
        "This authentication method is already registered with class name TIdBasicAuthentication.");
    const std::unique_ptr<TIdAuthentication> made = FindScheme("BASIC")->Create();
    EXPECT_EQ(made->ClassType(), TIdBasicAuthentication::Class());
    EXPECT_EQ(made->StepNo(), 0);
}

TEST(TIdBasicAuthentication, DecidesFromTheChallengeAndTheUserName)
{
    struct Case {
        const char* what;
        Lines challenges;
        const char* userName;
        int32_t step;
        TIdAuthNextAction action;
        const char* realm;
        Lines params; // ParamList after the credentials
    };
    const Case cases[] = {
        {"quoted realm", {"Basic realm=\"WallyWorld\""}, "u", 0, naSendAgain, "WallyWorld", {"realm: \"WallyWorld\""}},
        {"several parameters",
         {"Basic realm=\"a\", charset=\"UTF-8\""},
         "u",
         0,
         naSendAgain,
         "a",
         {"realm: \"a\"", "charset: \"UTF-8\""}},
        {"unquoted realm loses its ends all the same", {"Basic realm=abc"}, "u", 0, naSendAgain, "b", {"realm: abc"}},
        {"first matching line",
         {"Digest realm=\"d\"", "Basic realm=\"b\"", "Basic realm=\"c\""},
         "u",
         0,
         naSendAgain,
         "b",
         {"realm: \"b\""}},
        {"lower-case scheme is not read", {"basic realm=\"x\""}, "u", 0, naSendAgain, "", {}},
        {"scheme word alone", {"Basic"}, "u", 0, naSendAgain, "", {}},
        {"no user name: ask", {"Basic realm=\"r\""}, "", 0, naAskApplication, "r", {"realm: \"r\""}},
        {"second step gives up", {"Basic realm=\"r\""}, "u", 1, naGiveUp, "r", {"realm: \"r\""}},
        {"later steps send again", {"Basic realm=\"r\""}, "", 2, naSendAgain, "r", {"realm: \"r\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TSteppedBasic auth;
        auth.PutUserName(c.userName);
        auth.PutPassword("p");
        auth.SetStep(c.step);
        TStringList challenges;
        for (const std::string& line : c.challenges) challenges.Add(line);
        auth.TakeChallenges(challenges);
        EXPECT_EQ(auth.DecideNext(), c.action);
        EXPECT_EQ(auth.RealmText(), c.realm);
        Lines expected;
        if (*c.userName != '\0') expected.push_back(std::string("Username: ") + c.userName);
        expected.push_back("Password: p");
        expected.insert(expected.end(), c.params.begin(), c.params.end());
        EXPECT_EQ(LinesOf(auth.ParamList()), expected);
    }
}

TEST(TIdBasicAuthentication, KeepsTheFirstRealmAcrossChallenges)
{
    TIdBasicAuthentication auth;
    EXPECT_EQ(auth.ChallengeList(), nullptr);
    EXPECT_EQ(auth.ChallengeFor("Basic"), "");
    TStringList first;
    first.Add("Basic realm=\"a\"");
    auth.TakeChallenges(first);
    auth.DecideNext();
    TStringList second;
    second.Add("Basic realm=\"b\"");
    auth.TakeChallenges(second);
    EXPECT_EQ(LinesOf(*auth.ChallengeList()), Lines{"Basic realm=\"b\""});
    auth.DecideNext();
    EXPECT_EQ(auth.RealmText(), "a");
    EXPECT_EQ(auth.ParamList().Count(), 2);
}

TEST(TIdBasicAuthentication, BuildsTheHeaderValueFromTheCredentials)
{
    struct Case {
        const char* user;
        std::string password;
        const char* value;
    };
    const Case cases[] = {
        {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"", "", "Basic Og=="},
        {"u", "", "Basic dTo="},
        // A long password with commas comes back unchanged: credentials are never folded.
        {"u", Repeat("ab,", 30),
         "Basic "
         "dTphYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhYixhY"
         "ixhYixhYixhYiw="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        TIdBasicAuthentication auth;
        auth.PutUserName(c.user);
        auth.PutPassword(c.password);
        EXPECT_EQ(auth.UserNameOf(), c.user);
        EXPECT_EQ(auth.PasswordOf(), c.password);
        EXPECT_EQ(auth.HeaderValue(), c.value);
    }

    TIdBasicAuthentication auth;
    auth.PutUserName("u");
    auth.PutUserName("");
    EXPECT_EQ(auth.ParamList().IndexOfHeader("Username"), -1);
    EXPECT_EQ(auth.StepTotal(), 1);
    EXPECT_FALSE(auth.NeedsKeepAlive());
}

} // namespace
