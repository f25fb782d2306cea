#include "driver/check_job.h"

#include <arpa/inet.h>

#include <fstream>

#include "tarnmxvrfy.h"
#include "texts.h"

namespace tarn::driver {

std::uint32_t firstIpv4Nameserver(std::string_view text) {
    constexpr std::string_view kKeyword = "nameserver";
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        auto skipBlanks = [&line] {
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                line.remove_prefix(1);
            }
        };
        skipBlanks();
        if (!line.starts_with(kKeyword)) {
            continue;
        }
        line.remove_prefix(kKeyword.size());
        if (line.empty() || (line.front() != ' ' && line.front() != '\t')) {
            continue;  // "nameservers" or the like
        }
        skipBlanks();
        const std::size_t stop = line.find_first_of(" \t\r#;");
        const std::string address(line.substr(0, stop));
        in_addr a{};
        if (address.size() <= 15 && ::inet_pton(AF_INET, address.c_str(), &a) == 1 &&
            a.s_addr != 0) {
            return ntohl(a.s_addr);
        }
    }
    return 0;
}

std::uint32_t systemDnsServer(const std::filesystem::path& resolvConf) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(resolvConf, ec)) {
        return 0;
    }
    std::ifstream in(resolvConf, std::ios::binary);
    std::string text(64 * 1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return firstIpv4Nameserver(text);
}

CheckJob::CheckJob(std::unique_ptr<CheckSource> source, Setup setup)
    : m_source(std::move(source)), m_setup(std::move(setup)) {}

CheckJob::~CheckJob() {
    stopAndWait();
}

std::optional<CommandProblem> CheckJob::prepare() {
    m_targets = m_source->targetCount();
    if (m_targets == 0) {
        return CommandProblem{errorNumber(SendError::NoRecipients),
                              sendErrorText(errorNumber(SendError::NoRecipients))};
    }
    return std::nullopt;
}

bool CheckJob::levelTwoAvailable() {
    return MXIsValid() != 0;
}

std::string CheckJob::question() const {
    return std::to_string(m_targets) + sjisText("件チェックを行います。\nよろしいですか？");
}

std::string CheckJob::questionTitle() {
    return sjisText("ターノス - 確認");
}

Status CheckJob::start(Wake wake) {
    if (auto held = m_setup.book.hold(); !held) {
        return held;
    }
    if (auto taken = m_source->beginRun(); !taken) {
        m_setup.book.lock.reset();
        return taken;
    }
    startWorker(
        [this](JobChannel& channel) {
            const int code =
                runAddressCheck(m_setup.settings, m_targets, *m_source, channel, m_setup.options);
            if (const std::string text = sendErrorText(code); !text.empty()) {
                channel.errorBox(sendErrorTitle(code), text);
            }
            return code;
        },
        std::move(wake));
    return Ok{};
}

void CheckJob::commit() {
    m_source->commit();
    m_setup.book.lock.reset();
}

}  // namespace tarn::driver
