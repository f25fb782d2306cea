#include "driver/check_driver.h"

#include <chrono>
#include <cstring>
#include <map>
#include <unordered_set>

#include "addressbook/record.h"
#include "common/cp932.h"
#include "common/program.h"
#include "driver/send_driver.h"
#include "tarnmxvrfy.h"
#include "texts.h"
#include "verify/address.h"

namespace tarn::driver {
namespace {

using Clock = std::chrono::steady_clock;

long long secondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
}

// The message of a check result code in Shift_JIS, for the check log.
const std::string& resultMessage(int code) {
    static std::map<int, std::string> cache;
    auto it = cache.find(code);
    if (it == cache.end()) {
        auto sjis = cp932::fromUtf8(verify::CheckResultMessage(code));
        it = cache.emplace(code, sjis ? *sjis : std::string()).first;
    }
    return it->second;
}

struct Level2Entry {
    int position;
    std::size_t key;
    std::string stored;
    std::string extracted;
    std::string localPart;
    std::string domain;
};

Level2Entry makeLevel2Entry(const CheckEntry& entry, const std::string& extracted) {
    Level2Entry e{entry.position, entry.key, entry.stored, extracted, {}, {}};
    std::size_t at = extracted.find('@');  // the FIRST at-sign
    if (at != std::string::npos) {
        std::string_view local(extracted.data(), at);
        while (!local.empty() && local.front() == ' ') {
            local.remove_prefix(1);
        }
        e.localPart = std::string(local);
        e.domain = extracted.substr(at + 1);
    } else {
        e.domain = extracted;
    }
    while (!e.domain.empty() && e.domain.back() == ' ') {
        e.domain.pop_back();
    }
    e.domain += '.';
    return e;
}

}  // namespace

