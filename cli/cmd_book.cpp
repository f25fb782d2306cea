// tarn book show: prints an address book (.tn2) as UTF-8, for a person or as JSON.
#include <string>
#include <vector>

#include "addressbook/document.h"
#include "command.h"

namespace tarn::cli {
namespace {

using addressbook::CTarnSendDoc;
using addressbook::Field;
using addressbook::kFreeFieldCount;

std::string jsonText(std::string_view sjis) {
    return jsonString(fromSjis(sjis));
}

std::string toJson(const CTarnSendDoc& doc) {
    std::string o = "{\"version\":" + std::to_string(doc.version()) + ",\"folders\":[";
    for (std::size_t i = 0; i < doc.folders().size(); ++i) {
        const auto& f = doc.folders()[i];
        o += (i ? "," : "") + std::string("{\"name\":") + jsonText(f.name) +
             ",\"icon\":" + std::to_string(f.icon) + "}";
    }
    o += "],\"groups\":[";
    for (std::size_t i = 0; i < doc.groups().size(); ++i) {
        const auto& g = doc.groups()[i];
        o += (i ? "," : "") + std::string("{\"name\":") + jsonText(g.name) +
             ",\"icon\":" + std::to_string(g.icon) + ",\"members\":[";
        for (std::size_t m = 0; m < g.members.size(); ++m) {
            o += (m ? "," : "") + std::to_string(doc.positionOf(g.members[m]));
        }
        o += "]}";
    }
    o += "],\"records\":[";
    for (std::size_t i = 0; i < doc.recordCount(); ++i) {
        const auto& r = doc.record(i);
        o += (i ? "," : "") + std::string("{\"folder\":") + std::to_string(r.folder()) +
             ",\"company\":" + jsonText(r.company()) +
             ",\"department\":" + jsonText(r.department()) + ",\"title\":" + jsonText(r.title()) +
             ",\"name\":" + jsonText(r.name()) + ",\"email\":" + jsonText(r.email()) +
             ",\"honorific\":" + jsonText(r.honorific()) + ",\"free\":[";
        for (std::size_t f = 0; f < kFreeFieldCount; ++f) {
            o += (f ? "," : "") + jsonText(r.freeFieldText(f));
        }
        o += "],\"status\":" + std::to_string(r.status()) + "}";
    }
    o += "],\"honorifics\":[";
    for (std::size_t i = 0; i < doc.honorifics().size(); ++i) {
        o += (i ? "," : "") + jsonText(doc.honorifics()[i]);
    }
    o += "],\"titles\":[";
    for (std::size_t i = 0; i < kFreeFieldCount; ++i) {
        o += (i ? "," : "") + jsonText(doc.freeFieldTitles()[i]);
    }
    o += "]}\n";
    return o;
}

std::string toText(const CTarnSendDoc& doc) {
    std::string o = "版: " + std::to_string(doc.version()) + "\n";
    o += "フォルダ: " + std::to_string(doc.folders().size()) + "\n";
    for (std::size_t i = 0; i < doc.folders().size(); ++i) {
        const auto& f = doc.folders()[i];
        o += "  " + std::to_string(i + 1) + ". " + fromSjis(f.name) + " (アイコン " +
             std::to_string(f.icon) + ")\n";
    }
    o += "グループ: " + std::to_string(doc.groups().size()) + "\n";
    for (std::size_t i = 0; i < doc.groups().size(); ++i) {
        const auto& g = doc.groups()[i];
        o += "  " + std::to_string(i + 1) + ". " + fromSjis(g.name) + " (アイコン " +
             std::to_string(g.icon) + ") メンバー " + std::to_string(g.members.size()) + " 件:";
        for (const auto* r : g.members) {
            o += " " + std::to_string(doc.positionOf(r) + 1);
        }
        o += "\n";
    }
    o += "レコード: " + std::to_string(doc.recordCount()) + "\n";
    const char* labels[] = {"会社名", "部署名", "役職", "名前", "E-Mail", "敬称"};
    for (std::size_t i = 0; i < doc.recordCount(); ++i) {
        const auto& r = doc.record(i);
        const auto* folder = doc.folderByNumber(r.folder());
        const auto status = addressbook::statusText(r.status());
        o += "  No." + std::to_string(i + 1) +
             "  フォルダ: " + (folder ? fromSjis(folder->name) : std::string("なし")) +
             "  状態: " + (status.empty() ? std::to_string(r.status()) : fromSjis(status)) + "\n";
        for (std::size_t f = 0; f < 6; ++f) {
            const auto t = r.text(static_cast<Field>(f));
            if (!t.empty()) {
                o += "    " + std::string(labels[f]) + ": " + fromSjis(t) + "\n";
            }
        }
        for (std::size_t f = 0; f < kFreeFieldCount; ++f) {
            if (!r.freeFieldText(f).empty()) {
                o += "    " + fromSjis(doc.freeFieldTitles()[f]) + ": " +
                     fromSjis(r.freeFieldText(f)) + "\n";
            }
        }
    }
    o += "敬称:";
    for (const auto& h : doc.honorifics()) {
        o += " " + fromSjis(h);
    }
    o += "\n自由使用欄の見出し:";
    for (const auto& t : doc.freeFieldTitles()) {
        o += " " + fromSjis(t);
    }
    return o + "\n";
}

int runShow(const std::vector<std::string>& args);

const Command kShow{"book show", "book show BOOK.tn2 [--json]",
                    "アドレス帳 (.tn2) の内容を表示する", runShow};
const Registration kShowRegistration(kShow);

int runShow(const std::vector<std::string>& args) {
    Args a(args, {}, {"json"});
    if (!a.ok()) {
        return usageError(kShow, a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(kShow, "アドレス帳ファイルを一つ指定してください");
    }
    CTarnSendDoc doc;
    // Files older than version 20 take the default titles until the settings
    // store provides the user's own.
    if (auto st = doc.OnOpenDocument(a.positional()[0], addressbook::defaultFreeFieldTitles());
        !st) {
        return fail(st.error().message);
    }
    out(a.has("json") ? toJson(doc) : toText(doc));
    return kSuccess;
}

}  // namespace
}  // namespace tarn::cli
