#include "driver/check_job.h"

#include "tarnmxvrfy.h"
#include "texts.h"

namespace tarn::driver {

CheckJob::CheckJob(std::unique_ptr<CheckSource> source, Setup setup)
    : m_source(std::move(source)), m_setup(std::move(setup)) {}

CheckJob::~CheckJob() {
    stopAndWait();
}

std::optional<CommandProblem> CheckJob::prepare() {
    m_targets = m_source->targetCount();
    if (m_targets == 0) {
        return CommandProblem{kErrNoRecipients, sendErrorText(kErrNoRecipients)};
    }
    return std::nullopt;
}

bool CheckJob::levelTwoAvailable() {
    return MXIsValid() != 0;
}

std::string CheckJob::question() const {
    return std::to_string(m_targets) + sj("件チェックを行います。\nよろしいですか？");
}

std::string CheckJob::questionTitle() {
    return sj("ターノス - 確認");
}

void CheckJob::start(Wake wake) {
    m_source->beginRun();
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
}

void CheckJob::commit() {
    m_source->commit();
}

}  // namespace tarn::driver
