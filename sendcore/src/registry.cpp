#include "sendcore/registry.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <system_error>
#include <utility>

#include "common/cp932.h"
#include "common/file_lock.h"
#include "common/files.h"
#include "common/sjis.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

// A registry update holds the lock for milliseconds; one that waits this long
// is stuck behind a process that stopped, and says so.
constexpr auto kLockWait = std::chrono::seconds(10);

// Far above any real settings file; a larger one is not read into memory.
constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;

constexpr char kHex[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Well-formed UTF-8 without control characters (names and key paths).
bool isPrintableUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
        } else {
            return false;
        }
        if (i + n > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

// A key name or string value as the registry file writes it: in double quotes,
// with backslash escapes and other control bytes as \xHH.
std::string registryQuoted(std::string_view utf8) {
    std::string o = "\"";
    for (char ch : utf8) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\':
                o += "\\\\";
                break;
            case '"':
                o += "\\\"";
                break;
            case '\n':
                o += "\\n";
                break;
            case '\r':
                o += "\\r";
                break;
            case '\t':
                o += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    o += "\\x";
                    o += kHex[c >> 4];
                    o += kHex[c & 15];
                } else {
                    o += ch;
                }
        }
    }
    o += '"';
    return o;
}

// Reads a quoted string at s[i] (which must be '"'); i ends after the closing quote.
bool readRegistryQuoted(std::string_view s, std::size_t& i, std::string& out, std::string& why) {
    out.clear();
    if (i >= s.size() || s[i] != '"') {
        why = "引用符で始まっていません";
        return false;
    }
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            why = "引用符の中に制御文字があります";
            return false;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) {
            break;
        }
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int hi = i + 2 < s.size() ? hexValue(s[i + 1]) : -1;
                int lo = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
                if (hi < 0 || lo < 0 || hi > 7) {
                    why = "\\x の後に 00-7F の16進数がありません";
                    return false;
                }
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                why = "不明なエスケープ \\" + std::string(1, s[i]);
                return false;
        }
    }
    why = "閉じる引用符がありません";
    return false;
}

std::string encodeValue(const RegValue& v) {
    if (v.type == RegType::Dword) {
        std::string o = "dword:";
        for (int shift = 28; shift >= 0; shift -= 4) {
            o += kHex[(v.dword >> shift) & 15];
        }
        return o;
    }
    // Keep the exact bytes: CP932 maps a few characters twice (NEC and IBM
    // extensions), and a password must come back byte for byte.
    auto utf8 = cp932::toUtf8(v.text);
    if (utf8) {
        auto back = cp932::fromUtf8(*utf8);
        if (back && *back == v.text) {
            return registryQuoted(*utf8);
        }
    }
    std::string o = "sjis:";
    for (unsigned char c : v.text) {
        o += kHex[c >> 4];
        o += kHex[c & 15];
    }
    return o;
}

bool decodeValue(std::string_view rhs, RegValue& v, std::string& why) {
    if (rhs.starts_with("dword:")) {
        std::string_view digits = rhs.substr(6);
        if (digits.empty() || digits.size() > 8) {
            why = "dword: の後に1-8桁の16進数が必要です";
            return false;
        }
        std::uint32_t n = 0;
        for (char c : digits) {
            int h = hexValue(c);
            if (h < 0) {
                why = "dword の値が16進数ではありません";
                return false;
            }
            n = n * 16 + static_cast<std::uint32_t>(h);
        }
        v = RegValue{RegType::Dword, {}, n};
        return true;
    }
    if (rhs.starts_with("sjis:")) {
        std::string_view digits = rhs.substr(5);
        if (digits.size() % 2 != 0) {
            why = "sjis: の16進数の桁数が奇数です";
            return false;
        }
        std::string bytes;
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            int hi = hexValue(digits[i]);
            int lo = hexValue(digits[i + 1]);
            if (hi < 0 || lo < 0) {
                why = "sjis: の値が16進数ではありません";
                return false;
            }
            bytes += static_cast<char>(hi * 16 + lo);
        }
        v = RegValue{RegType::Sz, std::move(bytes), 0};
        return true;
    }
    std::size_t i = 0;
    std::string utf8;
    if (!readRegistryQuoted(rhs, i, utf8, why)) {
        return false;
    }
    if (i != rhs.size()) {
        why = "文字列の後に余分な文字があります";
        return false;
    }
    auto sjis = cp932::fromUtf8(utf8);
    if (!sjis) {
        why = sjis.error().message;
        return false;
    }
    v = RegValue{RegType::Sz, std::move(*sjis), 0};
    return true;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    return s;
}

bool validKeyPath(std::string_view key) {
    if (key.empty() || !isPrintableUtf8(key)) {
        return false;
    }
    std::size_t start = 0;
    while (true) {
        std::size_t end = key.find('\\', start);
        if (end == start || start == key.size()) {
            return false;  // empty component
        }
        if (end == std::string_view::npos) {
            return true;
        }
        start = end + 1;
    }
}

