// The database-send application's main window: "ターノス - データベース送信",
// a dialog with the four source pages, the menus and the send, partial send
// and check commands.
#pragma once

#include <QDialog>

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "dbsend/db_send.h"
#include "sendcore/settings.h"
#include "source_page.h"

class QLineEdit;
class QTabWidget;

namespace tarn::dbsendapp {

struct AppContext {
    SendSettings settings{};
    std::string contFileName;  // Shift_JIS
    SettingsStore store;
    DbSendSettings db;
};

// "ターノス  一部メール送信": the start and end rows of a partial send.
class RangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit RangeDialog(QWidget* parent);
    QLineEdit* startEdit() const { return m_start; }
    QLineEdit* endEdit() const { return m_end; }
    dbsend::RowRange range() const { return m_range; }
    // Reads the boxes as the core does: 800 (focus on the start box), 801
    // (end box), 802 are shown and the dialog stays open.
    void accept() override;

private:
    QLineEdit* m_start;
    QLineEdit* m_end;
    dbsend::RowRange m_range;
};

// The error box: "ターノス - エラー  (№%3d)", stop icon; codes without a text
// show nothing.
void showErrorCode(QWidget* parent, int code);

class MainDialog : public QDialog {
    Q_OBJECT
public:
    explicit MainDialog(AppContext& context, QWidget* parent = nullptr);

    SourcePage* page(int index) const { return m_pages[static_cast<std::size_t>(index)]; }
    SourcePage* currentPage() const;
    QTabWidget* tabs() const { return m_tabs; }
    // The confirmation's deny switch as it was last left (this session).
    bool denyChecked() const { return m_deny; }
    // The journal of sends from the current page's source (as tarn dbsend
    // keeps it); nothing without a data name.
    std::optional<std::filesystem::path> journalPath() const;

    // The commands (menu and buttons). False when they stopped before a run.
    bool send(bool partial);
    bool check();
    // Checks the current page and the send-contents file; the code shown, or 0.
    int prepareSend();
    // The mapping file of the current page: saved after a run that returned 0,
    // read back when a data file is opened.
    void saveMapping();
    void restoreMapping();

    void openOptions();
    void editMessage();
    void showAbout();

private:
    void remember();

    AppContext& m_context;
    QTabWidget* m_tabs;
    std::array<SourcePage*, 4> m_pages{};
    bool m_deny = false;
};

}  // namespace tarn::dbsendapp
