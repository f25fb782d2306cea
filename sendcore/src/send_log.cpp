#include "sendcore/send_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/cp932.h"
#include "common/program.h"

namespace tarn {
namespace {

// The fixed Japanese parts of the lines, converted to Shift_JIS once.
struct Texts {
    std::string sendData, contents, sender, subject;  // 5308
    std::string connected;                            // 5310
    std::string sendStart;                            // 5314
    std::string sent;                                 // 5311
    std::string failed;                               // 5312
    std::string connectFailed;                        // 5309
    std::string sendEnd;                              // 5315
    std::string resultOk, resultNg, count;            // 5324
    std::string checkData;                            // 5330
    std::string level, start, done;                   // 5318, 5319
};

std::string sjisText(std::string_view utf8) {
    auto r = cp932::fromUtf8(utf8);
    // Every literal below is CP932 text; the tests compare whole logs byte for byte.
    return r ? *r : std::string(utf8);
}

const Texts& texts() {
    static const Texts t{
        sjisText("送信データ:["),
        sjisText("送信文:["),
        sjisText("送信者:["),
        sjisText("表題:["),
        sjisText("SMTPサーバに接続しました。\n\t:"),
        sjisText("--- 送信開始 ["),
        sjisText("\",\"送信完了\"\n"),
        sjisText("\",\"送信失敗\","),
        sjisText("SMTPサーバへの接続に失敗しました。\n"),
        sjisText("--- 送信完了 ["),
        sjisText("結果 [OK:"),
        sjisText("件 NG:"),
        sjisText("件]"),
        sjisText("チェックデータ:["),
        sjisText("--- 検証レベル "),
        sjisText(" 開始 ["),
        sjisText(" 完了"),
    };
    return t;
}

std::string num(int v) {
    return std::to_string(v);
}

// printf "%0Nd" / "%Nd" of an int.
std::string padded(int v, int width, char fill) {
    std::string digits = std::to_string(v < 0 ? -static_cast<long long>(v) : v);
    std::string sign = v < 0 ? "-" : "";
    std::size_t used = sign.size() + digits.size();
    std::string pad(used < static_cast<std::size_t>(width) ? width - used : 0, fill);
    return fill == '0' ? sign + pad + digits : pad + sign + digits;
}

std::string inQuotes(std::string_view s) {
    return "\"" + logQuoted(s) + "\"";
}

std::string escaped(std::string_view sjis, bool quoted) {
    std::string out;
    out.reserve(sjis.size());
    for (char ch : sjis) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\0':
                out += "\\0";
                break;
            case '\t':
                out += '\t';  // a tab forges nothing and appears in paths and replies
                break;
            case '"':
                out += quoted ? "\"\"" : "\"";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    constexpr char kHex[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

}  // namespace

std::string logText(std::string_view sjis) {
    return escaped(sjis, false);
}

std::string logQuoted(std::string_view sjis) {
    return escaped(sjis, true);
}

std::string logVersionText() {
    Version v = programVersion();
    return " " + num(v.major) + ". " + num(v.minor) + ". " + num(v.patch) + ". " + num(v.tweak);
}

SendLog::SendLog(Clock clock) : m_clock(clock ? std::move(clock) : Clock(localNow)) {}

SendLog::~SendLog() = default;

Status SendLog::open(const std::filesystem::path& path, int createMode) {
    close();
    // Opened without emptying it, locked, and only then emptied: a log that
    // another run is writing is refused rather than cut off under it or mixed
    // with our lines. O_NONBLOCK: a FIFO without a reader fails instead of
    // hanging the run.
    const int flags =
        O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (createMode != 0 ? O_APPEND : 0);
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return makeError(path.string() + ": " + std::strerror(errno));
    }
    auto failed = [&](std::string why) {
        ::close(fd);
        return makeError(path.string() + ": " + why);
    };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return failed(errno == EWOULDBLOCK ? "別の送信またはチェックがこのログに書き込み中です"
                                           : std::strerror(errno));
    }
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        (createMode == 0 && ::ftruncate(fd, 0) != 0)) {
        return failed(std::strerror(errno));
    }
    std::FILE* f = ::fdopen(fd, createMode != 0 ? "ab" : "wb");
    if (f == nullptr) {
        return failed(std::strerror(errno));
    }
    m_file.reset(f);
    return Ok{};
}

void SendLog::close() {
    m_file.reset();
}

const std::string& SendLog::timestamp() {
    m_timestamp = formatTimestamp(m_clock());
    return m_timestamp;
}

