// `tarn config`: read and change single settings in the registry file, so that
// a machine without a desktop can be set up without the options dialog.
#include <charconv>
#include <string>
#include <vector>

#include "command.h"
#include "driver/send_quota.h"
#include "secret_input.h"
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
    Args a(args, {}, {"reveal"});
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
    if (v->type == RegType::Sz && isPasswordValueName(path->name) && !a.has("reveal") &&
        !v->text.empty()) {
        out("********\n");
        return kSuccess;
    }
    out((v->type == RegType::Dword ? dwordText(v->dword) : fromSjis(v->text)) + "\n");
    return kSuccess;
}

int runSet(const std::vector<std::string>& args) {
    Args a(args, {}, {"dword"});
    if (!a.ok()) {
        return usageError(setCommand(), a.error());
    }
    if (a.positional().empty() || a.positional().size() > 2) {
        return usageError(setCommand(), "キーと値を指定してください");
    }
    const std::string& keyText = a.positional()[0];
    auto path = parsePath(keyText);
    if (!path) {
        return usageError(setCommand(), "キーが正しくありません: " + keyText);
    }
    bool asDword = a.has("dword");
    // A password never comes from the command line, where /proc/PID/cmdline
    // and the shell's history show it: it is typed at a prompt or piped in.
    const bool secret = !asDword && isPasswordValueName(path->name);
    if (secret && a.positional().size() == 2) {
        return usageError(setCommand(),
                          keyText +
                              " はパスワードです。コマンドラインには書かず、値を省いてください"
                              "（端末では入力を求め、それ以外では標準入力の 1 行目を使います）");
    }
    if (!secret && a.positional().size() != 2) {
        return usageError(setCommand(), "キーと値を指定してください");
    }
    std::string valueText;
    if (secret) {
        auto typed = readSecret(keyText + " の値");
        if (!typed) {
            return fail(typed.error().message);
        }
        valueText = std::move(*typed);
    } else {
        valueText = a.positional()[1];
    }
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

// The default account's sending quota: shown, set from a preset, or set to
// the numbers given.
int runQuota(const std::vector<std::string>& argv);

const Command kQuota{"config quota",
                     "config quota [PRESET | --hour N --day N]\n"
                     "  引数なし: 現在の上限と用意された設定を表示します\n"
                     "  PRESET:   用意された設定の名前（一覧は引数なしで表示）\n"
                     "  --hour N / --day N: 1時間 / 1日の上限（0 は上限なし）",
                     "標準アカウントの送信数の上限（1時間・1日）を表示・設定します", runQuota};

std::optional<std::uint32_t> limitValue(const std::optional<std::string>& text) {
    std::uint32_t v = 0;
    if (!text) {
        return 0;
    }
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
    if (ec != std::errc{} || end != text->data() + text->size() || v > 1000000) {
        return std::nullopt;
    }
    return v;
}

int runQuota(const std::vector<std::string>& argv) {
    Args args(argv, {"hour", "day"}, {});
    if (!args.ok() || args.positional().size() > 1 ||
        (!args.positional().empty() && (args.has("hour") || args.has("day")))) {
        return usageError(kQuota,
                          args.ok() ? "プリセット名か --hour/--day のどちらかです" : args.error());
    }
    const std::string key = std::string(kSettingsRoot) + "\\Option";
    if (args.positional().empty() && !args.has("hour") && !args.has("day")) {
        const RegistryFile reg = loadRegistry();
        std::string text = "1時間: " + std::to_string(reg.getDword(key, "QuotaPerHour")) +
                           " 通、1日: " + std::to_string(reg.getDword(key, "QuotaPerDay")) +
                           " 通 (0 は上限なし)\n用意された設定:\n";
        for (const auto& p : driver::quotaPresets()) {
            text += std::string("  ") + p.name + "  " + fromSjis(p.description) + "\n";
        }
        out(text);
        return kSuccess;
    }
    driver::QuotaLimits limits;
    if (!args.positional().empty()) {
        const driver::QuotaPreset* preset = driver::findQuotaPreset(args.positional()[0]);
        if (preset == nullptr) {
            return usageError(kQuota, "用意された設定にありません: " + args.positional()[0]);
        }
        limits = preset->limits;
    } else {
        const auto hour = limitValue(args.value("hour"));
        const auto day = limitValue(args.value("day"));
        if (!hour || !day) {
            return usageError(kQuota, "上限は 0 から 1000000 の数です");
        }
        limits = {static_cast<int>(*hour), static_cast<int>(*day)};
    }
    // Under the registry's lock, so a send or a check saving its own values at
    // the same moment keeps its change and so does this one.
    auto saved =
        RegistryFile::update(RegistryFile::defaultPath(), [&](RegistryFile& reg) -> Status {
            for (const auto& w : reg.warnings()) {
                err("警告: " + w + "\n");
            }
            reg.setDword(key, "QuotaPerHour", static_cast<std::uint32_t>(limits.perHour));
            reg.setDword(key, "QuotaPerDay", static_cast<std::uint32_t>(limits.perDay));
            return Ok{};
        });
    if (!saved) {
        return fail(saved.error().message);
    }
    return kSuccess;
}

const Command kGet{"config get",
                   "config get KEY [--reveal]\n"
                   "  KEY: ZEPHV2 より下のパス（例 Option\\DefAccount\\DefSMTPName）\n"
                   "  --reveal: パスワードを伏せずに表示します",
                   "設定（レジストリファイル）の値を1つ表示します", runGet};
const Command kSet{"config set",
                   "config set KEY VALUE [--dword]\n"
                   "config set KEY            （パスワード: 端末では入力を求め、それ以外では\n"
                   "                           標準入力の 1 行目を使います）\n"
                   "  --dword: 数値（DWORD）として書き込みます",
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
const Registration kRegisterQuota(kQuota);

}  // namespace
}  // namespace tarn::cli
