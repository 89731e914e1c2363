#include "smtp/smtp.h"

#include "core/sasl_oauth.h"
#include "md5/md5.h"
#include "texts/texts.h"

#include <cctype>
#include <cstring>
#include <random>

namespace {

constexpr char kClosedByServer[] = "Connection closed by server";

bool IsContinuation(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'));
}

std::string Join(const std::vector<std::string>& entries) {
    std::string joined;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) joined += ',';
        joined += entries[i];
    }
    return joined;
}

std::string LastPathComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Clears a flag on every way out of a scope.
struct ClearOnExit {
    bool& flag;
    bool keep;
    ~ClearOnExit() {
        if (!keep) flag = false;
    }
};

// A Japanese headline and the detail under it, as the window shows them.
std::runtime_error Failure(const std::string& headlineCp932, std::string detail) {
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    return std::runtime_error(headlineCp932 + "\n" + detail);
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A header line as it may go on the wire: not empty (an empty line ends
// the header block), no NUL, and every line break a fold (CR LF, then a
// space or tab, then something visible before the next break).
bool IsSafeHeaderLine(std::string_view line) {
    if (line.empty() || line.find('\0') != std::string_view::npos) return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\n') return false;  // bare LF
        if (line[i] != '\r') continue;
        if (i + 2 >= line.size() || line[i + 1] != '\n' || (line[i + 2] != ' ' && line[i + 2] != '\t')) return false;
        const std::size_t next = line.find('\r', i + 2);
        const std::string_view folded = line.substr(i + 2, next == std::string_view::npos ? next : next - i - 2);
        if (folded.find_first_not_of(" \t") == std::string_view::npos) return false;
        ++i;
    }
    return true;
}

// Body lines split at every CR, LF or CR LF inside an entry, so that each
// goes out as a line of its own with its dot stuffed.
std::vector<std::string> BodyLines(const std::vector<std::string>& body) {
    std::vector<std::string> lines;
    for (const std::string& entry : body) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t brk = entry.find_first_of("\r\n", start);
            lines.push_back(entry.substr(start, brk == std::string::npos ? brk : brk - start));
            if (brk == std::string::npos) break;
            start = brk + (entry.compare(brk, 2, "\r\n") == 0 ? 2 : 1);
        }
    }
    return lines;
}

std::string AuthFailedText() {
    return texts::Cp932(texts::smtp::kAuthFailed);
}

std::string Md5Raw(std::string_view bytes) {
    MD5 digest;
    digest.update(bytes);
    digest.finalize();
    const std::string hex = digest.hex_digest();
    std::string raw;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return raw;
}

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '=' || text[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '=' && text[i] != '\t') ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace

std::string HmacMd5Hex(std::string_view key, std::string_view text) {
    std::string block = key.size() > 64 ? Md5Raw(key) : std::string(key);
    block.resize(64, '\0');
    std::string inner(64, '\0');
    std::string outer(64, '\0');
    for (std::size_t i = 0; i < 64; ++i) {
        inner[i] = static_cast<char>(block[i] ^ 0x36);
        outer[i] = static_cast<char>(block[i] ^ 0x5c);
    }
    MD5 digest;
    digest.update(outer + Md5Raw(inner + std::string(text)));
    digest.finalize();
    return digest.hex_digest();
}

namespace {
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Line(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool DecodeBase64Line(std::string_view text, std::string& bytes) {
    bytes.clear();
    unsigned value = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        const char* at = c == '\0' ? nullptr : std::strchr(kBase64, c);
        if (!at || padding > 0) return false;
        value = (value << 6) | static_cast<unsigned>(at - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xff);
        }
    }
    return padding <= 2 && (text.size() % 4 == 0 || padding == 0);
}