int runAddressCheck(const SendSettings& settings, int targetCount, CheckSource& source,
                    JobChannel& ui, const CheckRunOptions& options) {
    const CheckSettings& check = settings.check;
    const bool level2 = check.CheckMode == 1;
    const bool okLines = check.CheckLogOutMode == 0;

    // Settings and the log.
    if (level2 && check.DNSAddress == 0) {
        return errorNumber(SendError::DnsAddress);
    }
    const std::string logName(check.CheckLogFileName,
                              strnlen(check.CheckLogFileName, sizeof check.CheckLogFileName));
    if (logName.empty()) {
        return errorNumber(SendError::NoLogFileName);
    }
    SendLog log(options.logClock);
    if (auto opened = log.open(cp932::pathFromSjis(logName), check.CheckLogCreateMode); !opened) {
        ui.errorBox(sjisText("ターノス - エラー"), cp932::fromUtf8Named(opened.error().message));
        return errorNumber(SendError::LogOpen);
    }
    // Header and the start of level 1.
    log.checkHeader(options.documentTitle);
    log.levelStart(1);

    // The progress window; it goes on every return path but the finished one.
    struct WindowGuard {
        JobChannel& ui;
        bool finished = false;
        ~WindowGuard() {
            if (!finished) {
                ui.close();
            }
        }
    } window{ui};
    ui.open(sjisText("検証中..."));
    ui.setStatusLine(level2 ? sjisText("データ読み込み中...")
                            : sjisText("チェックレベル１実行中..."));
    auto start = Clock::now();

    // The domain lists.
    verify::DomainChecker checker;
    if (options.listFolder.empty()) {
        checker.LoadProgramLists();
    } else {
        checker.LoadDomainLists(options.listFolder / verify::kAllowListFile,
                                options.listFolder / verify::kDenyListFile);
        checker.LoadRegionalList(options.listFolder / verify::kRegionalListFile);
    }

    const CheckLogStyle logStyle =
        options.databaseRows ? CheckLogStyle::DatabaseSend : CheckLogStyle::GroupSend;

    // Level 1.
    int ok = 0;
    int ng = 0;
    int checked = 0;
    long long shownSecond = -1;
    std::unordered_set<std::string> earlier;  // stored texts of earlier targets
    std::vector<Level2Entry> level2Entries;
    CheckEntry entry;
    while (checked < targetCount && source.next(entry)) {
        if (!entry.target) {
            continue;
        }
        ++checked;
        source.setStatus(entry.key, addressbook::kStatusNormal);
        if (!level2) {
            ui.setStatusLine(
                sjisFormat("{}人中 {}人目のメールアドレスを検証中です。", targetCount, checked));
            ui.setAddressLine(entry.stored);
        }
        // Every address the envelope would send to is checked, not only the first.
        const verify::DomainChecker::FieldResult field =
            checker.CheckAddressField(entry.stored, check.AllowDomain != 0);
        std::string extracted;
        for (const std::string& a : field.addresses) {
            extracted += (extracted.empty() ? "" : ",") + a;
        }
        if (!level2) {
            ui.setAddressLine(sjisFormat("E-Mailアドレス : {}", logText(extracted)));
        }
        RecipientResult result{entry.position, entry.stored, RecipientOutcome::kFailed,
                               addressbook::kStatusDuplicate, verify::kDuplicateAddress};
        if (!options.databaseRows && !earlier.insert(entry.stored).second) {
            log.addressFailed(entry.position, verify::kDuplicateAddress,
                              resultMessage(verify::kDuplicateAddress), extracted);
            source.setStatus(entry.key, addressbook::kStatusDuplicate);
            ++ng;
        } else if (field.code != 0) {
            log.addressFailed(entry.position, field.code, resultMessage(field.code), entry.stored);
            source.setStatus(entry.key, addressbook::kStatusInvalid);
            result.status = addressbook::kStatusInvalid;
            result.code = field.code;
            ++ng;
        } else {
            ++ok;
            if (level2) {
                // One entry per address; the record passes when all of them do.
                for (const std::string& a : field.addresses) {
                    level2Entries.push_back(makeLevel2Entry(entry, a));
                }
            } else if (okLines) {
                log.addressPassed(entry.position, extracted);
            }
            result.outcome = RecipientOutcome::kPassed;
            result.status = addressbook::kStatusNormal;
            result.code = 0;
        }
        // At level 2 a pass is only known once the DNS has answered.
        if (result.outcome == RecipientOutcome::kFailed || !level2) {
            ui.recipientDone(result);
        }
        ui.progress(RunProgress{1, targetCount, checked, ok, ng, entry.position, entry.stored});
        if (ui.stopRequested()) {
            ui.clearStopRequest();
            if (ui.askStop()) {
                return errorNumber(SendError::Cancelled);
            }
        }
        if (!level2) {
            if (long long s = secondsSince(start); s != shownSecond) {
                shownSecond = s;
                ui.setTimeLine(sjisFormat("検証中( {} 経過) ", elapsedText(s)));
            }
            ui.setStatusLine(sjisFormat("{} 件 検証完了", checked));
        }
    }
    if (!level2) {
        ui.setTimeLine(sjisFormat("検証完了( {} ) ", elapsedText(secondsSince(start))));
    }
    log.levelEnd(1, ok, ng, logStyle);

    auto finished = [&](int okTotal, int ngTotal) {
        window.finished = true;
        ui.setTitle(sjisText("検証完了"));
        ui.setAddressLine(sjisFormat("結果 [OK:{}件 NG:{}件]", okTotal, ngTotal));
        ui.finish(logName,
                  std::string(settings.LogOpenExeName,
                              strnlen(settings.LogOpenExeName, sizeof settings.LogOpenExeName)));
        return 0;
    };

    // Level 1 was the last level, or nothing is left for level 2.
    if (!level2 || level2Entries.empty()) {
        log.close();
        return finished(ok, ng);
    }

    // Level 2.
    log.levelStart(2);
    const AccountSettings& account = settings.defaultAccount;
    auto dialled = dialIfNeeded(account, options.loadDialUp);
    if (!dialled) {
        return errorNumber(SendError::DialUp);
    }
    std::unique_ptr<DialUpConnection> dialUp = std::move(*dialled);
    ui.setStatusLine(sjisText("チェックレベル２実行中..."));
    start = Clock::now();
    shownSecond = -1;

    std::vector<MXVerifyItem> items(level2Entries.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::memset(&items[i], 0, sizeof items[i]);
        items[i].localPart = level2Entries[i].localPart.c_str();
        items[i].domain = level2Entries[i].domain.c_str();
    }
    MXVerifyWSAStartup();
    MXVerifyParam param;
    std::memset(&param, 0, sizeof param);
    const std::uint32_t dns = check.DNSAddress;
    param.server = MXVerifyInet_addr(fmt::format("{}.{}.{}.{}", (dns >> 24) & 0xFF,
                                                 (dns >> 16) & 0xFF, (dns >> 8) & 0xFF, dns & 0xFF)
                                         .c_str());
    param.reserved = 1;
    param.count = static_cast<std::int32_t>(items.size());
    param.items = items.data();
    const int count = param.count;
    bool cancelled = false;
    if (MXVerify(&param) == 1) {
        ui.setRange(count);
        std::int32_t okCount = 0;
        std::int32_t ngCount = 0;
        while (MXVerifyGetCounts(&param, &okCount, &ngCount) == 1 && okCount + ngCount < count) {
            if (long long s = secondsSince(start); s != shownSecond) {
                shownSecond = s;
                ui.setTimeLine(sjisFormat("検証中( {} 経過) ", elapsedText(s)));
            }
            ui.setPosition(okCount + ngCount);
            ui.setStatusLine(sjisFormat("{} / {} 件 検証完了", okCount + ngCount, targetCount));
            ui.progress(RunProgress{2, count, okCount + ngCount, okCount, ng + ngCount, 0, {}});
            if (ui.waitForStop(std::chrono::milliseconds(10))) {
                ui.clearStopRequest();
                if (ui.askStop()) {
                    // The resolver ends at once; what it has not decided stays
                    // unchecked rather than being called a DNS failure.
                    MXVerifyStop(&param);
                    cancelled = true;
                    break;
                }
            }
        }
        ui.setPosition(count);
        MXVerifyWait(&param);
    }
    // A record with several addresses has an entry for each, one after the
    // other: it fails when one of them fails, and passes when all of them pass.
    int okTotal = 0;
    int ngTotal = ng;
    for (std::size_t first = 0; first < items.size();) {
        std::size_t end = first;
        int failedCode = 0;
        bool undecided = false;
        std::string passed;
        for (; end < items.size() && level2Entries[end].key == level2Entries[first].key; ++end) {
            const Level2Entry& e = level2Entries[end];
            const int code = items[end].result;
            if (cancelled && code == MXVERIFY_RESULT_UNDECIDED) {
                undecided = true;
            } else if (code < 0) {
                log.addressFailed(e.position, code, resultMessage(code), e.extracted);
                failedCode = failedCode != 0 ? failedCode : code;
            }
            passed += (passed.empty() ? "" : ",") + e.extracted;
        }
        const Level2Entry& record = level2Entries[first];
        first = end;
        if (failedCode != 0) {
            source.setStatus(record.key, addressbook::kStatusDnsError);
            ui.recipientDone({record.position, record.stored, RecipientOutcome::kFailed,
                              addressbook::kStatusDnsError, failedCode});
            ++ngTotal;
        } else if (undecided) {
            // Cancelled before the DNS decided: left unchecked, not called failed.
            continue;
        } else {
            if (okLines) {
                log.addressPassed(record.position, passed);
            }
            ui.recipientDone({record.position, record.stored, RecipientOutcome::kPassed,
                              addressbook::kStatusNormal, 0});
            ++okTotal;
        }
    }
    log.levelEnd(2, okTotal, ngTotal, logStyle);
    log.close();
    if (dialUp && dialUp->connected() && account.dialUp.AutoCut == 1) {
        dialUp->hangUp();
    }
    ui.setTimeLine(sjisFormat("検証完了( {} ) ", elapsedText(secondsSince(start))));
    if (cancelled) {
        return 0;
    }
    return finished(okTotal, ngTotal);
}

}  // namespace tarn::driver
