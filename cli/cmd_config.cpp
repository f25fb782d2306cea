// `tarn config`: read and change single settings in the registry file, so that
// a machine without a desktop can be set up without the options dialog.
#include <charconv>
#include <string>
#include <vector>

#include "command.h"
#include "sendcore/registry.h"
#include "sendcore/settings.h"

namespace tarn::cli {
namespace {

struct ValuePath {
    std::string relativeKey;  // below the settings root, "" for the root itself
    std::string fullKey;
    std::string name;
};

// The user's registry file; damaged lines it skips are shown as warnings.
RegistryFile loadRegistry() {
    RegistryFile reg = RegistryFile::load(RegistryFile::defaultPath());
    for (const auto& w : reg.warnings()) {
        err("警告: " + w + "\n");
    }
    return reg;
}

// "Option\DefAccount\DefSMTPName" (or with '/'): key below the root, then the value name.
std::optional<ValuePath> parsePath(std::string text) {
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
    while (!text.empty() && text.front() == '\\') {
        text.erase(0, 1);
    }
    while (!text.empty() && text.back() == '\\') {
        text.pop_back();
    }
    if (text.empty() || text.find("\\\\") != std::string::npos) {
        return std::nullopt;
    }
    ValuePath p;
    std::size_t cut = text.rfind('\\');
    p.name = cut == std::string::npos ? text : text.substr(cut + 1);
    p.relativeKey = cut == std::string::npos ? std::string() : text.substr(0, cut);
    p.fullKey = std::string(kSettingsRoot);
    if (!p.relativeKey.empty()) {
        p.fullKey += "\\" + p.relativeKey;
    }
    return p;
}

// DWORDs are shown as the registry shows them: unsigned decimal.
std::string dwordText(std::uint32_t v) {
    return std::to_string(v);
}

// Decimal (negative allowed, stored as its 32-bit two's complement) or 0x hex.
std::optional<std::uint32_t> parseDword(std::string_view s) {
    long long v = 0;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    std::from_chars_result r{};
    if (s.starts_with("0x") || s.starts_with("0X")) {
        if (s.size() == 2 || s[2] == '-') {
            return std::nullopt;
        }
        r = std::from_chars(first + 2, last, v, 16);
    } else {
        r = std::from_chars(first, last, v, 10);
    }
    if (r.ec != std::errc() || r.ptr != last || s.empty() || v < -2147483648LL ||
        v > 4294967295LL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(v);
}

const Command& getCommand();
const Command& setCommand();

int runGet(const std::vector<std::string>& args) {
    Args a(args, {}, {});
    if (!a.ok()) {
        return usageError(getCommand(), a.error());
    }
    if (a.positional().size() != 1) {
        return usageError(getCommand(), "キーを1つ指定してください");
    }
    auto path = parsePath(a.positional()[0]);
    if (!path) {
        return usageError(getCommand(), "キーが正しくありません: " + a.positional()[0]);
    }
    RegistryFile reg = loadRegistry();
    const RegValue* v = reg.find(path->fullKey, path->name);
    if (v == nullptr) {
        return fail(a.positional()[0] + ": 値が設定されていません");
    }
    out((v->type == RegType::Dword ? dwordText(v->dword) : fromSjis(v->text)) + "\n");
    return kSuccess;
}

int runSet(const std::vector<std::string>& args) {
    Args a(args, {}, {"dword"});
    if (!a.ok()) {
        return usageError(setCommand(), a.error());
    }
    if (a.positional().size() != 2) {
        return usageError(setCommand(), "キーと値を指定してください");
    }
    const std::string& keyText = a.positional()[0];
    const std::string& valueText = a.positional()[1];
    auto path = parsePath(keyText);
    if (!path) {
        return usageError(setCommand(), "キーが正しくありません: " + keyText);
    }
    bool asDword = a.has("dword");
    auto known = describeSettingsValue(path->relativeKey, path->name);
    if (known && (known->type == RegType::Dword) != asDword) {
        return fail(keyText + " は " + (known->type == RegType::Dword ? "DWORD" : "文字列") +
                    " の値です" +
                    (asDword ? "（--dword を外してください）" : "（--dword を付けてください）"));
    }
    RegValue value;
    if (asDword) {
        auto n = parseDword(valueText);
        if (!n) {
            return fail(
                keyText +
                ": DWORD の値は -2147483648 から 4294967295 の整数か 0x で始まる16進数です: " +
                valueText);
        }
        if (known && *n > known->maxDword) {
            return fail(keyText + " は 0 から " + std::to_string(known->maxDword) +
                        " までの値です（指定された値: " + valueText + "）");
        }
        value = RegValue{RegType::Dword, {}, *n};
    } else {
        auto sjis = toSjis(valueText, keyText);
        if (!sjis) {
            return kFailure;
        }
        if (known && known->maxBytes > 0 && sjis->size() > known->maxBytes) {
            return fail(keyText + " は " + std::to_string(known->maxBytes) +
                        " バイト（シフトJIS）までです。指定された値は " +
                        std::to_string(sjis->size()) + " バイトです");
        }
        value = RegValue{RegType::Sz, std::move(*sjis), 0};
    }
    bool badKey = false;
    auto saved =
        RegistryFile::update(RegistryFile::defaultPath(), [&](RegistryFile& reg) -> Status {
            for (const auto& w : reg.warnings()) {
                err("警告: " + w + "\n");
            }
            if (!reg.set(path->fullKey, path->name, std::move(value))) {
                badKey = true;
                return makeError("キーが正しくありません: " + keyText);
            }
            return Ok{};
        });
    if (badKey) {
        return usageError(setCommand(), "キーが正しくありません: " + keyText);
    }
    if (!saved) {
        return fail(saved.error().message);
    }
    return kSuccess;
}

int runShow(const std::vector<std::string>& args) {
    if (!args.empty()) {
        return fail("config show は引数を取りません");
    }
    RegistryFile reg = loadRegistry();
    std::string text;
    for (const auto& e : reg.entries(kSettingsRoot)) {
        std::string key = e.key.substr(std::min(e.key.size(), kSettingsRoot.size() + 1));
        text += key.empty() ? e.name : key + "\\" + e.name;
        text += " = ";
        if (e.value.type == RegType::Dword) {
            text += dwordText(e.value.dword);
        } else if (isPasswordValueName(e.name) && !e.value.text.empty()) {
            text += "********";
        } else {
            text += jsonString(fromSjis(e.value.text));
        }
        text += '\n';
    }
    out(text);
    return kSuccess;
}

const Command kGet{
    "config get",
    "config get KEY\n  KEY: ZEPHV2 より下のパス（例 Option\\DefAccount\\DefSMTPName）",
    "設定（レジストリファイル）の値を1つ表示します", runGet};
const Command kSet{"config set",
                   "config set KEY VALUE [--dword]\n  --dword: 数値（DWORD）として書き込みます",
                   "設定（レジストリファイル）の値を1つ書き込みます", runSet};
const Command kShow{"config show", "config show", "設定をすべて表示します（パスワードは伏せます）",
                    runShow};

const Command& getCommand() {
    return kGet;
}
const Command& setCommand() {
    return kSet;
}

const Registration kRegisterGet(kGet);
const Registration kRegisterSet(kSet);
const Registration kRegisterShow(kShow);

}  // namespace
}  // namespace tarn::cli
