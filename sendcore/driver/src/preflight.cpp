#include "driver/preflight.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <unordered_map>

#include "common/cp932.h"
#include "common/iso2022jp.h"
#include "common/sjis.h"
#include "driver/personalise.h"
#include "texts.h"
#include "verify/address.h"

namespace tarn::driver {
namespace {

using iso2022jp::CharKind;

// The script's calls during a pre-flight: nothing is asked (the default
// answers), and Execute reports success without starting anything, so that
// a script that starts a program is not taken for a failing one.
class QuietHost : public contents::ScriptHost {
public:
    bool Execute(std::string_view, std::string_view) override { return true; }
};

// Distinct characters of the kinds that matter, in order of appearance.
struct CharList {
    std::vector<std::uint16_t> codes;
    std::string text;  // Shift_JIS

    void add(std::string_view sjis, std::size_t pos, std::size_t length) {
        const auto code =
            static_cast<std::uint16_t>(length == 2 ? (static_cast<unsigned char>(sjis[pos]) << 8) |
                                                         static_cast<unsigned char>(sjis[pos + 1])
                                                   : static_cast<unsigned char>(sjis[pos]));
        if (std::find(codes.begin(), codes.end(), code) == codes.end()) {
            codes.push_back(code);
            text.append(sjis.substr(pos, length));
        }
    }
    void add(const CharList& other) {
        for (std::size_t i = 0, pos = 0; i < other.codes.size(); ++i) {
            const std::size_t length = other.codes[i] > 0xFF ? 2 : 1;
            add(other.text, pos, length);
            pos += length;
        }
    }
    void clear() {
        codes.clear();
        text.clear();
    }
};

struct Found {
    CharList extension;
    CharList noCode;
    void clear() {
        extension.clear();
        noCode.clear();
    }
};

void scan(std::string_view sjis, Found& found) {
    for (std::size_t i = 0; i < sjis.size();) {
        if (static_cast<unsigned char>(sjis[i]) < 0x80) {
            ++i;  // ASCII, the common case
            continue;
        }
        const iso2022jp::CharInfo info = iso2022jp::charAt(sjis, i);
        if (info.kind == CharKind::kExtension) {
            found.extension.add(sjis, i, info.length);
        } else if (info.kind == CharKind::kNoCode) {
            found.noCode.add(sjis, i, info.length);
        }
        i += info.length;
    }
}

// Body lines whose ISO-2022-JP form is longer than the SMTP line limit.
int brokenLines(std::string_view body) {
    constexpr std::size_t kLimit = 998;
    int count = 0;
    while (!body.empty()) {
        const std::size_t lf = body.find('\n');
        std::string_view line = body.substr(0, lf);
        body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        // A line of n bytes takes at most 3n + 1 on the wire (ASCII and
        // kanji taking turns); most lines are ruled out without a walk.
        if (line.size() * 3 + 1 > kLimit && iso2022jp::wireLength(line) > kLimit) {
            ++count;
        }
    }
    return count;
}

// The merge tags that occur in a text, as a bit per MergeTagTable index.
unsigned usedTags(std::string_view text) {
    unsigned used = 0;
    for (std::size_t pos = text.find("&["); pos != std::string_view::npos;
         pos = text.find("&[", pos + 2)) {
        for (std::size_t i = 0; i < contents::kMergeFieldCount; ++i) {
            if (text.substr(pos).starts_with(contents::MergeTagTable[i])) {
                used |= 1u << i;
            }
        }
    }
    return used;
}

// The address an entry names, as the address check extracts it, letters
// folded as servers treat them.
std::string addressKey(std::string_view address) {
    return sjis::asciiLower(verify::ExtractAddress(address));
}

bool attachmentExists(const std::string& sjisPath) {
    std::error_code ec;
    if (auto utf8 = cp932::toUtf8(sjisPath);
        utf8.ok() && *utf8 != sjisPath && std::filesystem::is_regular_file(*utf8, ec)) {
        return true;
    }
    return std::filesystem::is_regular_file(sjisPath, ec);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = sjis::rfind(path, '/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "①(→(1)) 髙(→高)": each character with what every reader shows instead.
std::string withReplacementHints(std::string_view chars) {
    std::string out;
    for (std::size_t i = 0; i < chars.size();) {
        const iso2022jp::CharInfo info = iso2022jp::charAt(chars, i);
        if (!out.empty()) {
            out += ' ';
        }
        out.append(chars.substr(i, info.length));
        if (!info.replacement.empty()) {
            out += sjisText("(→") + std::string(info.replacement) + ")";
        }
        i += info.length;
    }
    return out;
}

// At most this many characters in a summary line, then "…".
std::string shortList(std::string_view chars) {
    constexpr int kShown = 20;
    std::size_t i = 0;
    for (int n = 0; i < chars.size() && n < kShown; ++n) {
        i += sjis::charLength(chars, i);
    }
    return std::string(chars.substr(0, i)) + (i < chars.size() ? sjisText("…") : "");
}

}  // namespace

bool PreflightRecipient::anything() const {
    return !extensionChars.empty() || !noCodeChars.empty() || !emptyFields.empty() ||
           brokenLines != 0 || duplicateOf != 0 || utf8 || skipped || scriptFailed;
}

bool PreflightReport::clean() const {
    return recipients.empty() && missingAttachments.empty() && !scriptDoesNotCompile;
}

PreflightReport runPreflight(const SendSettings& settings, const contents::SendContents& contents,
                             int n, RecipientSource& recipients) {
    PreflightReport report;
    report.charset = mailCharset(settings);

    // What every message shares: the sender, the copy and the file names.
    const AccountSettings& account = settings.defaultAccount;
    Found shared;
    scan(fieldText(account.FromName), shared);
    scan(contents.cc, shared);
    for (const auto& path : contents::splitAttachments(contents.attachments)) {
        std::string trimmed = path;
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) {
            trimmed.pop_back();
        }
        if (trimmed.empty()) {
            continue;
        }
        scan(baseName(trimmed), shared);
        if (!attachmentExists(trimmed)) {
            report.missingAttachments.push_back(trimmed);
        }
    }

    QuietHost host;
    std::optional<contents::ScriptEngine> script;
    if (settings.ScriptUse == 1) {
        script.emplace(host);
        if (script->LoadScript(contents.body) == 0) {
            report.scriptDoesNotCompile = true;
            return report;
        }
    }
    const unsigned templateTags = usedTags(contents.subject) | usedTags(contents.body);
    Found fixedText;
    scan(contents.subject, fixedText);
    scan(contents.body, fixedText);

    PersonalMessage message;
    Found found;
    CharList allExtension;
    CharList allNoCode;
    std::unordered_map<std::string, int> firstPosition;
    // Sized for the run at once: growing it step by step rehashes every
    // address so far, several times over for a large book.
    constexpr int kReservedAddresses = 1 << 20;
    firstPosition.reserve(static_cast<std::size_t>(std::clamp(n, 0, kReservedAddresses)));
    recipients.visitEligible([&](const Recipient& r) {
        if (report.checked >= n) {
            return false;
        }
        ++report.checked;
        PreflightRecipient finding;
        finding.position = r.position;
        if (auto [it, added] = firstPosition.try_emplace(addressKey(r.address), r.position);
            !added) {
            finding.duplicateOf = it->second;
            ++report.duplicateCount;
        }

        const Personalised result =
            personalise(contents, script ? &*script : nullptr, r.values, message);
        if (result != Personalised::kMessage) {
            finding.skipped = result == Personalised::kSkipped;
            finding.scriptFailed = result == Personalised::kScriptFailed;
            report.skippedCount += finding.skipped ? 1 : 0;
            finding.address = r.address;
            report.recipients.push_back(std::move(finding));
            // The send stops at a script failure.
            return result != Personalised::kScriptFailed;
        }

        found.clear();
        scan(r.address, found);
        // Without a script the message is the fixed template with the values
        // put in, so its characters are the template's (scanned once) and
        // those of the values it uses; a value cut inside a character could
        // join with the text after it, so then the whole message is scanned.
        const bool byValues =
            !script && std::none_of(r.values.begin(), r.values.end(), [](const std::string& v) {
                return sjis::endsWithLoneLeadByte(v);
            });
        if (byValues) {
            for (std::size_t i = 0; i < contents::kMergeFieldCount; ++i) {
                if ((templateTags & (1u << i)) != 0) {
                    scan(r.values[i], found);
                }
            }
            found.extension.add(fixedText.extension);
            found.noCode.add(fixedText.noCode);
        } else {
            scan(message.subject(), found);
            scan(message.body(), found);
        }
        found.extension.add(shared.extension);
        found.noCode.add(shared.noCode);
        const bool utf8 =
            report.charset == kMailCharsetUtf8 ||
            (report.charset == kMailCharsetAutomatic && !found.extension.codes.empty());
        if (utf8) {
            finding.utf8 = report.charset == kMailCharsetAutomatic;
            report.utf8Count += finding.utf8 ? 1 : 0;
        } else {
            finding.brokenLines = brokenLines(message.body());
            report.brokenLineCount += finding.brokenLines != 0 ? 1 : 0;
        }
        // Under UTF-8 every reader shows them; the automatic setting says so.
        if (!found.extension.codes.empty() && (!utf8 || finding.utf8)) {
            finding.extensionChars = found.extension.text;
            allExtension.add(found.extension);
            report.extensionCount += utf8 ? 0 : 1;
        }
        if (!found.noCode.codes.empty()) {
            finding.noCodeChars = found.noCode.text;
            allNoCode.add(found.noCode);
            ++report.noCodeCount;
        }

        const unsigned used =
            script ? usedTags(contents.subject) | usedTags(message.scriptOutput()) : templateTags;
        for (std::size_t i = 0; i < contents::kMergeFieldCount; ++i) {
            if ((used & (1u << i)) != 0 && r.values[i].empty()) {
                finding.emptyFields.push_back(i);
            }
        }
        report.emptyFieldCount += finding.emptyFields.empty() ? 0 : 1;

        if (finding.anything()) {
            finding.address = r.address;
            report.recipients.push_back(std::move(finding));
        }
        return true;
    });
    report.extensionChars = allExtension.text;
    report.noCodeChars = allNoCode.text;
    return report;
}

std::vector<std::string> PreflightReport::summaryLines() const {
    std::vector<std::string> lines;
    auto count = [](int c) { return std::to_string(c) + sjisText(" 件の宛先"); };
    if (scriptDoesNotCompile) {
        lines.push_back(sjisText("スクリプトにエラーがあります。"));
    }
    if (extensionCount != 0) {
        lines.push_back(count(extensionCount) +
                        sjisText("に一部のメールソフトで表示できない文字があります: ") +
                        shortList(extensionChars));
    }
    if (utf8Count != 0) {
        lines.push_back(
            count(utf8Count) +
            sjisText("へは、一部のメールソフトで表示できない文字を含むため UTF-8 で送信します: ") +
            shortList(extensionChars));
    }
    if (noCodeCount != 0) {
        lines.push_back(
            count(noCodeCount) +
            sjisText("にどのメールソフトでも表示できない文字があり、〓 として送信します: ") +
            shortList(noCodeChars));
    }
    if (emptyFieldCount != 0) {
        lines.push_back(count(emptyFieldCount) + sjisText("で差し込み項目が空になります。"));
    }
    if (brokenLineCount != 0) {
        lines.push_back(count(brokenLineCount) +
                        sjisText("で 998 バイトを超える行を折り返して送信します。"));
    }
    if (duplicateCount != 0) {
        lines.push_back(count(duplicateCount) + sjisText("が前の宛先と重複しています。"));
    }
    if (skippedCount != 0) {
        lines.push_back(count(skippedCount) +
                        sjisText("はスクリプトの出力が空のため送信しません。"));
    }
    if (!recipients.empty() && recipients.back().scriptFailed) {
        lines.push_back(std::to_string(recipients.back().position) +
                        sjisText(" 件目の宛先でスクリプトエラーになり、送信はそこで止まります。"));
    }
    for (const auto& path : missingAttachments) {
        lines.push_back(sjisText("添付ファイルが見つかりません: ") + path);
    }
    return lines;
}

std::vector<std::string> PreflightReport::detailLines() const {
    std::vector<std::string> lines;
    for (const auto& f : recipients) {
        std::vector<std::string> parts;
        if (f.scriptFailed) {
            parts.push_back(sjisText("スクリプトエラー"));
        }
        if (f.skipped) {
            parts.push_back(sjisText("スクリプトの出力が空 (送信しません)"));
        }
        if (f.utf8) {
            parts.push_back(sjisText("UTF-8 で送信: ") + f.extensionChars);
        } else if (!f.extensionChars.empty()) {
            parts.push_back(sjisText("表示できない文字: ") +
                            withReplacementHints(f.extensionChars));
        }
        if (!f.noCodeChars.empty()) {
            parts.push_back(sjisText("〓 になる文字: ") + f.noCodeChars);
        }
        if (!f.emptyFields.empty()) {
            std::string tags = sjisText("空の差し込み項目:");
            for (std::size_t i : f.emptyFields) {
                tags += " " + std::string(contents::MergeTagTable[i]);
            }
            parts.push_back(tags);
        }
        if (f.brokenLines != 0) {
            parts.push_back(sjisText("折り返す行: ") + std::to_string(f.brokenLines));
        }
        if (f.duplicateOf != 0) {
            parts.push_back(std::to_string(f.duplicateOf) + sjisText(" 件目と同じ宛先"));
        }
        std::string line = std::to_string(f.position) + sjisText(" 件目 ") + f.address + ": ";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            line += (i == 0 ? "" : " / ") + parts[i];
        }
        lines.push_back(std::move(line));
    }
    for (const auto& path : missingAttachments) {
        lines.push_back(sjisText("添付ファイルが見つかりません: ") + path);
    }
    return lines;
}

}  // namespace tarn::driver
