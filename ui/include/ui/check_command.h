// The address check command of a window: the job's check (no targets: 510),
// the check-settings dialog, saving CheckParam, "%d件チェックを行います。",
// then the run with the progress window. The sequence is the core's
// (CheckJob); this shows it.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "driver/check_job.h"
#include "sendcore/settings.h"
#include "ui/job_command.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarn::ui {

// The check settings: level 1 / levels 1 and 2, the log file, OK lines, new
// or appended log, the DNS server (offered from the system's resolver when
// none is set) and relaxed domain rules. Edits the record in place on OK.
class CheckSettingsDialog : public QDialog {
    Q_OBJECT
public:
    CheckSettingsDialog(CheckSettings& settings, bool levelTwoAvailable, QWidget* parent,
                        std::uint32_t systemDns = driver::systemDnsServer());

    QRadioButton* levelOneButton() const { return m_level1; }
    QRadioButton* levelTwoButton() const { return m_level2; }
    QLineEdit* logFileEdit() const { return m_logFile; }
    QLineEdit* dnsEdit() const { return m_dns; }
    QCheckBox* okLinesBox() const { return m_okLines; }
    QRadioButton* appendButton() const { return m_append; }
    QCheckBox* relaxedBox() const { return m_relaxed; }

    void accept() override;

private:
    void browseLog();
    void levelChanged();

    CheckSettings& m_settings;
    QRadioButton* m_level1;
    QRadioButton* m_level2;
    QLineEdit* m_logFile;
    QPushButton* m_browse;
    QCheckBox* m_okLines;
    QRadioButton* m_create;
    QRadioButton* m_append;
    QLineEdit* m_dns;
    QCheckBox* m_relaxed;
};

struct CheckCommandSetup {
    driver::CheckJob::Setup job;
    std::function<std::unique_ptr<driver::CheckSource>()> source;
    const SettingsStore* store = nullptr;  // CheckParam is saved here (null: nowhere)
    // Told the check settings the person accepted, for a window keeping the
    // settings in memory.
    std::function<void(const CheckSettings&)> settingsAccepted;
};

class CheckCommand : public JobCommand {
    Q_OBJECT
public:
    CheckCommand(QWidget* window, CheckCommandSetup setup);
    ~CheckCommand() override;

    // False when the command ended before the run; true once it has started.
    bool execute();

private:
    CheckCommandSetup m_setup;
    std::unique_ptr<driver::CheckJob> m_job;
};

}  // namespace tarn::ui
