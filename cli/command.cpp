#include "command.h"

#include <algorithm>
#include <cstdio>

#include "common/cp932.h"

namespace tarn::cli {
namespace {
std::vector<Command>& registry() {
    static std::vector<Command> all;
    return all;
}
}  // namespace

Registration::Registration(const Command& command) {
    auto& all = registry();
    all.push_back(command);
    std::sort(all.begin(), all.end(),
              [](const Command& a, const Command& b) { return std::string_view(a.name) < b.name; });
}

const std::vector<Command>& commands() {
    return registry();
}

void out(std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

void err(std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fflush(stderr);
}

std::string fromSjis(std::string_view sjis) {
    return cp932::toUtf8Lossy(sjis);
}

std::optional<std::string> toSjis(std::string_view utf8, std::string_view what) {
    auto r = cp932::fromUtf8(utf8);
    if (!r) {
        err("tarn: " + std::string(what) + ": " + r.error().message + "\n");
        return std::nullopt;
    }
    return std::move(r.value());
}

int fail(std::string_view utf8Message) {
    err("tarn: " + std::string(utf8Message) + "\n");
    return kFailure;
}

int usageError(const Command& command, std::string_view reason) {
    err("tarn " + std::string(command.name) + ": " + std::string(reason) + "\n使い方: tarn " +
        command.usage + "\n");
    return kUsage;
}

Args::Args(const std::vector<std::string>& args, std::vector<std::string> valueOptions,
           std::vector<std::string> flagOptions) {
    auto isIn = [](const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 3 || a.compare(0, 2, "--") != 0) {
            if (a == "--" && !optionsEnded) {
                optionsEnded = true;
                continue;
            }
            m_positional.push_back(a);
            continue;
        }
        std::string name = a.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (isIn(valueOptions, name)) {
            std::string v;
            if (inlineValue) {
                v = *inlineValue;
            } else if (i + 1 < args.size()) {
                v = args[++i];
            } else {
                m_error = "--" + name + " には値が必要です";
                return;
            }
            m_values.emplace(name, v);
            m_ordered.emplace_back(name, v);
        } else if (isIn(flagOptions, name) && !inlineValue) {
            m_values.emplace(name, "");
        } else {
            m_error = "不明なオプションです: " + a;
            return;
        }
    }
}

bool Args::has(const std::string& name) const {
    return m_values.count(name) > 0;
}

std::optional<std::string> Args::value(const std::string& name) const {
    std::optional<std::string> last;
    for (const auto& [k, v] : m_ordered) {
        if (k == name) {
            last = v;
        }
    }
    return last;
}

std::vector<std::string> Args::values(const std::string& name) const {
    std::vector<std::string> all;
    for (const auto& [k, v] : m_ordered) {
        if (k == name) {
            all.push_back(v);
        }
    }
    return all;
}

std::string jsonString(std::string_view utf8) {
    std::string o = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                o += "\\\"";
                break;
            case '\\':
                o += "\\\\";
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
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    o += buf;
                } else {
                    o += static_cast<char>(c);
                }
        }
    }
    o += '"';
    return o;
}

}  // namespace tarn::cli