bool sameName(std::string_view a, std::string_view b) {
    return sjis::equalsIgnoreCase(a, b);
}

// At or below: "A\B" is below "a\b" and "A", not below "A\" + "Bx".
bool isAtOrBelow(std::string_view key, std::string_view parent) {
    if (parent.empty()) {
        return true;
    }
    if (key.size() < parent.size() || !sameName(key.substr(0, parent.size()), parent)) {
        return false;
    }
    return key.size() == parent.size() || key[parent.size()] == '\\';
}

// Root may write a file whose mode has no write bit; a read-only registry file
// must still refuse writes, as a read-only key does.
bool isReadOnlyFile(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    return (st.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// The registry's folder, private to its owner, made when missing.
Status makeFolder(const fs::path& path) {
    std::error_code ec;
    fs::path folder = path.parent_path();
    if (!folder.empty() && !fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            return makeError(folder.string() + ": フォルダーを作れません: " + ec.message());
        }
        fs::permissions(folder, fs::perms::owner_all, ec);
    }
    return Ok{};
}

}  // namespace

Status RegistryFile::update(const fs::path& path,
                            const std::function<Status(RegistryFile&)>& change) {
    if (auto made = makeFolder(path); !made) {
        return made;
    }
    FileLock lock = FileLock::lock(path, kLockWait);
    if (!lock.held()) {
        return makeError("レジストリファイルをロックできません: " + lock.message());
    }
    RegistryFile reg = load(path);
    if (auto changed = change(reg); !changed) {
        return changed;
    }
    return reg.save();
}

fs::path RegistryFile::defaultPath() {
    if (const char* p = std::getenv("TARN_REGISTRY"); p != nullptr && *p != '\0') {
        return p;
    }
    fs::path config;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x == '/') {
        config = x;
    } else if (const char* h = std::getenv("HOME"); h != nullptr && *h == '/') {
        config = fs::path(h) / ".config";
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        config = fs::path(pw->pw_dir) / ".config";
    } else {
        config = "/tmp";
    }
    return config / "tarn" / "registry";
}

RegistryFile RegistryFile::load(const fs::path& path) {
    RegistryFile reg;
    reg.m_path = path;
    std::error_code ec;
    if (fs::exists(path, ec)) {
        reg.m_readOnly = isReadOnlyFile(path);
        auto bytes = readWholeFile(path, kMaxFileBytes);
        if (bytes) {
            reg.parseText(*bytes);
        } else {
            reg.m_unreadable = bytes.error().message;
            reg.m_warnings.push_back("レジストリファイルを読めません: " + reg.m_unreadable);
        }
    } else if (ec) {
        reg.m_unreadable = path.string() + ": " + ec.message();
        reg.m_warnings.push_back("レジストリファイルを読めません: " + reg.m_unreadable);
    }
    return reg;
}

RegistryFile RegistryFile::parse(std::string_view text) {
    RegistryFile reg;
    reg.parseText(text);
    return reg;
}

void RegistryFile::warn(std::size_t lineNo, std::string_view why) {
    std::string where = m_path.empty() ? std::string("レジストリ") : m_path.string();
    m_warnings.push_back(where + " の " + std::to_string(lineNo) + " 行目を読めません (" +
                         std::string(why) + ")。この行は使わず、そのまま残します。");
}

void RegistryFile::parseText(std::string_view text) {
    m_sections.clear();
    m_sections.emplace_back();  // lines before the first key
    bool inDamagedSection = false;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string_view raw =
            text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
        pos = (nl == std::string_view::npos) ? text.size() : nl + 1;
        ++lineNo;

        std::string_view line = trimLeft(trimRight(raw));
        Section& current = m_sections.back();
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            current.lines.push_back(Line{false, std::string(raw), {}, {}});
            continue;
        }
        if (line.front() == '[') {
            std::string_view inner = line.substr(1);
            bool ok = !inner.empty() && inner.back() == ']';
            if (ok) {
                inner.remove_suffix(1);
                ok = validKeyPath(inner);
            }
            Section s;
            s.rawHeader = std::string(raw);
            if (ok) {
                s.key = std::string(inner);
                inDamagedSection = false;
            } else {
                warn(lineNo, "キーの行が正しくありません。続く値もこのキーが直るまで使いません");
                inDamagedSection = true;
            }
            m_sections.push_back(std::move(s));
            continue;
        }
        std::string why;
        Line value;
        value.isValue = true;
        std::size_t i = 0;
        if (inDamagedSection) {
            why = "壊れたキーの下の値です";
        } else if (current.key.empty()) {
            why = "キーの行より前に値があります";
        } else if (readRegistryQuoted(line, i, value.name, why)) {
            std::string_view rest = trimLeft(line.substr(i));
            if (!isPrintableUtf8(value.name) || value.name.empty()) {
                why = "値の名前が正しくありません";
            } else if (rest.empty() || rest.front() != '=') {
                why = "名前の後に = がありません";
            } else if (decodeValue(trimLeft(rest.substr(1)), value.value, why)) {
                current.lines.push_back(std::move(value));
                continue;
            }
        }
        warn(lineNo, why);
        current.lines.push_back(Line{false, std::string(raw), {}, {}});
    }
}

