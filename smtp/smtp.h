#pragma once

#include "smtp/encoders.h"
#include "smtp/powersock.h"

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The outgoing message. Texts are sent as the bytes they hold: conversions
// (ISO-2022-JP, encoded words) happen before the record is filled.
struct TPostMessage {
    std::string FromAddress;  // MAIL FROM and the From header, verbatim
    std::string FromName;     // put before "<" in the From header
    std::vector<std::string> ToAddress;
    std::vector<std::string> ToCarbonCopy;
    std::vector<std::string> ToBlindCarbonCopy;  // RCPT only, never in the header
    std::vector<std::string> Body;               // one entry per line, no line ends
    std::vector<std::string> Attachments;        // file paths
    std::string Subject;
    std::string LocalProgram;  // X-Mailer value
    std::string Date;          // Date value, sent unchanged
    std::string ReplyTo;
};

enum TSubType { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

// An RFC 5322 date for the Date header: "Tue, 08 Dec 2026 14:19:28 +0900",
// local time with its offset.
std::string MailDate(std::time_t when);

// SMTP client: Connect (greeting, HELO), SendMail (RSET, MAIL FROM, RCPT
// TO, DATA, header, body, "."), Disconnect (QUIT). Failures are raised:
// ESockError/EAbortError from the socket, std::runtime_error with the
// server's reply line (CR LF included) or a fixed text otherwise.
//
// Every reply is read to its last line. A reply without a code is an error
// at every step: "Connection closed by server" when the connection ended,
// the line itself otherwise.
class TNMSMTP : public TPowersock {
public:
    TNMSMTP();

    std::string UserID;  // the argument of HELO
    TPostMessage PostMessage;
    TExStringList FinalHeader;  // rebuilt by every SendMail
    UUMethods EncodeType = uuMime;
    bool ClearParams = true;
    TSubType SubType = mtPlain;
    std::string Charset = "us-ascii";

    std::function<void()> OnConnect;  // after HELO succeeded
    std::function<void(bool& handled)> OnAuthenticationFailed;
    std::function<void(bool& handled, int hiType)> OnHeaderIncomplete;  // 1 no sender, 2 no recipient
    std::function<void()> OnSendStart;
    std::function<void(const std::string& recipient)> OnRecipientNotFound;
    std::function<void()> OnSuccess;
    std::function<void()> OnFailure;
    std::function<void(const std::string& file)> OnEncodeStart, OnEncodeEnd, OnAttachmentNotFound;

    void Connect() override;
    // Busy already (a send re-entered through the pump): "SMTP client busy".
    void SendMail();
    // QUIT, then the socket is closed in every case. Without a connection
    // it only closes.
    void Disconnect() override;
    void Abort() override;
    // Closes the socket without QUIT: after a failure, when the server may
    // be gone or silent.
    void CloseSocket() { RequestCloseSocket(); }
    void ClearParameters();
    static std::string ExtractAddress(std::string_view entry);

    bool Busy() const { return busy_; }
    const std::string& Boundary() const { return boundary_; }
    const std::string& MessageBuffer() const { return messageBuffer_.Data(); }
    // Every line of the last whole reply read (an EHLO reply's keywords).
    const std::vector<std::string>& ReplyLines() const { return replyLines_; }

private:
    // Sends command (when given) and reads the whole reply; returns the
    // last line. Raises on a reply without a code.
    std::string Reply(const std::string& command);
    std::string ReadContinuation(std::string line);
    void AssembleMessage();

    bool busy_ = false;
    TMemoryStream messageBuffer_;
    std::string boundary_;
    std::vector<std::string> replyLines_;
};