bool SendLog::write(std::string_view sjis) {
    if (!m_file) {
        return false;
    }
    std::string out;
    out.reserve(sjis.size() + 16);
    for (char c : sjis) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    // Flushed per line: a log must tell what happened even when the run dies.
    return std::fwrite(out.data(), 1, out.size(), m_file.get()) == out.size() &&
           std::fflush(m_file.get()) == 0;
}

bool SendLog::runHeader(std::string_view recipientSource, std::string_view contentsPath,
                        std::string_view fromName, std::string_view fromEMail,
                        std::string_view subject) {
    const Texts& t = texts();
    std::string line = "TARN01 LogText " + timestamp() + "\n";
    line += t.sendData + logText(recipientSource) + "]\n";
    line += t.contents + logText(contentsPath) + "]\n";
    line += t.sender + logText(fromName) + " <" + logText(fromEMail) + ">]\n";
    line += t.subject + logText(subject) + "]\n";
    return write(line);
}

bool SendLog::versionLine() {
    return write("Version:" + logVersionText() + "\n");
}

bool SendLog::smtpServer(std::string_view smtpName, int portNo) {
    return write("SMTPName:" + logText(smtpName) + ", PortNo:" + num(portNo) + "\n");
}

bool SendLog::popBeforeSmtp(std::string_view pop3Name, std::string_view userId) {
    return write("Use pop before SMTP\nPOP3Name:" + logText(pop3Name) +
                 ", UserID:" + logText(userId) + "\n");
}

bool SendLog::smtpAuth(std::string_view userId) {
    return write("Use SMTP-AUTH\nUserID:" + logText(userId) + "\n");
}

bool SendLog::connected(std::string_view serverReply) {
    return write(texts().connected + logText(serverReply) + "\n");
}

bool SendLog::sendStart() {
    return write(texts().sendStart + timestamp() + "] ---\n");
}

bool SendLog::messageSent(int position, std::string_view address) {
    return write(inQuotes(padded(position, 5, '0')) + "," + "\"" + logQuoted(address) +
                 texts().sent);
}

bool SendLog::messageFailed(int position, std::string_view address, const EngineErrorValues& e,
                            std::string_view serverReply) {
    std::string line = inQuotes(padded(position, 5, '0')) + ",\"" + logQuoted(address) +
                       texts().failed + num(e.lastError) + "," + num(e.socketError) + "," +
                       num(e.smtpReplyCode) + "," + num(e.errorPosition) + "\n";
    if (e.smtpReplyCode != 0) {
        line += "\t" + inQuotes(serverReply) + "\n";
    }
    return write(line);
}

bool SendLog::connectFailed(const EngineErrorValues& e) {
    return write("[" + num(e.lastError) + "][" + num(e.socketError) + "][" + num(e.smtpReplyCode) +
                 "][" + num(e.errorPosition) + "]" + texts().connectFailed);
}

bool SendLog::note(std::string_view reason) {
    return write("\t" + inQuotes(reason) + "\n");
}

bool SendLog::emptyLine() {
    return write("\n");
}

bool SendLog::sendEnd() {
    return write(texts().sendEnd + timestamp() + "] ---\n");
}

bool SendLog::result(int ok, int ng) {
    const Texts& t = texts();
    return write(t.resultOk + num(ok) + t.resultNg + num(ng) + t.count + "\n\n");
}

bool SendLog::checkHeader(std::string_view source) {
    return write("TARN01 LogText " + timestamp() + "\n" + texts().checkData + logText(source) +
                 "]\n");
}

bool SendLog::levelStart(int level) {
    const Texts& t = texts();
    return write(t.level + num(level) + t.start + timestamp() + "] ---\n");
}

bool SendLog::addressPassed(int position, std::string_view address) {
    return write(inQuotes(padded(position, 5, '0')) + ",\"OK\"," + inQuotes(address) + "\n");
}

bool SendLog::addressFailed(int position, int code, std::string_view message,
                            std::string_view address) {
    return write(inQuotes(padded(position, 5, '0')) + ",\"NG\",\"" + padded(code, 2, ' ') + ":" +
                 std::string(message) + "\"," + inQuotes(address) + "\n");
}

bool SendLog::levelEnd(int level, int ok, int ng, CheckLogStyle style) {
    const Texts& t = texts();
    std::string line = t.level + num(level) + t.done;
    if (style == CheckLogStyle::GroupSend) {
        line += ' ';
    }
    line += "[OK:" + num(ok) + t.resultNg + num(ng) + t.count + " [" + timestamp() + "] ---\n\n";
    return write(line);
}

}  // namespace tarn
