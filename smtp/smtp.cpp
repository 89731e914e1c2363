#include "smtp/smtp.h"

#include <random>

namespace {

constexpr char kClosedByServer[] = "Connection closed by server";

bool IsContinuation(const std::string& line)
{
    return !line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'));
}

std::string Join(const std::vector<std::string>& entries)
{
    std::string joined;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) joined += ',';
        joined += entries[i];
    }
    return joined;
}

std::string LastPathComponent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Clears a flag on every way out of a scope.
struct ClearOnExit {
    bool& flag;
    bool keep;
    ~ClearOnExit()
    {
        if (!keep) flag = false;
    }
};

}  // namespace

std::string MailDate(std::time_t when)
{
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

TNMSMTP::TNMSMTP() { Port = 25; }

void TNMSMTP::Abort() { TPowersock::Abort(); }

std::string TNMSMTP::ReadContinuation(std::string line)
{
    replyLines_.assign(1, line);
    while (IsContinuation(line)) {
        line = ReadLn();
        if (line.empty()) throw std::runtime_error(kClosedByServer);
        replyLines_.push_back(line);
    }
    return line;
}

std::string TNMSMTP::Reply(const std::string& command)
{
    std::string line = Transaction(command);
    if (line.empty()) throw std::runtime_error(kClosedByServer);
    if (ReplyNumber() == 0) throw std::runtime_error(line);
    return ReadContinuation(std::move(line));
}

void TNMSMTP::Connect()
{
    ClearOnExit busy{busy_, busy_};
    busy_ = true;
    TPowersock::Connect();
    try {
        std::string greeting = ReadLn();
        if (greeting.empty()) throw std::runtime_error(kClosedByServer);
        int code = 0;
        for (std::size_t i = 0; i < greeting.size() && i < 10 && greeting[i] >= '0' && greeting[i] <= '9'; ++i) {
            code = code * 10 + (greeting[i] - '0');
        }
        if (code == 0) throw std::runtime_error(greeting);
        greeting = ReadContinuation(std::move(greeting));
        if (code >= 400) throw std::runtime_error(greeting);

        bool asked = false;
        for (;;) {
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

void TNMSMTP::AssembleMessage()
{
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
        static const char* const kSubTypes[] = {"text/plain", "text/enriched", "text/sgml",
                                                "text/tab-separated-values", "text/html"};
        FinalHeader.Add(std::string("Content-Type: ") + kSubTypes[SubType] + "; charset=" + Charset);
    }
    for (const std::string& line : PostMessage.Body) {
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

void TNMSMTP::SendMail()
{
    if (busy_) throw std::runtime_error("SMTP client busy");
    ClearOnExit busy{busy_, false};
    busy_ = true;

    AssembleMessage();
    CertifyConnect();
    for (bool asked = false;;) {
        const int missing = PostMessage.FromAddress.empty() ? 1
                            : PostMessage.ToAddress.empty() && PostMessage.ToCarbonCopy.empty() &&
                                      PostMessage.ToBlindCarbonCopy.empty()
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

    std::string line = Reply("RSET");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);
    line = Reply("MAIL FROM:<" + PostMessage.FromAddress + ">");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        for (const std::string& entry : *list) {
            const std::string address = ExtractAddress(entry);
            if (address.empty()) continue;
            Reply("RCPT TO:<" + address + ">");
            if (ReplyNumber() > 300 && OnRecipientNotFound) OnRecipientNotFound(entry);
        }
    }
    line = Reply("DATA");
    if (ReplyNumber() >= 400) throw std::runtime_error(line);

    for (const std::string& header : FinalHeader.Lines()) Write(header + "\r\n");
    Write("\r\n\r\n");
    SendStream(messageBuffer_);
    line = Reply(".");
    if (ReplyNumber() >= 400) {
        if (OnFailure) OnFailure();
        throw std::runtime_error(line);
    }
    if (ClearParams) ClearParameters();
    busy_ = false;
    if (OnSuccess) OnSuccess();
}

void TNMSMTP::Disconnect()
{
    ClearCancel();  // so QUIT can go out after an abort
    struct CloseOnExit {
        TNMSMTP& client;
        ~CloseOnExit() { client.RequestCloseSocket(); }
    } close{*this};
    if (!Connected()) return;
    const std::string line = Reply("QUIT");
    if (ReplyNumber() > 339) throw std::runtime_error(line);
}

void TNMSMTP::ClearParameters()
{
    PostMessage.ToAddress.clear();
    PostMessage.ToCarbonCopy.clear();
    PostMessage.ToBlindCarbonCopy.clear();
    PostMessage.Attachments.clear();
}

std::string TNMSMTP::ExtractAddress(std::string_view entry)
{
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
