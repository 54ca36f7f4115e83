#pragma once

// Authentication schemes: the process-wide registry of scheme names, the
// scheme base class TIdAuthentication and its Basic scheme.
//
// The registry is filled at start-up ("Basic") and only read afterwards; it
// has no lock. An authentication object belongs to one request or proxy
// record and is used on its client's thread.

#include <cstdint>
#include <memory>
#include <string>

#include "net/http/IdHeaderList.h"
#include "net/tcp/IdException.h"

// Registering a scheme name twice.
class EIdAlreadyRegisteredAuthenticationMethod : public EIdException {
public:
    explicit EIdAlreadyRegisteredAuthenticationMethod(const std::string& className);
};

enum TIdAuthNextAction {
    naAskApplication, // credentials are missing: ask the application, then decide again
    naSendAgain,      // send the request again with credentials
    naGiveUp          // authentication failed: the request fails
};

class TIdAuthentication;

// What a class reference gives: the class name and a way to create an object.
struct TIdAuthenticationClassInfo {
    const char* ClassName;
    std::unique_ptr<TIdAuthentication> (*Create)();
};
using TIdAuthenticationClass = const TIdAuthenticationClassInfo*;

// Base of the schemes. ParamList holds "Username", "Password" and the
// parameters of the challenge, one "name: value" line each.
class TIdAuthentication {
public:
    TIdAuthentication();
    virtual ~TIdAuthentication();
    TIdAuthentication(const TIdAuthentication&) = delete;
    TIdAuthentication& operator=(const TIdAuthentication&) = delete;

    virtual TIdAuthNextAction DecideNext() = 0;
    // Steps of a complete exchange; StepNo never advances on its own.
    virtual int StepTotal() const { return 0; }
    // Set the credentials; an empty text removes the key.
    virtual void PutPassword(const std::string& password);
    virtual void PutUserName(const std::string& userName);
    virtual void Restart() {}
    // The value of the "Authorization" or "Proxy-Authorization" header.
    virtual std::string HeaderValue() = 0;
    virtual bool NeedsKeepAlive() const = 0;
    virtual TIdAuthenticationClass ClassType() const = 0;

    int32_t StepNo() const { return stepNo_; }
    TIdHeaderList& ParamList() { return paramList_; }
    const TIdHeaderList& ParamList() const { return paramList_; }
    // Null until the first TakeChallenges.
    const TIdHeaderList* ChallengeList() const { return challengeList_.get(); }

    // Replaces ChallengeList with a copy of challenges.
    void TakeChallenges(const TStringList& challenges);
    // The first challenge line that begins with scheme (case-sensitive), or empty.
    std::string ChallengeFor(const std::string& scheme) const;
    std::string UserNameOf() const;
    std::string PasswordOf() const;

protected:
    int32_t stepNo_ = 0;

private:
    TIdHeaderList paramList_;
    std::unique_ptr<TIdHeaderList> challengeList_;
};

// Basic: user name and password in Base64 (RFC 7617), one step.
class TIdBasicAuthentication : public TIdAuthentication {
public:
    static TIdAuthenticationClass Class();

    // Reads the parameters of the "Basic" challenge into ParamList and
    // RealmText, then: naSendAgain with a user name, naAskApplication
    // without one, naGiveUp at step 1.
    TIdAuthNextAction DecideNext() override;
    int StepTotal() const override { return 1; }
    void Restart() override { stepNo_ = 0; }
    // "Basic " + Base64 of user name, ":" and password.
    std::string HeaderValue() override;
    bool NeedsKeepAlive() const override { return false; }
    TIdAuthenticationClass ClassType() const override { return Class(); }

    // The realm of the last challenge read, without its quotes.
    const std::string& RealmText() const { return realmText_; }

private:
    std::string realmText_;
};

// Adds a scheme under name (letter case ignored). Throws
// EIdAlreadyRegisteredAuthenticationMethod, naming the class already
// registered, when the name is taken.
void RegisterScheme(const std::string& name, TIdAuthenticationClass schemeClass);
// The class registered under name in any letter case, or null.
TIdAuthenticationClass FindScheme(const std::string& name);
