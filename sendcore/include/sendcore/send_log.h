// The send log and the check log: Shift_JIS text files written line by line,
// each "\n" reaching the file as CR LF. There is one function per kind of line,
// so that the drivers never assemble a log line themselves. Every function
// returns false when no file is open (the line is then skipped) or the write
// failed; arguments are Shift_JIS.
//
// Values from records, files and servers cannot forge a line: CR, LF, NUL and
// the other control bytes are written as \r, \n, \0 and \xHH, and a double
// quote inside a quoted field is doubled, as CSV does. (Control bytes and '"'
// are never part of a double-byte character, so this is safe on Shift_JIS.)
#pragma once

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarn {

// The engine's four error values, in the order the logs print them.
struct EngineErrorValues {
    int lastError = 0;
    int socketError = 0;
    int smtpReplyCode = 0;
    int errorPosition = 0;
};

// The level-end line of the check log reads differently in the two applications.
enum class CheckLogStyle { GroupSend, DatabaseSend };

class SendLog {
public:
    using Clock = std::function<std::tm()>;
    // The clock gives the local time for timestamps (tests pass a fixed one).
    explicit SendLog(Clock clock = {});
    ~SendLog();
    SendLog(const SendLog&) = delete;
    SendLog& operator=(const SendLog&) = delete;

    // Closes an open file, then opens `path`: appending when createMode is
    // non-zero, else created anew (an existing file is emptied). The file is
    // locked (flock) while open: a log another run is writing is refused, with
    // a message that says so, and left as it is.
    Status open(const std::filesystem::path& path, int createMode);
    void close();
    bool isOpen() const { return m_file != nullptr; }

    // The current local time "%04d-%02d-%02d %02d:%02d:%02d", kept until the next call.
    const std::string& timestamp();

    // Writes text as it stands (each "\n" as CR LF).
    bool write(std::string_view sjis);

    // --- send log, in the order a run writes them ---
    // Run header (time stamp, recipient source, contents file, sender and
    // subject), then the version line from the compiled-in version.
    bool runHeader(std::string_view recipientSource, std::string_view contentsPath,
                   std::string_view fromName, std::string_view fromEMail, std::string_view subject);
    bool versionLine();
    bool smtpServer(std::string_view smtpName, int portNo);
    bool popBeforeSmtp(std::string_view pop3Name, std::string_view userId);  // two lines
    bool smtpAuth(std::string_view userId);                                  // two lines
    bool connected(std::string_view serverReply);                            // 5310
    bool sendStart();                                                        // 5314
    bool messageSent(int position, std::string_view address);                // 5311
    // 5312, then the reply line 5313 when the SMTP reply code is non-zero.
    bool messageFailed(int position, std::string_view address, const EngineErrorValues& e,
                       std::string_view serverReply);
    bool connectFailed(const EngineErrorValues& e);  // 5309
    bool emptyLine();                                // after 5309 at the first connection
    bool sendEnd();                                  // 5315
    bool result(int ok, int ng);                     // 5324 and an empty line
    // A reason in the form of the reply line 5313 ("\t\"%s\"\n"): why a
    // recipient was refused before the server saw it, why a connection failed.
    bool note(std::string_view reason);

    // --- check log ---
    bool checkHeader(std::string_view source);                   // 5330
    bool levelStart(int level);                                  // 5318
    bool addressPassed(int position, std::string_view address);  // 5316
    bool addressFailed(int position, int code, std::string_view message,
                       std::string_view address);  // 5317
    bool levelEnd(int level, int ok, int ng, CheckLogStyle style = CheckLogStyle::GroupSend);

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_file;
    Clock m_clock;
    std::string m_timestamp;
};

// A value as it is written outside quotes: control bytes escaped.
std::string logText(std::string_view sjis);
// A value as it is written inside a quoted field: control bytes escaped and
// double quotes doubled.
std::string logQuoted(std::string_view sjis);

// " 2. 1. 0. 0": the version line's form, the four parts most significant first.
std::string logVersionText();

}  // namespace tarn