std::string RegistryFile::serialize() const {
    std::string out;
    for (const Section& s : m_sections) {
        if (!s.rawHeader.empty() || !s.key.empty()) {
            if (!out.empty() && !out.ends_with("\n\n")) {
                out += '\n';
            }
            out += s.rawHeader.empty() ? "[" + s.key + "]" : s.rawHeader;
            out += '\n';
        }
        for (const Line& l : s.lines) {
            out += l.isValue ? registryQuoted(l.name) + "=" + encodeValue(l.value) : l.raw;
            out += '\n';
        }
    }
    return out;
}

Status RegistryFile::save() const {
    if (m_path.empty()) {
        return makeError("レジストリファイルの場所がありません");
    }
    if (!m_unreadable.empty()) {
        return makeError("読めなかったレジストリファイルには書き込みません: " + m_unreadable);
    }
    if (m_readOnly || isReadOnlyFile(m_path)) {
        return makeError(m_path.string() + ": レジストリファイルは読み取り専用です");
    }
    if (auto made = makeFolder(m_path); !made) {
        return made;
    }
    std::string text = serialize();
    if (m_sections.front().lines.empty()) {
        text =
            "; tarn registry (UTF-8). It holds passwords as plain text: keep it private.\n" + text;
    }
    AtomicWriteOptions options;
    options.mode = 0600;
    options.forceMode = true;
    return writeFileAtomically(m_path, text, options);
}

const RegistryFile::Section* RegistryFile::findSection(std::string_view key) const {
    const Section* found = nullptr;
    for (const Section& s : m_sections) {
        if (!s.key.empty() && sameName(s.key, key)) {
            found = &s;
        }
    }
    return found;
}

RegistryFile::Section* RegistryFile::findSection(std::string_view key) {
    return const_cast<Section*>(std::as_const(*this).findSection(key));
}

bool RegistryFile::keyExists(std::string_view key) const {
    for (const Section& s : m_sections) {
        if (!s.key.empty() && isAtOrBelow(s.key, key)) {
            return true;
        }
    }
    return false;
}

const RegValue* RegistryFile::find(std::string_view key, std::string_view name) const {
    const RegValue* found = nullptr;
    for (const Section& s : m_sections) {
        if (s.key.empty() || !sameName(s.key, key)) {
            continue;
        }
        for (const Line& l : s.lines) {
            if (l.isValue && sameName(l.name, name)) {
                found = &l.value;
            }
        }
    }
    return found;
}

std::string RegistryFile::getString(std::string_view key, std::string_view name) const {
    const RegValue* v = find(key, name);
    return (v != nullptr && v->type == RegType::Sz) ? v->text : std::string();
}

std::uint32_t RegistryFile::getDword(std::string_view key, std::string_view name) const {
    const RegValue* v = find(key, name);
    return (v != nullptr && v->type == RegType::Dword) ? v->dword : 0;
}

bool RegistryFile::set(std::string_view key, std::string_view name, RegValue value) {
    if (!validKeyPath(key) || name.empty() || !isPrintableUtf8(name)) {
        return false;
    }
    if (auto* existing = const_cast<RegValue*>(find(key, name))) {
        *existing = std::move(value);
        return true;
    }
    Section* s = findSection(key);
    if (s == nullptr) {
        m_sections.push_back(Section{std::string(key), {}, {}});
        s = &m_sections.back();
    }
    // New values go after the last value, before blank lines that separate keys.
    auto at = s->lines.end();
    while (at != s->lines.begin() && !std::prev(at)->isValue &&
           trimLeft(trimRight(std::prev(at)->raw)).empty()) {
        --at;
    }
    s->lines.insert(at, Line{true, {}, std::string(name), std::move(value)});
    return true;
}

bool RegistryFile::setString(std::string_view key, std::string_view name, std::string_view sjis) {
    return set(key, name, RegValue{RegType::Sz, std::string(sjis), 0});
}

bool RegistryFile::setDword(std::string_view key, std::string_view name, std::uint32_t value) {
    return set(key, name, RegValue{RegType::Dword, {}, value});
}

std::vector<RegistryFile::Entry> RegistryFile::entries(std::string_view key) const {
    std::vector<Entry> all;
    for (const Section& s : m_sections) {
        if (s.key.empty() || !isAtOrBelow(s.key, key)) {
            continue;
        }
        for (const Line& l : s.lines) {
            if (l.isValue) {
                all.push_back(Entry{s.key, l.name, l.value});
            }
        }
    }
    return all;
}

}  // namespace tarn
