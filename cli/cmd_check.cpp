// `tarn check`: the address check of the group-send application on a terminal.
#include <arpa/inet.h>
#include <unistd.h>

#include "command.h"
#include "common/cp932.h"
#include "driver/book_sources.h"
#include "driver/check_job.h"
#include "run_support.h"
#include "terminal_ui.h"

namespace tarn::cli {
namespace {

int runCheck(const std::vector<std::string>& argv);

const Command kCheck{
    "check",
    "check BOOK.tn2 [--folder NAME | --group NAME] [--level 1|2] [--dns ADDRESS] [--yes]\n"
    "  表示中 (--folder/--group、既定はすべて) のメールアドレスを検証し、状態を BOOK.tn2 に\n"
    "  書き戻します。レベル 1 は重複と書式・ドメインの規則、レベル 2 はさらに DNS (MX) を\n"
    "  引きます。--level と --dns はレジストリの検証設定 (CheckParam) を変えて保存します。\n"
    "  ログはレジストリの CheckLogFileName に書きます。Ctrl-C は中止ボタンです。",
    "メールアドレスを検証します (重複・書式・DNS)", runCheck};
const Registration reg(kCheck);

int runCheck(const std::vector<std::string>& argv) {
    using namespace tarn::driver;
    Args args(argv, {"folder", "group", "level", "dns"}, {"yes"});
    if (!args.ok()) {
        return usageError(kCheck, args.error());
    }
    if (args.positional().size() != 1) {
        return usageError(kCheck, "アドレス帳 (.tn2) を一つ指定してください");
    }
    const std::filesystem::path bookPath = args.positional()[0];
    // Held from before the book is read until its statuses are saved.
    auto bookLock = lockBook(bookPath);
    if (!bookLock) {
        return fail(bookLock.error().message);
    }
    auto book = openBook(bookPath, args.value("folder"), args.value("group"));
    if (!book) {
        return kFailure;
    }
    CheckJob::Setup setup;
    setup.settings = loadSettings().settings;
    setup.options.documentTitle = bookPath.filename().string();
    if (auto sj = cp932::fromUtf8(setup.options.documentTitle)) {
        setup.options.documentTitle = *sj;
    }
    setup.book = {bookPath, *bookLock};
    CheckJob job(std::make_unique<BookCheckSource>(*book->doc, *book->view), std::move(setup));
    if (auto problem = job.prepare()) {
        return showProblem(*problem);
    }

    int code = 0;
    if (auto stopped = configureAndRunCheck(job, kCheck, args, code)) {
        return *stopped;
    }
    const bool saved = saveBook(*book->doc, bookPath);
    return code == 0 && saved ? kSuccess : kFailure;
}

}  // namespace

std::optional<int> configureAndRunCheck(driver::CheckJob& job, const Command& command,
                                        const Args& args, int& runCode) {
    using namespace tarn::driver;
    // What the check-settings dialog would change.
    CheckSettings& check = job.checkSettings();
    if (auto level = args.value("level")) {
        if (*level != "1" && *level != "2") {
            return usageError(command, "--level は 1 か 2 です");
        }
        check.CheckMode = *level == "2" ? 1 : 0;
    }
    if (auto dns = args.value("dns")) {
        in_addr a{};
        if (::inet_pton(AF_INET, dns->c_str(), &a) != 1) {
            return usageError(command, "--dns は IPv4 アドレスで指定してください: " + *dns);
        }
        check.DNSAddress = ntohl(a.s_addr);
    }
    if (check.CheckMode == 1 && !CheckJob::levelTwoAvailable()) {
        return fail("DNS 検索 (レベル 2) はこのマシンでは使えません (UDP ソケットを開けません)。");
    }
    if (auto saved = SettingsStore().saveCheckParam(check); !saved) {
        err("tarn: 検証設定を保存できません: " + saved.error().message + "\n");
    }
    if (auto refused = refuseUnconfirmed(args.has("yes"), command.name, fromSjis(job.question()))) {
        return *refused;
    }

    installStopHandler();
    TerminalUi ui;
    if (auto started = job.start(); !started) {
        return fail(started.error().message);
    }
    runCode = job.runToEnd(ui, [&job] {
        if (takeStopRequest()) {
            job.requestStop();
        }
    });
    return std::nullopt;
}

}  // namespace tarn::cli
