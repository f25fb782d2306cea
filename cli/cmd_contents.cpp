// tarn contents show / new: the .tnm send-contents file.
#include <string>
#include <vector>

#include "command.h"
#include "common/files.h"
#include "contents/send_contents.h"

namespace tarn::cli {
namespace {

using contents::SendContents;

// CR LF is how the file stores line ends; the terminal wants LF.
std::string forTerminal(std::string_view sjis) {
    std::string utf8 = fromSjis(sjis);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') {
            continue;
        }
        out.push_back(utf8[i]);
    }
    return out;
}

std::string loadFailure(const std::string& path, int code) {
    return path + ": 送信内容の読み込みに失敗しました。(" + std::to_string(code) + ": " +
           contents::describeSendContentsResult(code) + ")";
}

int runShow(const std::vector<std::string>& args);
int runNew(const std::vector<std::string>& args);

const Command kShow{"contents show", "contents show FILE.tnm [--json]",
                    "送信内容ファイル (.tnm) の件名・添付・本文・Cc・Bcc を表示します", runShow};
const Command kNew{"contents new",
                   "contents new FILE.tnm --subject TEXT --body-file FILE [--attach PATH]... "
                   "[--cc TEXT] [--bcc TEXT]\n"
                   "  入力は UTF-8。本文の改行は CR LF に揃えて保存します。\n"
                   "  シフトJIS で表せない文字があれば、その文字を示して中止します。",
                   "送信内容ファイル (.tnm) を作成します", runNew};
const Registration kShowRegistration(kShow);
const Registration kNewRegistration(kNew);

int runShow(const std::vector<std::string>& args) {
    Args a(args, {}, {"json"});
    if (!a.ok()) {
        return usageError(kShow, a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(kShow, "ファイルを一つ指定してください");
    }
    const std::string& path = a.positional()[0];
    SendContents record;
    contents::SendContentsLayout layout = contents::SendContentsLayout::Current;
    if (const int code = contents::LoadSendContents(path, record, &layout); code != 0) {
        return fail(loadFailure(path, code));
    }
    const auto attachments = contents::splitAttachments(record.attachments);
    const char* layoutName =
        layout == contents::SendContentsLayout::Current ? "current" : "earlier";
    if (a.has("json")) {
        std::string json =
            "{\"subject\":" + jsonString(fromSjis(record.subject)) + ",\"attachments\":[";
        for (std::size_t i = 0; i < attachments.size(); ++i) {
            json += (i == 0 ? "" : ",") + jsonString(fromSjis(attachments[i]));
        }
        json += "],\"body\":" + jsonString(fromSjis(record.body)) +
                ",\"cc\":" + jsonString(fromSjis(record.cc)) +
                ",\"bcc\":" + jsonString(fromSjis(record.bcc)) + ",\"layout\":\"" + layoutName +
                "\"}\n";
        out(json);
        return kSuccess;
    }
    std::string text = "件名: " + forTerminal(record.subject) + "\n";
    text += "添付: " + std::to_string(attachments.size()) + " 件\n";
    for (const auto& p : attachments) {
        text += "  " + forTerminal(p) + "\n";
    }
    text += "Cc: " + forTerminal(record.cc) + "\nBcc: " + forTerminal(record.bcc) + "\n";
    text += std::string("形式: ") + layoutName + "\n本文:\n" + forTerminal(record.body);
    if (!record.body.empty() && record.body.back() != '\n') {
        text += "\n";
    }
    out(text);
    return kSuccess;
}

int runNew(const std::vector<std::string>& args) {
    Args a(args, {"subject", "body-file", "attach", "cc", "bcc"}, {});
    if (!a.ok()) {
        return usageError(kNew, a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(kNew, "作成するファイルを一つ指定してください");
    }
    if (!a.value("subject") || !a.value("body-file")) {
        return usageError(kNew, "--subject と --body-file は必須です");
    }
    const std::string subjectUtf8 = *a.value("subject");
    if (subjectUtf8.find_first_of("\r\n") != std::string::npos) {
        return usageError(kNew, "件名は一行で指定してください");
    }
    auto bodyFile = readWholeFile(*a.value("body-file"), std::size_t{64} << 20);
    if (!bodyFile) {
        return fail(bodyFile.error().message);
    }
    std::string_view bodyUtf8 = *bodyFile;
    if (bodyUtf8.substr(0, 3) == "\xEF\xBB\xBF") {
        bodyUtf8.remove_prefix(3);  // a byte-order mark is not part of the text
    }
    SendContents record;
    auto subject = toSjis(subjectUtf8, "--subject");
    auto body = toSjis(bodyUtf8, "--body-file");
    auto cc = toSjis(a.value("cc").value_or(""), "--cc");
    auto bcc = toSjis(a.value("bcc").value_or(""), "--bcc");
    if (!subject || !body || !cc || !bcc) {
        return kFailure;
    }
    std::vector<std::string> paths;
    for (const auto& p : a.values("attach")) {
        if (p.empty() || p.find('\t') != std::string::npos) {
            return usageError(kNew, "添付ファイルのパスが空か、タブを含んでいます: " + p);
        }
        auto sjis = toSjis(p, "--attach");
        if (!sjis) {
            return kFailure;
        }
        if (!std::filesystem::exists(p)) {
            err("tarn: 注意: 添付ファイルが見つかりません (送信時に失敗します): " + p + "\n");
        }
        paths.push_back(std::move(*sjis));
    }
    record.subject = std::move(*subject);
    record.body = contents::normaliseBodyLineEnds(*body);
    record.cc = std::move(*cc);
    record.bcc = std::move(*bcc);
    record.attachments = contents::joinAttachments(paths);
    const std::string& path = a.positional()[0];
    if (const int code = contents::SaveSendContents(path, record); code != 0) {
        return fail(path + ": 送信内容の保存に失敗しました。(" + std::to_string(code) + ": " +
                    contents::describeSendContentsResult(code) + ")");
    }
    return kSuccess;
}

}  // namespace
}  // namespace tarn::cli
