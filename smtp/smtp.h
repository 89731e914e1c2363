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

// How the SMTP connection is protected.
enum class TSmtpSecurity {
    None,      // plain text throughout
    Tls,       // TLS from the first byte
    StartTls,  // plain greeting and EHLO, then STARTTLS; refused or not offered ends the send
};

// How far the last send got with the final ".": whether the server may
// hold the mail when the send ended without its answer.
enum class TSendStage {
    Before,    // "." not written: the server has no mail
    DotSent,   // "." written (or being written), no answer read
    Answered,  // the answer to "." was read
};

// The most a reply may hold, all its lines together; a longer one ends the
// read (kept bytes would grow without end against a hostile server).
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

// An RFC 5322 date for the Date header: "Tue, 08 Dec 2026 14:19:28 +0900",
// local time with its offset.
std::string MailDate(std::time_t when);

// SMTP client: Connect (greeting, HELO), SendMail (RSET, MAIL FROM, RCPT
// TO, DATA, header, body, "."), Disconnect (QUIT). Failures are raised:
// ESockError/EAbortError from the socket, std::runtime_error with the
// server's reply line (CR LF included) or a fixed text otherwise.
//
// With Security or Authenticate set the dialogue uses EHLO instead of HELO;
// STARTTLS and AUTH follow it. A password never crosses a plain connection
// in a form that can be read back: PLAIN and LOGIN only over TLS,
// CRAM-MD5 otherwise.
//
// Every reply is read to its last line. A reply without a code is an error
// at every step: "Connection closed by server" when the connection ended,
// the line itself otherwise. A reply over kMaxReplyBytes closes the socket
// and fails with "サーバーの応答が大きすぎます（N バイト）".
//
// Every recipient must be accepted: the first refused RCPT is followed by
// RSET (no DATA) and fails the send with "サーバーがあて先 <ADDRESS> を受け
// 付けませんでした", a line break and the server's line. A sender, user ID,
// recipient address or header line holding CR, LF or NUL (header lines may
// hold CR LF plus a space or tab as folding) fails before it is written.
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
    TSmtpSecurity Security = TSmtpSecurity::None;
    bool Authenticate = false;  // AUTH as UserID with Password after EHLO
    std::string Password;
    // AUTH as UserID with an OAuth2 access token instead (wins over
    // Authenticate): only with Security set, else nothing is sent; the
    // first of OAuthMechanisms that EHLO offers. The token comes from
    // OnOAuthToken before the connection opens (refresh false) and once
    // more after a refusal (refresh true); it answers false with an error
    // text (CP932), empty when the user cancelled. A second refusal calls
    // OnOAuthSignInNeeded and fails with the server's error.
    bool OAuth2 = false;
    std::vector<std::string> OAuthMechanisms = {"OAUTHBEARER", "XOAUTH2"};
    std::function<bool(bool refresh, std::string& token, std::string& error)> OnOAuthToken;
    std::function<void()> OnOAuthSignInNeeded;

    std::function<void()> OnConnect;  // after HELO succeeded
    std::function<void(bool& handled)> OnAuthenticationFailed;
    std::function<void(bool& handled, int hiType)> OnHeaderIncomplete;  // 1 no sender, 2 no recipient
    std::function<void()> OnSendStart;
    std::function<void(const std::string& recipient)> OnRecipientNotFound;
    std::function<void()> OnSuccess;
    std::function<void()> OnFailure;
    std::function<void(const std::string&file)> OnEncodeStart, OnEncodeEnd, OnAttachmentNotFound;

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
    // Reset by Connect and SendMail.
    TSendStage SendStage() const { return stage_; }
    const std::string& Boundary() const { return boundary_; }
    const std::string& MessageBuffer() const { return messageBuffer_.Data(); }
    // Every line of the last whole reply read (an EHLO reply's keywords).
    const std::vector<std::string>& ReplyLines() const { return replyLines_; }
    // The AUTH mechanism of the last Connect ("PLAIN", "LOGIN",
    // "CRAM-MD5", "XOAUTH2", "OAUTHBEARER"); "" without AUTH.
    const std::string& AuthMechanism() const { return mechanism_; }

private:
    // Sends command (when given) and reads the whole reply; returns the
    // last line. Raises on a reply without a code.
    std::string Reply(const std::string& command);
    std::string ReadContinuation(std::string line);
    void AssembleMessage();
    // EHLO; a refusal ends the connect with the server's reply.
    void Hello();
    // The keyword lines of the last EHLO reply, without the code: "AUTH PLAIN LOGIN".
    std::vector<std::string> Extensions() const;
    void UpgradeToTls();
    void Login();
    // The AUTH line's mechanisms of the last EHLO reply (upper case as sent).
    std::vector<std::string> OfferedMechanisms() const;
    std::string OAuthToken(bool refresh);
    void LoginOAuth(std::string token);

    // Raises unless every envelope value and header line is safe to write.
    void CheckEnvelopeAndHeader() const;

    bool busy_ = false;
    TSendStage stage_ = TSendStage::Before;
    TMemoryStream messageBuffer_;
    std::string boundary_;
    std::vector<std::string> replyLines_;
    std::string mechanism_;
};

// HMAC-MD5 (RFC 2104) of text under key, as 32 lowercase hexadecimal digits.
std::string HmacMd5Hex(std::string_view key, std::string_view text);
// Base64 of bytes on one line, without line ends.
std::string Base64Line(std::string_view bytes);
// The bytes of a Base64 text; false on anything that is not Base64.
bool DecodeBase64Line(std::string_view text, std::string& bytes);
