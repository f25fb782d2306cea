// `tarn demo`: a whole send on a temporary registry to the built-in capture
// server, with the sample address book and message (Japanese, merge fields, a
// script branch and an attachment).
#include <cstdlib>

#include <filesystem>

#include "command.h"
#include "common/cp932.h"
#include "common/files.h"
#include "common/program.h"
#include "contents/send_contents.h"
#include "run_support.h"

namespace tarn::cli {
namespace {

namespace fs = std::filesystem;

int runDemo(const std::vector<std::string>& argv);

const Command kDemo{
    "demo", "demo [--keep-dir DIR]",
    "見本のアドレス帳と送信内容を内蔵の受信サーバへ送信してみます (設定は一時的なもの)", runDemo};
const Registration reg(kDemo);

fs::path samplesFolder() {
    for (const fs::path& candidate :
         {programFolder() / "samples", programFolder() / ".." / "share" / "tarn" / "samples",
          fs::path(TARN_SAMPLES_DIR)}) {
        if (fs::exists(candidate / "sample.tn2") && fs::exists(candidate / "sample.tnm")) {
            return candidate;
        }
    }
    return {};
}

int runDemo(const std::vector<std::string>& argv) {
    Args args(argv, {"keep-dir"}, {});
    if (!args.ok() || !args.positional().empty()) {
        return usageError(kDemo, args.ok() ? "引数が多すぎます" : args.error());
    }
    const fs::path samples = samplesFolder();
    if (samples.empty()) {
        return fail("見本ファイル (samples/sample.tn2, sample.tnm) が見つかりません");
    }
    fs::path dir;
    if (auto keep = args.value("keep-dir")) {
        dir = *keep;
        std::error_code ec;
        fs::create_directories(dir, ec);
    } else {
        std::string tmpl = (fs::temp_directory_path() / "tarn-demo-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            return fail("一時フォルダを作成できません");
        }
        dir = tmpl;
    }
    dir = fs::absolute(dir);

    // Everything the demo writes stays in its folder: registry, program folder files, outputs.
    ::setenv("TARN_REGISTRY", (dir / "registry").c_str(), 1);
    ::setenv("TARN_HOME", dir.c_str(), 1);

    std::error_code ec;
    const fs::path book = dir / "sample.tn2";
    const fs::path attachment = dir / "説明会のご案内.txt";
    fs::copy_file(samples / "sample.tn2", book, fs::copy_options::overwrite_existing, ec);
    fs::copy_file(samples / "説明会のご案内.txt", attachment, fs::copy_options::overwrite_existing,
                  ec);
    if (ec) {
        return fail("見本ファイルをコピーできません: " + ec.message());
    }
    contents::SendContents message;
    if (int rc = contents::LoadSendContents(samples / "sample.tnm", message); rc != 0) {
        return fail("見本の送信内容を読めません (" + std::to_string(rc) + ")");
    }
    message.attachments = *cp932::fromUtf8(attachment.string());
    const fs::path tnm = dir / "sample.tnm";
    if (int rc = contents::SaveSendContents(tnm, message); rc != 0) {
        return fail("送信内容を保存できません (" + std::to_string(rc) + ")");
    }

    SendSettings settings{};
    AccountSettings& a = settings.defaultAccount;
    setFieldText(a.FromName, *cp932::fromUtf8("ターノス デモ事務局"));
    setFieldText(a.FromEMail, "demo@example.com");
    setFieldText(a.Account, "demo");
    setFieldText(a.SMTPName, "127.0.0.1");
    a.PortNo = 25;
    a.dialUp.LANConnect = 1;
    settings.LogFileMode = 2;
    setFieldText(settings.LogFileName, *cp932::fromUtf8((dir / "send.log").string()));
    settings.ScriptUse = 1;
    SettingsStore store;
    if (auto saved = store.saveOption(settings); !saved) {
        return fail("一時レジストリに書き込めません: " + saved.error().message);
    }
    if (auto saved = store.saveCommon(*cp932::fromUtf8(tnm.string())); !saved) {
        return fail("一時レジストリに書き込めません: " + saved.error().message);
    }

    SendCommandOptions o;
    o.book = book;
    o.yes = true;
    o.dryRunDir = dir / "messages";
    int rc = runSendCommand(o);
    out("\nデモの結果 (フォルダ " + dir.string() + "):\n");
    out("  送信したメール (.eml): " + (dir / "messages").string() + "\n");
    out("  送信ログ:              " + (dir / "send.log").string() + "\n");
    out("  送信後のアドレス帳:    " + book.string() + "  (tarn book show で確認できます)\n");
    out("  一時レジストリ:        " + (dir / "registry").string() + "\n");
    return rc;
}

}  // namespace
}  // namespace tarn::cli
