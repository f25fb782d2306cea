// The send command of a window: the job's checks (their boxes), the
// confirmation, a timed send's wait, then the run with the progress window.
// The sequence is the core's (SendJob); this shows it.
//
//   auto* cmd = new SendCommand(mainWindow, setup);
//   connect(cmd, &JobCommand::runEnded, ...refresh the views...);
//   connect(cmd, &JobCommand::finished, cmd, &QObject::deleteLater);
//   if (!cmd->execute()) delete cmd;
#pragma once

#include <QString>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/send_job.h"
#include "sendcore/settings.h"
#include "ui/job_command.h"
#include "ui/script_host.h"

namespace tarn::ui {

struct SendCommandSetup {
    driver::SendJob::Setup job;  // its scriptHost is the command's own
    std::function<std::unique_ptr<driver::RecipientSource>()> recipients;
    // Where the confirmed send-contents file is remembered (null: nowhere).
    const SettingsStore* store = nullptr;
    // The clock of the time dialogs (tests turn it).
    std::function<std::time_t()> now;
    // Told the send-contents file the person confirmed (Shift_JIS), so that a
    // window keeping the settings in memory keeps the same file.
    std::function<void(const std::string&)> contentsConfirmed;

    // The journal of this send, beside the book or the table's mapping file
    // (driver::journalPathFor); empty: none (a book never saved). When an
    // earlier run left one, the person is asked whether to go on from where
    // it stopped. It goes when a run went to its end: the statuses are in
    // the document then, as after any other change the person saves.
    std::filesystem::path journal;

    // A switch of the window's own in the confirmation (the deny list of the
    // database send). `apply` sets it on the recipients this command made;
    // the count and the preview are taken again after each change.
    struct Switch {
        QString text;
        bool checked = false;
        std::function<void(bool)> apply;
    };
    std::optional<Switch> confirmSwitch;
};

class SendCommand : public JobCommand {
    Q_OBJECT
public:
    SendCommand(QWidget* window, SendCommandSetup setup);
    ~SendCommand() override;

    // False when the command ended before the run (a box was shown, or the
    // person cancelled); true once the run has started.
    bool execute();

    DialogScriptHost& scriptHost() { return m_host; }
    driver::SendJob* job() const { return m_job.get(); }

private:
    SendCommandSetup m_setup;
    DialogScriptHost m_host;
    std::unique_ptr<driver::SendJob> m_job;
};

}  // namespace tarn::ui
