// `tarn dbsend` and `tarn dbcheck`: the database-send application's send and
// check on a terminal, over the rows of a workbook sheet, an Access or ODBC
// table or a CSV file.

#include <charconv>

#include "command.h"
#include "common/cp932.h"
#include "common/program.h"
#include "database/db_connection.h"
#include "dbsend/db_send.h"
#include "dbsend/db_sources.h"
#include "dbsend/mapping_file.h"
#include "driver/check_job.h"
#include "driver/send_job.h"
#include "run_support.h"
#include "terminal_ui.h"

namespace tarn::cli {
namespace {

int runDbSend(const std::vector<std::string>& argv);
int runDbCheck(const std::vector<std::string>& argv);

// clang-format off
#define TARN_DB_SOURCE_USAGE                                                        \
    "  --type    0 ODBC, 1 Access (.mdb), 2 Excel 5.0/95, 3 Excel 97-2003 (.xls),\n"  \
    "            4 CSV (--source にファイル、またはフォルダと --table にファイル名)\n" \
    "  --source  ファイル、フォルダ、または ODBC 接続文字列 (DSN=名前 など)\n"        \
    "  --table   シート名 ($ なし)、テーブル名、CSV ファイル名\n"                     \
    "  --map     項目=フィールド名 (繰り返し可)。項目は 会社名 部署名 役職 姓 名\n"   \
    "            E-Mail Freefield1..Freefield10 か番号 0-15。E-Mail は必須です\n"    \
    "  --from-row, --to-row  一部送信の開始行と終了行 (1～)\n"                        \
    "  --no-enclose  ODBC でテーブル名・フィールド名を囲みません\n"
// clang-format on

const Command kDbSend{
    "dbsend",
    "dbsend --type N --source S [--table T] --map SLOT=FIELD... [--honorific TEXT]\n"
    "           [--from-row A --to-row B] [--deny] [--no-enclose] [--contents FILE.tnm]\n"
    "           [--at \"YYYY-MM-DD HH:MM:SS\"] [--yes] [--preflight]\n"
    "           [--resume | --restart] [--resend-uncertain] [--no-journal]\n"
    "  データベースの行へ一通ずつ送信します (送信先には何も書き戻しません)。\n" TARN_DB_SOURCE_USAGE
    "  --honorific  すべての行の敬称 (10 バイトまで)\n"
    "  --deny    DenyEmailDomain.txt のドメインのアドレスには送信しません\n"
    "  ほかは tarn send と同じです。送信中の Ctrl-C は中止ボタンです。",
    "データベースの行へ一斉送信します", runDbSend};
const Registration regSend(kDbSend);

const Command kDbCheck{
    "dbcheck",
    "dbcheck --type N --source S [--table T] --map E-Mail=FIELD [--from-row A --to-row B]\n"
    "           [--no-enclose] [--level 1|2] [--dns ADDRESS] [--yes]\n"
    "  "
    "データベースの行のメールアドレスを検証し、結果をチェックログに書きます。"
    "\n" TARN_DB_SOURCE_USAGE "  --level と --dns は tarn check と同じです。",
    "データベースの行のメールアドレスを検証します", runDbCheck};
const Registration regCheck(kDbCheck);

#undef TARN_DB_SOURCE_USAGE

const std::vector<std::string> kSourceOptions{"type", "source",   "table",
                                              "map",  "from-row", "to-row"};

// The error box of this application on stderr, with what the database layer
// said when there is something.
int showDbError(int code, const std::string& detailUtf8 = {}) {
    err(fromSjis(dbsend::errorTitle(code)) + "\n" + fromSjis(dbsend::errorText(code)) +
        (detailUtf8.empty() ? "" : " (" + detailUtf8 + ")") + "\n");
    return kFailure;
}

int showPageProblem(const dbsend::PageProblem& problem, const dbsend::SourceSpec& spec) {
    std::string where;
    if (problem.box == dbsend::PageProblem::Box::kSlot) {
        where = fromSjis(dbsend::slotLabel(problem.slot)) + ": " +
                fromSjis(spec.fields[static_cast<std::size_t>(problem.slot)]);
    }
    return showDbError(problem.code, where);
}

// The source and mapping of the options, checked as the page checks them.
// An exit code when they do not make a source.
std::optional<int> readSource(const Command& command, const Args& args,
                              dbsend::RowSourceOptions& o) {
    using namespace dbsend;
    const auto type = args.value("type");
    if (!type || type->size() != 1 || (*type)[0] < '0' || (*type)[0] > '4') {
        return usageError(command, "--type は 0 から 4 です");
    }
    o.spec.type = (*type)[0] - '0';
    const Page page = pageOf(o.spec.type);
    auto source = toSjis(args.value("source").value_or(""), "--source");
    auto table = toSjis(args.value("table").value_or(""), "--table");
    if (!source || !table) {
        return kFailure;
    }
    o.spec.source = *source;
    o.spec.table = *table;
    if (page == Page::kCsv && o.spec.table.empty() && !o.spec.source.empty()) {
        // A CSV file: its folder is the source and its name the table.
        const auto slash = o.spec.source.rfind('/');
        if (slash != std::string::npos) {
            o.spec.table = o.spec.source.substr(slash + 1);
            o.spec.source.resize(slash == 0 ? 1 : slash);
        }
    }
    o.spec.enclose = !args.has("no-enclose");
    for (const std::string& m : args.values("map")) {
        const auto eq = m.find('=');
        auto label = toSjis(m.substr(0, eq == std::string::npos ? m.size() : eq), "--map");
        if (!label) {
            return kFailure;
        }
        std::optional<int> slot = slotByLabel(*label);
        int number = -1;
        if (auto [end, ec] = std::from_chars(label->data(), label->data() + label->size(), number);
            ec == std::errc{} && end == label->data() + label->size() && number >= 0 &&
            number < kSlotCount) {
            slot = number;
        }
        if (eq == std::string::npos || !slot) {
            return usageError(command, "--map は 項目=フィールド名 です: " + m);
        }
        auto field = toSjis(m.substr(eq + 1), "--map");
        if (!field) {
            return kFailure;
        }
        o.spec.fields[static_cast<std::size_t>(*slot)] = *field;
    }
    const auto from = args.value("from-row");
    const auto to = args.value("to-row");
    if (from || to) {
        if (int code = parseRange(from.value_or("1"), to.value_or("999999999"), o.range)) {
            return showDbError(code);
        }
    }

    // The page's checks that need no look at the table: the table's fields
    // are checked by reading the rows (readRows below), which parses a large
    // file once instead of once for the names and again for the rows.
    std::vector<std::string> mapped{std::string()};  // a table with fields
    for (const std::string& f : o.spec.fields) {
        if (!f.empty()) {
            mapped.push_back(f);
        }
    }
    if (auto problem = validatePage(page, o.spec, mapped)) {
        return showPageProblem(*problem, o.spec);
    }
    return std::nullopt;
}

// The rows of the run into `source`; when the table could not be opened, the
// page's check against its field names says which box is wrong (a field that
// is not there, 306 rather than the table's 305).
template <class Source>
std::optional<int> loadRows(Source& source, const dbsend::RowSourceOptions& o) {
    using namespace dbsend;
    const dbsend::RowRead& read = source.load();
    if (read.code == 0) {
        return std::nullopt;
    }
    const Page page = pageOf(o.spec.type);
    if (read.code == tableErrorCode(page)) {
        db::DbConnection connection;
        db::DbRecordset set;
        SourceSpec spec = o.spec;
        if (connection.Open(spec.type, spec.source)) {
            if (spec.type == db::kOdbc) {
                spec.odbcQuote = connection.IdentifierQuote();
            }
            if (set.Open(connection, allFieldsText(spec))) {
                std::vector<std::string> fields;
                for (int i = 0; i < set.FieldCount(); ++i) {
                    set.SelectField(i);
                    fields.push_back(set.FieldName().value_or(""));
                }
                if (auto problem = validatePage(page, spec, fields)) {
                    return showPageProblem(*problem, spec);
                }
            }
        }
    }
    return showDbError(read.code, read.detail);
}

// The data file (or ODBC source) as the log header names it.
std::string sourceName(const dbsend::SourceSpec& spec) {
    if (spec.type == db::kText) {
        return (std::filesystem::path(spec.source) / spec.table).string();
    }
    return spec.source;
}

int runDbSend(const std::vector<std::string>& argv) {
    using namespace tarn::driver;
    std::vector<std::string> valueOptions = kSourceOptions;
    valueOptions.insert(valueOptions.end(), {"honorific", "contents", "at"});
    Args args(argv, valueOptions,
              {"deny", "yes", "preflight", "no-enclose", "resume", "restart", "resend-uncertain",
               "no-journal"});
    if (!args.ok()) {
        return usageError(kDbSend, args.error());
    }
    if (!args.positional().empty()) {
        return usageError(kDbSend, "余分な引数があります: " + args.positional()[0]);
    }
    dbsend::RowSourceOptions rows;
    if (auto stopped = readSource(kDbSend, args, rows)) {
        return *stopped;
    }
    auto honorific = toSjis(args.value("honorific").value_or(""), "--honorific");
    if (!honorific) {
        return kFailure;
    }
    if (honorific->size() > dbsend::kHonorificLimit) {
        return usageError(kDbSend, "--honorific は 10 バイト (全角 5 文字) までです");
    }
    rows.spec.honorific = *honorific;
    rows.deny = args.has("deny");

    SendCommandOptions o;
    o.contents = args.value("contents");
    o.at = args.value("at");
    o.yes = args.has("yes");
    o.preflight = args.has("preflight");
    if (args.has("resume") && args.has("restart")) {
        return usageError(kDbSend, "--resume と --restart は同時に指定できません");
    }
    o.resume = args.has("resume");
    o.restart = args.has("restart");
    o.resendUncertain = args.has("resend-uncertain");
    o.journal = !args.has("no-journal");

    LoadedSettings loaded = loadSettings();
    std::string contentsPath = loaded.contFileName;
    if (o.contents) {
        auto p = toSjis(*o.contents, "--contents");
        if (!p) {
            return kFailure;
        }
        contentsPath = *p;
    }
    // The send-contents file before the rows: 501 without one, 500 when it
    // cannot be read, 510 with an empty body.
    if (contentsPath.empty()) {
        return showDbError(errorNumber(SendError::NoContentsFile));
    }
    contents::SendContents probe;
    if (contents::LoadSendContents(cp932::pathFromSjis(contentsPath), probe) != 0) {
        return showDbError(errorNumber(SendError::ReadContents));
    }
    if (probe.body.empty()) {
        return showDbError(errorNumber(SendError::NoRecipients));
    }

    auto recipients = std::make_unique<dbsend::DbRecipients>(rows);
    if (auto stopped = loadRows(*recipients, rows)) {
        return *stopped;
    }
    if (recipients->eligibleCount() == 0) {
        return showDbError(
            errorNumber(dbsend::DbSendError::DbNoData));  // every row on the deny list
    }
    SendJob::Setup setup;
    setup.settings = loaded.settings;
    setup.contentsPath = contentsPath;
    setup.options.recipientSourceName = sourceName(rows.spec);
    setup.options.customHeaderFile = besideProgram("CustmHeader.hdr");
    setup.options.smtpAuthFile = besideProgram("SMTPAuth.txt");
    setup.options.databaseRows = true;
    SendJob job(std::move(recipients), std::move(setup));
    // The same journal as the window's, beside the source's mapping file.
    if (o.journal && !o.preflight) {
        if (auto journal = dbsend::sendJournalPath(programFolder(), rows.spec)) {
            if (auto stopped = useSendJournal(job, *journal, o)) {
                return *stopped;
            }
        }
    }
    const std::vector<std::string> extra{std::string(rows.deny ? "[x]" : "[ ]") +
                                         " DenyEmailDomain.txt のアドレスには送信しない。"};
    SendRunOutcome outcome;
    if (auto stopped = confirmAndRunSend(job, o, extra, outcome)) {
        job.journalDone();  // an earlier run had settled every row (else a no-op)
        return *stopped;
    }
    // Nothing is written back to a table: the journal has served once the
    // run went to its end.
    job.journalDone();
    return finishSendCommand(outcome, true);
}

int runDbCheck(const std::vector<std::string>& argv) {
    using namespace tarn::driver;
    std::vector<std::string> valueOptions = kSourceOptions;
    valueOptions.insert(valueOptions.end(), {"level", "dns"});
    Args args(argv, valueOptions, {"yes", "no-enclose"});
    if (!args.ok()) {
        return usageError(kDbCheck, args.error());
    }
    if (!args.positional().empty()) {
        return usageError(kDbCheck, "余分な引数があります: " + args.positional()[0]);
    }
    dbsend::RowSourceOptions rows;
    if (auto stopped = readSource(kDbCheck, args, rows)) {
        return *stopped;
    }
    auto source = std::make_unique<dbsend::DbCheckSource>(rows);
    if (auto stopped = loadRows(*source, rows)) {
        return *stopped;
    }
    CheckJob::Setup setup;
    setup.settings = loadSettings().settings;
    setup.options.documentTitle = sourceName(rows.spec);
    setup.options.databaseRows = true;
    CheckJob job(std::move(source), std::move(setup));
    if (auto problem = job.prepare()) {
        return showProblem(*problem);
    }
    int code = 0;
    if (auto stopped = configureAndRunCheck(job, kDbCheck, args, code)) {
        return *stopped;
    }
    return code == 0 ? kSuccess : kFailure;
}

}  // namespace
}  // namespace tarn::cli
