#include "ui/send_command.h"

#include "driver/timed_send.h"
#include "ui/message_box.h"
#include "ui/resume_dialogs.h"
#include "ui/send_dialogs.h"
#include "ui/sjis_text.h"

namespace tarn::ui {

SendCommand::SendCommand(QWidget* window, SendCommandSetup setup)
    : JobCommand(window), m_setup(std::move(setup)), m_host(window) {
    // A run that went to its end needs its journal no more; one that stopped
    // keeps it for the next send to go on from.
    connect(this, &JobCommand::runEnded, this, [this](int result) {
        if (result == 0) {
            m_job->journalDone();
        }
    });
}

SendCommand::~SendCommand() {
    m_job.reset();  // waits for a worker that is still running
}

bool SendCommand::execute() {
    driver::SendJob::Setup jobSetup = m_setup.job;
    jobSetup.scriptHost = &m_host;
    m_job = std::make_unique<driver::SendJob>(m_setup.recipients(), std::move(jobSetup));
    if (!m_setup.journal.empty()) {
        using How = driver::SendJob::EarlierRun;
        DialogResumeUi resume(window());
        auto problem = m_job->useJournal(m_setup.journal, How::kAsk, resume);
        if (problem && resume.restartChosen()) {
            problem = m_job->useJournal(m_setup.journal, How::kRestart, resume);
        }
        if (problem) {
            if (!resume.answeredNo()) {
                showProblem(window(), *problem);
            }
            return false;
        }
    }
    if (m_setup.confirmSwitch) {
        m_setup.confirmSwitch->apply(m_setup.confirmSwitch->checked);
    }
    if (auto problem = m_job->prepare()) {
        if (m_job->settledByJournal()) {
            // Nothing is left to send: the statuses the earlier run could not
            // store are in the document now.
            tell(window(), fromSjis(problem->title()), fromSjis(problem->text));
            m_job->journalDone();
            return false;
        }
        showProblem(window(), *problem);
        return false;
    }

    SendConfirmDialog confirm(*m_job, window(), m_setup.now);
    if (m_setup.confirmSwitch) {
        confirm.addSwitch(m_setup.confirmSwitch->text, m_setup.confirmSwitch->checked,
                          m_setup.confirmSwitch->apply);
    }
    if (confirm.exec() != QDialog::Accepted) {
        return false;
    }
    if (m_setup.contentsConfirmed) {
        m_setup.contentsConfirmed(m_job->confirmation().contentsPath);
    }
    if (m_setup.store != nullptr) {
        if (auto saved = m_job->rememberContentsFile(*m_setup.store); !saved) {
            tell(window(), QStringLiteral("ターノス - エラー"),
                 QStringLiteral("送信内容ファイルの設定を保存できません: ") +
                     QString::fromStdString(saved.error().message),
                 QMessageBox::Warning);
        }
    }

    if (confirm.choice() == SendConfirmDialog::Choice::kTimed) {
        const std::time_t now = m_setup.now ? m_setup.now() : std::time(nullptr);
        // The clock may have passed the time while the confirmation was open.
        if (confirm.planned() <= now) {
            tell(window(), fromSjis(driver::notInFutureTitle()),
                 fromSjis(driver::notInFutureText()), QMessageBox::Warning);
            return false;
        }
        WaitDialog wait(window(), confirm.planned(), m_setup.now);
        if (wait.exec() != QDialog::Accepted) {
            return false;
        }
    }

    return startRun(*m_job,
                    [this](driver::Job::Wake wake) { return m_job->start(std::move(wake)); });
}

}  // namespace tarn::ui
