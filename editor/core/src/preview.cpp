#include "editor/preview.h"

#include "editor/texts.h"

namespace tarn::editor {

const contents::MergeValues& previewSampleValues() {
    static const contents::MergeValues values = [] {
        constexpr std::string_view kUtf8[contents::kMergeFieldCount] = {
            "○○○○○○○株式会社",
            "□□課",
            "△△マネージャー",
            "○△□太郎",
            "様",
            "--フリーフィールド１--",
            "--フリーフィールド２--",
            "--フリーフィールド３--",
            "--フリーフィールド４--",
            "--フリーフィールド５--",
            "--フリーフィールド６--",
            "--フリーフィールド７--",
            "--フリーフィールド８--",
            "--フリーフィールド９--",
            "--フリーフィールド１０--",
        };
        contents::MergeValues v;
        for (std::size_t k = 0; k < v.size(); ++k) {
            v[k] = sjisLiteral(kUtf8[k]);
        }
        return v;
    }();
    return values;
}

std::string previewText(std::string_view senderNameSjis, std::string_view senderAddressSjis,
                        const contents::SendContents& message, contents::ScriptHost& host) {
    contents::MergeRequest merge;
    merge.values = previewSampleValues();
    merge.subjectTemplate = message.subject;

    contents::ScriptEngine engine(host);
    std::string output;
    // A script that does not compile has been reported; half of it is no preview.
    if (engine.LoadScript(message.body) != 1 ||
        engine.RunScript(output, contents::makeMergeVariables(merge.values)) != 1) {
        output.clear();
    }
    merge.bodyTemplate = "Body :\n" + output;
    contents::ApplyMergeFields(merge);

    std::string text = "From : ";
    text.append(senderNameSjis).append(" <").append(senderAddressSjis).append(">\n");
    text += "Subject : " + merge.subject + "\n";
    if (!message.cc.empty()) {
        text += "CC : " + message.cc + "\n";
    }
    if (!message.bcc.empty()) {
        text += "BCC : " + message.bcc + "\n";
    }
    const auto attachments = contents::splitAttachments(message.attachments);
    if (!attachments.empty()) {
        text += "Attach :";
        for (const auto& path : attachments) {
            text += " " + path + ";\n        ";
        }
    }
    text += "\n\n";
    return text + merge.body;
}

}  // namespace tarn::editor
