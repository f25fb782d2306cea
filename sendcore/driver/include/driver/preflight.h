// The pre-flight of a send: every eligible recipient run through the very
// personalisation the send uses (script, merge), without sending anything,
// to find what would reach a recipient other than as written:
//   - characters that standard ISO-2022-JP readers may not show (when the
//     mail goes out in ISO-2022-JP), and those that no reader shows (sent as 〓);
//   - merge fields that came out empty;
//   - body lines the SMTP line limit breaks;
//   - recipients the script skips, or where it fails (the send stops there);
//   - duplicate addresses and missing attachments.
// The send confirmation shows its summary; `tarn send --preflight` the list.
#pragma once

#include <string>
#include <vector>

#include "contents/script.h"
#include "contents/send_contents.h"
#include "driver/send_driver.h"
#include "sendcore/settings.h"

namespace tarn::driver {

// What one recipient's message would carry. All texts Shift_JIS.
struct PreflightRecipient {
    int position = 0;  // in the walk, as the send log numbers it
    std::string address;
    // Distinct characters in order of appearance: those only readers that
    // know the Microsoft extensions show (listed when the message goes out
    // in ISO-2022-JP), and those without any code.
    std::string extensionChars;
    std::string noCodeChars;
    std::vector<std::size_t> emptyFields;  // indexes into MergeTagTable
    int brokenLines = 0;                   // body lines longer than the SMTP limit
    int duplicateOf = 0;                   // position of an earlier recipient with this address
    bool utf8 = false;                     // the automatic setting sends this one in UTF-8
    bool skipped = false;                  // the script wrote nothing: no message
    bool scriptFailed = false;             // the send would stop here with a script error

    bool anything() const;
};

struct PreflightReport {
    MailCharsetMode charset = kMailCharsetIso2022Jp;
    int checked = 0;  // eligible recipients run through
    // Recipients with something to report, in walk order.
    std::vector<PreflightRecipient> recipients;
    std::vector<std::string> missingAttachments;
    bool scriptDoesNotCompile = false;
    // Over all recipients: distinct characters, and how many recipients each
    // kind of finding touches.
    std::string extensionChars;
    std::string noCodeChars;
    int extensionCount = 0;  // recipients whose ISO-2022-JP mail holds extension characters
    int utf8Count = 0;       // recipients the automatic setting sends in UTF-8
    int noCodeCount = 0;
    int emptyFieldCount = 0;
    int brokenLineCount = 0;
    int duplicateCount = 0;
    int skippedCount = 0;

    bool clean() const;
    // One line per kind of finding, e.g. "3 件の宛先に一部のメールソフトで表示
    // できない文字があります: ①㈱髙"; empty when there is nothing to report.
    std::vector<std::string> summaryLines() const;
    // One line per recipient with findings, then the attachments.
    std::vector<std::string> detailLines() const;
};

// Runs the pre-flight over the first `n` eligible recipients of `recipients`
// (their caller's-thread walk, visitEligible) with the default account of
// `settings`. Nothing is sent, shown or started:
// the script's questions take their default answers and Execute starts nothing.
PreflightReport runPreflight(const SendSettings& settings, const contents::SendContents& contents,
                             int n, RecipientSource& recipients);

}  // namespace tarn::driver
