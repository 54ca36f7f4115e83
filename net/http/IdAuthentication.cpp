#include "net/http/IdAuthentication.h"

#include <utility>
#include <vector>

#include "net/http/IdCoderMIME.h"
#include "net/http/IdGlobal.h"
#include "platform/SysUtils.h"

namespace {

struct TSchemeEntry {
    std::string name;
    TIdAuthenticationClass schemeClass;
};

// Written at start-up only, read during requests: no lock.
std::vector<TSchemeEntry>& SchemeList()
{
    static std::vector<TSchemeEntry> list;
    return list;
}

const TSchemeEntry* FindEntry(const std::string& name)
{
    for (const TSchemeEntry& entry : SchemeList()) {
        if (SameText(entry.name, name)) return &entry;
    }
    return nullptr;
}

const bool kBasicRegistered = [] {
    RegisterScheme("Basic", TIdBasicAuthentication::Class());
    return true;
}();

} // namespace

EIdAlreadyRegisteredAuthenticationMethod::EIdAlreadyRegisteredAuthenticationMethod(const std::string& className)
    : EIdException(Format("This authentication method is already registered with class name %s.", className))
{}

void RegisterScheme(const std::string& name, TIdAuthenticationClass schemeClass)
{
    if (const TSchemeEntry* entry = FindEntry(name)) {
        throw EIdAlreadyRegisteredAuthenticationMethod(entry->schemeClass->ClassName);
    }
    SchemeList().push_back({name, schemeClass});
}

TIdAuthenticationClass FindScheme(const std::string& name)
{
    const TSchemeEntry* entry = FindEntry(name);
    return entry ? entry->schemeClass : nullptr;
}

// ---- TIdAuthentication ---------------------------------------------------------

TIdAuthentication::TIdAuthentication()
{
    // Credentials are kept on one line each: folding would turn a comma in a
    // long password into ", " when the value is read back.
    paramList_.SetFoldOnWrite(false);
}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::PutPassword(const std::string& password) { paramList_.SetValueOf("Password", password); }

void TIdAuthentication::PutUserName(const std::string& userName) { paramList_.SetValueOf("Username", userName); }

void TIdAuthentication::TakeChallenges(const TStringList& challenges)
{
    if (!challengeList_) challengeList_ = std::make_unique<TIdHeaderList>();
    challengeList_->AssignLines(challenges);
}

std::string TIdAuthentication::ChallengeFor(const std::string& scheme) const
{
    if (!challengeList_) return std::string();
    for (const std::string& line : *challengeList_) {
        if (line.starts_with(scheme)) return line;
    }
    return std::string();
}

std::string TIdAuthentication::UserNameOf() const { return paramList_.ValueOf("username"); }

std::string TIdAuthentication::PasswordOf() const { return paramList_.ValueOf("password"); }

// ---- TIdBasicAuthentication ----------------------------------------------------

TIdAuthenticationClass TIdBasicAuthentication::Class()
{
    static const TIdAuthenticationClassInfo info{"TIdBasicAuthentication", []() -> std::unique_ptr<TIdAuthentication> {
                                                     return std::make_unique<TIdBasicAuthentication>();
                                                 }};
    return &info;
}

TIdAuthNextAction TIdBasicAuthentication::DecideNext()
{
    std::string challenge = ChallengeFor("Basic");
    CutToken(challenge, " "); // the scheme word
    while (!challenge.empty()) {
        std::string parameter = CutToken(challenge, ", ");
        const size_t equals = parameter.find('=');
        if (equals != std::string::npos) parameter.replace(equals, 1, ParamList().Separator());
        ParamList().Add(parameter);
    }
    // Drops the quotes of a quoted realm; an unquoted one loses its ends all the same.
    const std::string realm = ParamList().ValueOf("realm");
    realmText_ = realm.size() > 2 ? realm.substr(1, realm.size() - 2) : std::string();

    switch (stepNo_) {
    case 0: return UserNameOf().empty() ? naAskApplication : naSendAgain;
    case 1: return naGiveUp;
    default: return naSendAgain;
    }
}

std::string TIdBasicAuthentication::HeaderValue()
{
    return "Basic " + TIdEncoderMIME::EncodeText(UserNameOf() + ":" + PasswordOf());
}
