#include "driver/send_job.h"

#include "common/cp932.h"
#include "driver/personalise.h"
#include "texts.h"

namespace tarn::driver {
namespace {

// The script's calls during a run, made on the worker thread, carried out by
// the caller's host on the caller's thread. When the job is abandoned before a
// call is answered, the answer is the one of nobody being there.
class ForwardedScriptHost : public contents::ScriptHost {
public:
    ForwardedScriptHost(JobChannel& channel, contents::ScriptHost& target)
        : m_channel(channel), m_target(target) {}

    void ReportScriptError(int number, int line, std::string_view message) override {
        m_channel.callOnCallerThread([&] { m_target.ReportScriptError(number, line, message); });
    }
    bool MsgBox(std::string_view text, int kind) override {
        bool answer = ScriptHost::MsgBox(text, kind);
        m_channel.callOnCallerThread([&] { answer = m_target.MsgBox(text, kind); });
        return answer;
    }
    bool Execute(std::string_view program, std::string_view parameters) override {
        bool started = false;
        m_channel.callOnCallerThread([&] { started = m_target.Execute(program, parameters); });
        return started;
    }
    std::string OutputFileDialog(std::string_view title, std::string_view folder) override {
        std::string path;
        m_channel.callOnCallerThread([&] { path = m_target.OutputFileDialog(title, folder); });
        return path;
    }
    std::string InputFileDialog(std::string_view title, std::string_view folder) override {
        std::string path;
        m_channel.callOnCallerThread([&] { path = m_target.InputFileDialog(title, folder); });
        return path;
    }
    std::int32_t SelectDialog(const std::vector<std::string>& items) override {
        std::int32_t chosen = 0;
        m_channel.callOnCallerThread([&] { chosen = m_target.SelectDialog(items); });
        return chosen;
    }
    std::string StrInputDialog(const std::vector<std::string>& arguments) override {
        std::string text;
        m_channel.callOnCallerThread([&] { text = m_target.StrInputDialog(arguments); });
        return text;
    }

private:
    JobChannel& m_channel;
    contents::ScriptHost& m_target;
};

// Keeps the script's error for the preview, then tells the caller's host.
class PreviewScriptHost : public contents::ScriptHost {
public:
    explicit PreviewScriptHost(contents::ScriptHost* target) : m_target(target) {}

    void ReportScriptError(int number, int line, std::string_view message) override {
        error = std::string(message);
        if (m_target != nullptr) {
            m_target->ReportScriptError(number, line, message);
        }
    }
    bool MsgBox(std::string_view text, int kind) override {
        return m_target != nullptr ? m_target->MsgBox(text, kind) : ScriptHost::MsgBox(text, kind);
    }
    bool Execute(std::string_view program, std::string_view parameters) override {
        return m_target != nullptr && m_target->Execute(program, parameters);
    }
    std::string OutputFileDialog(std::string_view title, std::string_view folder) override {
        return m_target != nullptr ? m_target->OutputFileDialog(title, folder) : std::string();
    }
    std::string InputFileDialog(std::string_view title, std::string_view folder) override {
        return m_target != nullptr ? m_target->InputFileDialog(title, folder) : std::string();
    }
    std::int32_t SelectDialog(const std::vector<std::string>& items) override {
        return m_target != nullptr ? m_target->SelectDialog(items) : 0;
    }
    std::string StrInputDialog(const std::vector<std::string>& arguments) override {
        return m_target != nullptr ? m_target->StrInputDialog(arguments) : std::string();
    }

