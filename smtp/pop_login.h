#pragma once

#include "accounts/account.h"
#include "accounts/option_rules.h"
#include "smtp/powersock.h"

#include <string>

// POP before SMTP: logs in to the account's POP3 server, then QUIT, so
// that a server which trusts a recent POP3 login accepts the mail. The
// connection uses the account's encryption (POPUseTLS, POPUseSTLS) and
// login method (APOP, USER/PASS, or APOP whenever the greeting offers a
// timestamp when POPAuthAuto is set). Blocking-style like every
// TPowersock call: the waits pump, honour TimeOut, and end on Abort.
//   TPopLogin login(account, password);
//   login.Pump = ...;
//   login.Run();  // raises on any failure, message as CP932
class TPopLogin : public TPowersock {
public:
    TPopLogin(const Account& account, std::string password);

    void Run();

private:
    // One command (when given) and its reply line without CR LF; the
    // connection closing first ends the login with headline.
    std::string Exchange(const std::string& command, const std::string& headline);
    // The same, and a reply that is not "+OK" ends the login with headline
    // and the reply.
    std::string Expect(const std::string& command, const std::string& headline);

    std::string user_;
    std::string password_;
    bool tls_ = false;
    bool stls_ = false;
    PopLogin login_ = PopLogin::UserPass;
};