std::string MailDate(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

TNMSMTP::TNMSMTP() {
    Port = 25;
}

void TNMSMTP::Abort() {
    TPowersock::Abort();
}

std::string TNMSMTP::ReadContinuation(std::string line) {
    replyLines_.assign(1, line);
    std::size_t received = line.size();
    while (IsContinuation(line)) {
        line = ReadLn();
        if (line.empty()) throw std::runtime_error(kClosedByServer);
        received += line.size();
        if (received > kMaxReplyBytes) {
            replyLines_.clear();
            RequestCloseSocket();  // the rest of the reply is never read
            throw std::runtime_error(texts::Cp932(texts::connection::kTooLargeBefore) + std::to_string(received) +
                                     texts::Cp932(texts::connection::kTooLargeAfter));
        }
        replyLines_.push_back(line);
    }
    return line;
}

std::string TNMSMTP::Reply(const std::string& command) {
    std::string line = Transaction(command);
    if (line.empty()) throw std::runtime_error(kClosedByServer);
    if (ReplyNumber() == 0) throw std::runtime_error(line);
    return ReadContinuation(std::move(line));
}

void TNMSMTP::Connect() {
    ClearOnExit busy{busy_, busy_};
    busy_ = true;
    stage_ = TSendStage::Before;
    if (HasLineBreakOrNul(UserID)) throw std::runtime_error("CR, LF or NUL in the user ID");
    std::string token;
    if (OAuth2) {
        // Refused before anything is sent; the sign-in, which may wait for
        // the user, comes before the server's idle time-out starts.
        if (Security == TSmtpSecurity::None) throw std::runtime_error(texts::Cp932(texts::oauth::kTlsOnly));
        token = OAuthToken(false);
    }
    TPowersock::Connect();
    try {
        if (Security == TSmtpSecurity::Tls) StartTls();
        std::string greeting = ReadLn();
        if (greeting.empty()) throw std::runtime_error(kClosedByServer);
        int code = 0;
        for (std::size_t i = 0; i < greeting.size() && i < 10 && greeting[i] >= '0' && greeting[i] <= '9'; ++i) {
            code = code * 10 + (greeting[i] - '0');
        }
        if (code == 0) throw std::runtime_error(greeting);
        greeting = ReadContinuation(std::move(greeting));
        if (code >= 400) throw std::runtime_error(greeting);

        mechanism_.clear();
        if (Security != TSmtpSecurity::None || Authenticate || OAuth2) {
            Hello();
            if (Security == TSmtpSecurity::StartTls) UpgradeToTls();
            if (OAuth2)
                LoginOAuth(std::move(token));
            else if (Authenticate)
                Login();
        } else {
            for (bool asked = false;;) {
                Reply("HELO " + UserID);
                if (ReplyNumber() < 300) break;
                if (OnAuthenticationFailed && !asked) {
                    asked = true;
                    bool handled = false;
                    OnAuthenticationFailed(handled);
                    if (handled) continue;
                }
                throw std::runtime_error("Authentication failed");
            }
        }
    } catch (const EAbortError&) {
        // A silent server would hold QUIT's wait without end.
        RequestCloseSocket();
        throw;
    } catch (...) {
        // The first error is the one the caller sees, also when QUIT fails.
        try {
            Disconnect();
        } catch (...) {
            RequestCloseSocket();
        }
        throw;
    }
    if (OnConnect) OnConnect();
}

void TNMSMTP::Hello() {
    // The address literal is a valid EHLO argument everywhere; a user ID
    // is not a domain, and submission servers may check it.
    std::string name = LocalAddressLiteral();
    if (name.empty()) name = "[127.0.0.1]";
    const std::string line = Reply("EHLO " + name);
    if (ReplyNumber() >= 300) throw std::runtime_error(line);
}

std::vector<std::string> TNMSMTP::Extensions() const {
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < replyLines_.size(); ++i) {  // the first line greets
        std::string line = replyLines_[i].size() > 4 ? replyLines_[i].substr(4) : std::string();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

void TNMSMTP::UpgradeToTls() {
    const std::string refused = texts::Cp932(texts::connection::kStartTlsFailed);
    bool offered = false;
    for (const std::string& line : Extensions()) {
        const std::vector<std::string> words = Words(line);
        if (!words.empty() && SameWord(words[0], "STARTTLS")) offered = true;
    }
    if (!offered) throw Failure(refused, "the server does not offer STARTTLS");
    const std::string line = Reply("STARTTLS");
    if (ReplyNumber() != 220) throw Failure(refused, line);
    // Anything already here came before the handshake and cannot be the
    // server's: a line slipped in by someone on the path. It is never
    // read, and the send stops.
    if (!MayUpgrade()) {
        RequestCloseSocket();  // not even QUIT: the stream is not the server's
        throw Failure(refused, "the server sent data after its answer to STARTTLS");
    }
    StartTls();
    Hello();  // the first EHLO's answer is forgotten
}

std::vector<std::string> TNMSMTP::OfferedMechanisms() const {
    std::vector<std::string> offered;
    for (const std::string& line : Extensions()) {
        std::vector<std::string> words = Words(line);
        if (words.empty() || !SameWord(words[0], "AUTH")) continue;
        offered.insert(offered.end(), words.begin() + 1, words.end());
    }
    return offered;
}

std::string TNMSMTP::OAuthToken(bool refresh) {
    std::string token;
    std::string error;
    const bool got = OnOAuthToken && OnOAuthToken(refresh, token, error);
    if (got && !token.empty() && !HasLineBreakOrNul(token)) return token;
    if (!got && error.empty()) throw EAbortError("Send aborted");  // the user cancelled the sign-in
    throw Failure(texts::Cp932(texts::oauth::kNoToken), error);
}

void TNMSMTP::LoginOAuth(std::string token) {
    mechanism_.clear();
    const std::vector<std::string> offered = OfferedMechanisms();
    for (const std::string& wanted : OAuthMechanisms) {
        if (!SameWord(wanted, "XOAUTH2") && !SameWord(wanted, "OAUTHBEARER")) continue;
        for (const std::string& word : offered) {
            if (SameWord(word, wanted)) mechanism_ = SameWord(wanted, "XOAUTH2") ? "XOAUTH2" : "OAUTHBEARER";
        }
        if (!mechanism_.empty()) break;
    }
    if (mechanism_.empty()) throw std::runtime_error(texts::Cp932(texts::oauth::kNoMechanism));
    // RFC 4954: the AUTH line, initial response included, in 512 octets.
    constexpr std::size_t kCommandLimit = 512;
    for (bool refreshed = false;; refreshed = true) {
        const std::string response =
            mechanism_ == "XOAUTH2" ? XOAuth2Response(UserID, token) : OAuthBearerResponse(UserID, Host, Port, token);
        std::string reply;
        if (InitialResponseFits(mechanism_, response, kCommandLimit)) {
            reply = Reply("AUTH " + mechanism_ + " " + response);
        } else {
            reply = Reply("AUTH " + mechanism_);
            if (ReplyNumber() == 334) reply = Reply(response);
        }
        std::string error;
        if (ReplyNumber() == 334) {
            // An error challenge: end the exchange; the refusal follows.
            std::string challenge = reply.size() > 4 ? reply.substr(4) : std::string();
            while (!challenge.empty() && (challenge.back() == '\n' || challenge.back() == '\r')) challenge.pop_back();
            error = OAuthErrorText(challenge);
            reply = Reply(mechanism_ == "OAUTHBEARER" ? std::string(kOAuthBearerAbort) : std::string());
        }
        if (ReplyNumber() == 235) return;
        if (!refreshed) {
            token = OAuthToken(true);  // it may have run out since it was fetched
            continue;
        }
        if (OnOAuthSignInNeeded) OnOAuthSignInNeeded();
        std::string detail = error.empty() ? std::string() : error + "\n";
        detail += reply;
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
        throw Failure(texts::Cp932(texts::oauth::kRefused), detail + "\n" + texts::Cp932(texts::oauth::kSignInAgain));
    }
}

void TNMSMTP::Login() {
    const std::vector<std::string> offered = OfferedMechanisms();
    auto offers = [&](std::string_view name) {
        for (const std::string& word : offered) {
            if (SameWord(word, name)) return true;
        }
        return false;
    };
    if (offered.empty()) throw Failure(AuthFailedText(), "the server does not offer AUTH");
    // Over a plain connection only CRAM-MD5 keeps the password unreadable.
    const bool secure = Secure();
    if (secure && offers("PLAIN"))
        mechanism_ = "PLAIN";
    else if (secure && offers("LOGIN"))
        mechanism_ = "LOGIN";
    else if (offers("CRAM-MD5"))
        mechanism_ = "CRAM-MD5";
    else {
        throw Failure(AuthFailedText(), texts::Cp932(texts::smtp::kNoSafeAuth));
    }

    // A 334 challenge's text; anything else ends the login with the reply.
    auto challenge = [&](const std::string& reply) {
        if (ReplyNumber() != 334) throw Failure(AuthFailedText(), reply);
        std::string text = reply.size() > 4 ? reply.substr(4) : std::string();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        return text;
    };
    std::string reply;
    if (mechanism_ == "PLAIN") {
        reply = Reply("AUTH PLAIN " + Base64Line(std::string(1, '\0') + UserID + '\0' + Password));
    } else if (mechanism_ == "LOGIN") {
        challenge(Reply("AUTH LOGIN"));
        challenge(Reply(Base64Line(UserID)));
        reply = Reply(Base64Line(Password));
    } else {
        std::string text;
        if (!DecodeBase64Line(challenge(Reply("AUTH CRAM-MD5")), text)) {
            Reply("*");  // cancels the exchange
            throw Failure(AuthFailedText(), "the server's CRAM-MD5 challenge is not Base64");
        }
        reply = Reply(Base64Line(UserID + " " + HmacMd5Hex(Password, text)));
    }
    if (ReplyNumber() != 235) throw Failure(AuthFailedText(), reply);
}

void TNMSMTP::AssembleMessage() {
    FinalHeader.Clear();
    FinalHeader.Add("From: " + PostMessage.FromName + "<" + PostMessage.FromAddress + ">");
    if (!PostMessage.ToAddress.empty()) FinalHeader.Add("To: " + Join(PostMessage.ToAddress));
    if (!PostMessage.ToCarbonCopy.empty()) FinalHeader.Add("CC: " + Join(PostMessage.ToCarbonCopy));
    FinalHeader.SetValue("Subject", PostMessage.Subject);
    FinalHeader.SetValue("X-Mailer", PostMessage.LocalProgram);
    if (!PostMessage.ReplyTo.empty()) FinalHeader.SetValue("Reply-To", PostMessage.ReplyTo);
    if (!PostMessage.Date.empty()) FinalHeader.SetValue("Date", PostMessage.Date);
    FinalHeader.Add("Mime-Version: 1.0");

    messageBuffer_.Clear();
    auto append = [this](const std::string& text) { messageBuffer_.Write(text.data(), text.size()); };
    const bool attaching = !PostMessage.Attachments.empty();
    if (attaching) {
        static thread_local std::mt19937 random{std::random_device{}()};
        std::uniform_int_distribution<int> letter(0, 24);  // "a" to "y"
        boundary_ = "====================54535";
        for (int i = 0; i < 6; ++i) boundary_ += static_cast<char>('a' + letter(random));
        boundary_ += "====";
        FinalHeader.Add("Content-Type: multipart/mixed; boundary=\"" + boundary_ + "\"");
        append("--" + boundary_ + "\r\n");
        append("Content-Type: text/plain; charset=" + Charset + "\r\n\r\n");
    } else {
        static const char* const kSubTypes[] = {"text/plain", "text/enriched", "text/sgml", "text/tab-separated-values",
                                                "text/html"};
        FinalHeader.Add(std::string("Content-Type: ") + kSubTypes[SubType] + "; charset=" + Charset);
    }
    for (const std::string& line : BodyLines(PostMessage.Body)) {
        append((!line.empty() && line[0] == '.' ? "." : "") + line + "\r\n");
    }
    if (!attaching) return;
    for (const std::string& path : PostMessage.Attachments) {
        const std::string name = LastPathComponent(path);
        std::unique_ptr<TFileStream> file;
        try {
            file = std::make_unique<TFileStream>(path);
        } catch (const EStreamError&) {
            if (OnAttachmentNotFound) OnAttachmentNotFound(path);
            throw;
        }
        append("--" + boundary_ + "\r\n");
        append("Content-Type: application/octet-stream; name=\"" + name + "\"\r\n");
        append("Content-Transfer-Encoding: base64\r\n");
        append("Content-Disposition: attachment; filename=\"" + name + "\"\r\n\r\n");
        if (OnEncodeStart) OnEncodeStart(path);
        TMemoryStream encoded;
        {
            TS_BufferStream buffered(encoded);
            TNMUUProcessor encoder;
            encoder.Method = EncodeType;
            encoder.InputStream = file.get();
            encoder.OutputStream = &buffered;
            encoder.Encode();
        }
        append(encoded.Data());
        if (OnEncodeEnd) OnEncodeEnd(path);
    }
    append("--" + boundary_ + "--\r\n");
}

void TNMSMTP::CheckEnvelopeAndHeader() const {
    if (HasLineBreakOrNul(PostMessage.FromAddress)) throw std::runtime_error("CR, LF or NUL in the sender address");
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        for (const std::string& entry : *list) {
            if (HasLineBreakOrNul(ExtractAddress(entry)))
                throw std::runtime_error("CR, LF or NUL in a recipient address");
        }
    }
    for (const std::string& header : FinalHeader.Lines()) {
        if (!IsSafeHeaderLine(header)) throw std::runtime_error("CR, LF or NUL in a header line");
    }
}

void TNMSMTP::SendMail() {
    if (busy_) throw std::runtime_error("SMTP client busy");
    ClearOnExit busy{busy_, false};
    busy_ = true;
    stage_ = TSendStage::Before;

    AssembleMessage();
    CertifyConnect();
    for (bool asked = false;;) {
        const int missing =
            PostMessage.FromAddress.empty() ? 1
            : PostMessage.ToAddress.empty() && PostMessage.ToCarbonCopy.empty() && PostMessage.ToBlindCarbonCopy.empty()
                ? 2
                : 0;
        if (missing == 0) break;
        if (OnHeaderIncomplete && !asked) {
            asked = true;
            bool handled = false;
            OnHeaderIncomplete(handled, missing);
            if (handled) continue;
        }
        throw std::runtime_error("Incomplete Header");
    }
    if (OnSendStart) OnSendStart();
    CheckEnvelopeAndHeader();  // after OnSendStart: its lines go out too

    std::string line = Reply("RSET");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);
    line = Reply("MAIL FROM:<" + PostMessage.FromAddress + ">");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        for (const std::string& entry : *list) {
            const std::string address = ExtractAddress(entry);
            if (address.empty()) continue;
            line = Reply("RCPT TO:<" + address + ">");
            if (ReplyNumber() >= 200 && ReplyNumber() < 300) continue;
            // One refused recipient stops the whole send: the user corrects
            // the address and sends again, and nobody gets the mail twice.
            if (ReplyNumber() > 300 && OnRecipientNotFound) OnRecipientNotFound(entry);
            try {
                Reply("RSET");
            } catch (const std::exception&) {
                // The refusal is what the user must see.
            }
            throw Failure(texts::Cp932(texts::smtp::kRecipientRefusedBefore) + address +
                              texts::Cp932(texts::smtp::kRecipientRefusedAfter),
                          line);
        }
    }
    line = Reply("DATA");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);

    for (const std::string& header : FinalHeader.Lines()) Write(header + "\r\n");
    Write("\r\n\r\n");
    SendStream(messageBuffer_);
    stage_ = TSendStage::DotSent;  // from here the server may have the mail
    line = Reply(".");
    stage_ = TSendStage::Answered;
    if (ReplyNumber() >= 400) {
        if (OnFailure) OnFailure();
        throw std::runtime_error(line);
    }
    if (ClearParams) ClearParameters();
    busy_ = false;
    if (OnSuccess) OnSuccess();
}

void TNMSMTP::Disconnect() {
    ClearCancel();  // so QUIT can go out after an abort
    struct CloseOnExit {
        TNMSMTP& client;
        ~CloseOnExit() { client.RequestCloseSocket(); }
    } close{*this};
    if (!Connected()) return;
    const std::string line = Reply("QUIT");
    if (ReplyNumber() > 339) throw std::runtime_error(line);
}

void TNMSMTP::ClearParameters() {
    PostMessage.ToAddress.clear();
    PostMessage.ToCarbonCopy.clear();
    PostMessage.ToBlindCarbonCopy.clear();
    PostMessage.Attachments.clear();
}

std::string TNMSMTP::ExtractAddress(std::string_view entry) {
    const std::size_t lt = entry.find('<');
    if (lt != std::string_view::npos) {
        const std::string_view rest = entry.substr(lt + 1);
        return std::string(rest.substr(0, rest.find_first_of("<>")));
    }
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) return std::string(entry);
    const std::string_view rest = entry.substr(colon + 1);
    return std::string(rest.substr(0, rest.find(':')));
}