    std::string error;

private:
    contents::ScriptHost* m_target;
};

}  // namespace

std::string CommandProblem::title() const {
    return code != 0 ? sendErrorTitle(code) : sjisText("ターノス - エラー");
}

std::string confirmationQuestion() {
    return sjisText("以下の内容で送信を行います。よろしいですか？");
}

std::string confirmationTitle() {
    return sjisText("ターノス  確認");
}

std::string scriptErrorText() {
    return sjisText("スクリプトエラーです。");
}

SendJob::SendJob(std::unique_ptr<RecipientSource> recipients, Setup setup)
    : m_recipients(std::move(recipients)),
      m_setup(std::move(setup)),
      m_initialContentsPath(m_setup.contentsPath) {}

SendJob::~SendJob() {
    stopAndWait();
}

std::optional<CommandProblem> SendJob::loadContents(const std::string& path) {
    contents::SendContents loaded;
    if (path.empty() || contents::LoadSendContents(cp932::pathFromSjis(path), loaded) != 0) {
        return CommandProblem{0, sjisText("送信文がありません。")};
    }
    if (loaded.body.empty()) {
        return CommandProblem{0, sjisText("送信内容がありません。")};
    }
    m_contents = std::move(loaded);
    m_setup.contentsPath = path;
    m_confirmation.contentsPath = path;
    m_confirmation.subject = m_contents.subject;
    return std::nullopt;
}

std::optional<CommandProblem> SendJob::prepare() {
    m_confirmation = {};
    const int n = m_recipients->eligibleCount();
    if (n == 0 && m_journalled != nullptr && m_journalled->resumes()) {
        // The earlier run had settled everyone before it was cut off: only its
        // statuses are left to store.
        if (m_recipients->beginRun()) {
            m_journalled->finishWalk();
            m_recipients->commit();
            m_settledByJournal = true;
        }
        return CommandProblem{0, sjisText("前回の送信で、すべての宛先の送信が終わっています。")};
    }
    if (n == 0) {
        return CommandProblem{errorNumber(SendError::NoRecipients),
                              sendErrorText(errorNumber(SendError::NoRecipients))};
    }
    const AccountSettings& account = m_setup.settings.defaultAccount;
    if (fieldText(account.FromName).empty()) {
        return CommandProblem{0, sjisText("送信者アカウントが設定されていません。")};
    }
    if (auto problem = loadContents(m_setup.contentsPath)) {
        return problem;
    }
    m_confirmation.recipients = n;
    m_confirmation.sender = fieldText(account.FromName) + " <" + fieldText(account.FromEMail) + ">";
    makePreview();
    return std::nullopt;
}

std::optional<CommandProblem> SendJob::chooseContentsFile(const std::string& path) {
    const contents::SendContents before = m_contents;
    const std::string beforePath = m_setup.contentsPath;
    if (auto problem = loadContents(path)) {
        m_contents = before;
        m_setup.contentsPath = beforePath;
        return problem;
    }
    makePreview();
    return std::nullopt;
}

Status SendJob::rememberContentsFile(const SettingsStore& store) const {
    if (m_setup.contentsPath == m_initialContentsPath) {
        return Ok{};
    }
    return store.saveCommon(m_setup.contentsPath);
}

void SendJob::makePreview() {
    m_confirmation.preflight =
        runPreflight(m_setup.settings, m_contents, m_confirmation.recipients, *m_recipients);
    SendPreview& preview = m_confirmation.preview;
    preview = {};
    PreviewScriptHost host(m_setup.scriptHost);
    std::optional<contents::ScriptEngine> script;
    if (m_setup.settings.ScriptUse == 1) {
        script.emplace(host);
        if (script->LoadScript(m_contents.body) == 0) {
            preview.state = SendPreview::State::kScriptFailed;
            preview.scriptError = host.error;
            return;
        }
    }
    // The first recipient that gets a message, as the run will make it.
    PersonalMessage message;
    preview.state = SendPreview::State::kNoMessage;
    m_recipients->visitEligible([&](const Recipient& r) {
        switch (personalise(m_contents, script ? &*script : nullptr, r.values, message)) {
            case Personalised::kSkipped:
                return true;
            case Personalised::kScriptFailed:
                preview.state = SendPreview::State::kScriptFailed;
                preview.scriptError = host.error;
                break;
            case Personalised::kMessage:
                preview.state = SendPreview::State::kMessage;
                preview.subject = message.subject();
                preview.body = message.body();
                break;
        }
        preview.position = r.position;
        preview.address = r.address;
        return false;
    });
}

std::optional<CommandProblem> SendJob::useJournal(const std::filesystem::path& path, EarlierRun how,
                                                  ResumeUi& ui, std::optional<bool> sendUncertain) {
    JournalContents earlier;
    std::error_code ec;
    // A restart leaves the earlier journal where it is until the new run
    // starts: a send cancelled at the confirmation must not lose the record of
    // who already got the message.
    m_restartJournal = how == EarlierRun::kRestart;
    if (!m_restartJournal && std::filesystem::exists(path, ec)) {
        auto read = readJournal(path);
        if (!read) {
            return CommandProblem{0, sjisText("送信記録ファイルを読めません。")};
        }
        earlier = std::move(*read);
    }
    // A run that ended before its first message (a refused login, no
    // connection) leaves an empty journal: nothing to go on from.
    if (!earlier.entries.empty()) {
        const std::string title = sjisText("ターノス - 確認");
        if (how == EarlierRun::kAsk && !ui.askResume(title, interruptedRunText(earlier))) {
            return CommandProblem{0, sjisText("送信を取りやめました。")};
        }
        const std::vector<std::string> uncertain = earlier.uncertainAddresses();
        if (!uncertain.empty() && !sendUncertain) {
            sendUncertain = ui.askSendUncertain(title, uncertainQuestionText(earlier), uncertain);
        }
        if (!uncertain.empty() && !*sendUncertain) {
            m_uncertainLeftOut = uncertain;
        }
    }
    auto journalled = std::make_unique<JournalledRecipients>(
        std::move(m_recipients), std::move(earlier), sendUncertain.value_or(false));
    m_journalled = journalled.get();
    m_recipients = std::move(journalled);
    m_journalPath = path;
    return std::nullopt;
}

void SendJob::journalDone() {
    if (m_journalled == nullptr || (!m_settledByJournal && (!ended() || result() != 0))) {
        return;
    }
    m_journalWriter.reset();
    std::error_code ec;
    std::filesystem::remove(m_journalPath, ec);
}

Status SendJob::start(Wake wake) {
    if (auto held = m_setup.book.hold(); !held) {
        return held;
    }
    if (m_journalled != nullptr) {
        std::error_code ec;
        if (m_restartJournal && std::filesystem::exists(m_journalPath, ec) &&
            !std::filesystem::remove(m_journalPath, ec)) {
            m_setup.book.lock.reset();
            return makeError("送信記録ファイルを削除できません: " + m_journalPath.string() + " (" +
                             ec.message() + ")");
        }
        m_restartJournal = false;
        auto writer = JournalWriter::open(m_journalPath);
        if (!writer) {
            m_setup.book.lock.reset();
            return writer.error();
        }
        m_journalWriter = std::move(*writer);
        m_journalled->setWriter(m_journalWriter.get());
    }
    if (auto taken = m_recipients->beginRun(); !taken) {
        m_setup.book.lock.reset();
        return taken;
    }
    const int n = m_recipients->eligibleCount();
    m_setup.options.contentsPath = m_setup.contentsPath;
    startWorker(
        [this, n](JobChannel& channel) {
            SendRunOptions options = m_setup.options;
            std::optional<ForwardedScriptHost> host;
            if (m_setup.scriptHost != nullptr) {
                host.emplace(channel, *m_setup.scriptHost);
                options.scriptHost = &*host;
            } else {
                options.scriptHost = nullptr;
            }
            const int code =
                runSend(m_setup.settings, m_contents, n, *m_recipients, channel, options);
            if (const std::string text = sendErrorText(code); !text.empty()) {
                channel.errorBox(sendErrorTitle(code), text);
            }
            return code;
        },
        std::move(wake));
    return Ok{};
}

void SendJob::commit() {
    if (m_journalWriter) {
        // The last outcomes reach the disk with the statuses.
        m_journalWriter->sync();
    }
    m_recipients->commit();
    m_setup.book.lock.reset();
}

}  // namespace tarn::driver
