// The send and check jobs in-process, as a window drives them: the run on the
// job's worker thread, everything shown and asked on the caller's thread, a
// stop seen within 100 ms, statuses in the document only after the run.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "addressbook/list_view_state.h"
#include "driver/book_sources.h"
#include "driver/check_job.h"
#include "driver/send_job.h"
#include "scripted_doubles.h"
#include "send_fixture.h"

using namespace tarn;
using namespace tarn::driver;
using namespace tarn::test;
using tarn::driver::doubles::ScriptedProgress;
using tarn::driver::doubles::ScriptedRecipients;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

namespace {

// The caller's thread of a window: sleeps until the job wakes it, then
// dispatches; `idle` runs between wake-ups (at least every 5 ms).
class WakeLoop {
public:
    Job::Wake wake() {
        return [this] {
            std::lock_guard lock(m_mutex);
            m_woken = true;
            m_cv.notify_all();
        };
    }
    SteadyClock::time_point run(Job& job, ScriptedProgress& ui,
                                const std::function<void()>& idle = {}) {
        const auto limit = SteadyClock::now() + std::chrono::seconds(60);
        while (!job.dispatch(ui)) {
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait_for(lock, Ms(5), [this] { return m_woken; });
                m_woken = false;
            }
            if (idle) {
                idle();
            }
            if (SteadyClock::now() > limit) {
                ADD_FAILURE() << "the job did not end within 60 s";
                job.requestStop();
            }
        }
        EXPECT_TRUE(ui.faults.empty()) << testing::PrintToString(ui.faults);
        return SteadyClock::now();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_woken = false;
};

long long msBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
    return std::chrono::duration_cast<Ms>(b - a).count();
}

// The book as a window has it open, with a list showing every record.
struct OpenBook {
    explicit OpenBook(const RunFixture& fx) : doc(fx.readBook()), view(doc) {}
    addressbook::CTarnSendDoc doc;
    addressbook::ListViewState view;
};

SendJob::Setup sendSetup(RunFixture& fx) {
    SendJob::Setup setup;
    setup.settings = fx.settings();
    setup.contentsPath = sj(fx.path("message.tnm").string());
    setup.options.recipientSourceName = sj(fx.path("book.tn2").string());
    setup.options.smtpAuthFile = fx.path("no-SMTPAuth.txt");
    return setup;
}

contents::SendContents plainMessage() {
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = "body\r\n";
    return c;
}

}  // namespace

TEST(SendJob, PreviewIsTheMessageTheRunSendsAndStatusesWaitForTheEnd) {
    RunFixture fx;
    fx.startRecorder({"--refuse", "refused@example.jp"});
    std::string company;
    for (int i = 0; i < 150; ++i) {
        company += "あ";  // 300 bytes in Shift_JIS: a script sees 254 of them
    }
    fx.writeBook({
        {"飛ばす会社", "", "", "飛ばし", "skip@example.jp", "様", {"", "skip"}},
        {company, "", "", "長田 一", "long@example.jp", "様", {}},
        {"無効", "", "", "無効", "invalid@example.jp", "様", {}, 2},
        {"断る会社", "", "", "断田", "refused@example.jp", "様", {}},
        {"普通商事", "", "", "普通 太郎", "plain@example.jp", "様", {}},
    });
    contents::SendContents c;
    c.subject = sj("&[会社名]様へ");
    c.body =
        contents::normaliseBodyLineEnds(sj("#If &[Freefield2] = \"skip\" Then\n"
                                           "#Exit Sub\n"
                                           "#End If\n"
                                           "#c = &[会社名]\n"
                                           "#Print c\n"
                                           "&[名前] &[敬称]\n"));
    fx.writeContents(c);
    fx.settings().ScriptUse = 1;

    OpenBook book(fx);
    addressbook::CTarnSendDoc& doc = book.doc;
    SendJob::Setup setup = sendSetup(fx);
    setup.book.path = fx.path("book.tn2");
    SendJob job(std::make_unique<BookRecipients>(doc, book.view), setup);
    ASSERT_FALSE(job.prepare().has_value());
    const SendConfirmation& confirmation = job.confirmation();
    EXPECT_EQ(confirmation.recipients, 4);
    EXPECT_EQ(utf8(confirmation.sender), "ターノス 試験 <sender@example.com>");
    EXPECT_EQ(utf8(confirmation.subject), "&[会社名]様へ");
    // The first eligible recipient's script writes nothing: the preview is the
    // second one's message, with the script's value cut and the merge's not.
    ASSERT_EQ(confirmation.preview.state, SendPreview::State::kMessage);
    EXPECT_EQ(confirmation.preview.position, 2);
    std::string cut;
    for (int i = 0; i < 127; ++i) {
        cut += "あ";
    }
    EXPECT_EQ(utf8(confirmation.preview.body), cut + "\r\n長田 一 様\r\n");
    EXPECT_EQ(utf8(confirmation.preview.subject), company + "様へ");

    ScriptedProgress ui;
    // While the run is on, the document still has the statuses it had and
    // refuses edits; a second run cannot take it either.
    int refusedEdits = 0;
    ui.onResult = [&](const RecipientResult& r) {
        const auto& record = doc.record(static_cast<std::size_t>(r.position - 1));
        EXPECT_EQ(record.status(), 0) << "a status reached the document during the run";
        const addressbook::StatusUpdate edit{&record, addressbook::kStatusInvalid};
        auto refused = doc.setStatuses(std::span(&edit, 1));
        EXPECT_FALSE(refused.ok());
        if (!refused.ok()) {
            EXPECT_EQ(refused.error().message, addressbook::kRunInProgressText);
            ++refusedEdits;
        }
        SendJob second(std::make_unique<BookRecipients>(doc, book.view), sendSetup(fx));
        EXPECT_FALSE(second.start().ok());
        // Nor can a run on the same file opened elsewhere (another window, tarn).
        OpenBook elsewhere(fx);
        SendJob third(std::make_unique<BookRecipients>(elsewhere.doc, elsewhere.view), setup);
        const Status refusedRun = third.start();
        ASSERT_FALSE(refusedRun.ok());
        EXPECT_NE(
            refusedRun.error().message.find("は別の送信、チェックまたはインポートが使用中です"),
            std::string::npos)
            << refusedRun.error().message;
    };
    WakeLoop loop;
    ASSERT_TRUE(job.start(loop.wake()).ok());
    loop.run(job, ui);
    ASSERT_EQ(job.result(), 0) << testing::PrintToString(ui.events);

    // What the preview showed is what the recipient got.
    ASSERT_EQ(fx.recordedCount(), 2);
    Decoded first = fx.decode(1);
    EXPECT_EQ(first.to, "long@example.jp");
    EXPECT_EQ(first.subject, utf8(confirmation.preview.subject));
    // (The composer ends a single-part body with blank lines of its own.)
    std::string previewBody = utf8(confirmation.preview.body);
    std::erase(previewBody, '\r');
    std::string sentBody = first.body;
    while (sentBody.ends_with("\n\n")) {
        sentBody.pop_back();
    }
    EXPECT_EQ(sentBody, previewBody);

    // Each recipient's result, in walk order, and the counts at the end.
    ASSERT_EQ(ui.results.size(), 4u);
    EXPECT_EQ(ui.results[0].outcome, RecipientOutcome::kSkipped);
    EXPECT_EQ(ui.results[1].outcome, RecipientOutcome::kSent);
    EXPECT_EQ(ui.results[2].outcome, RecipientOutcome::kRefused);
    EXPECT_EQ(ui.results[2].position, 4);
    EXPECT_EQ(ui.results[2].status, 4);
    EXPECT_EQ(ui.results[3].outcome, RecipientOutcome::kSent);
    ASSERT_FALSE(ui.progressSeen.empty());
    const RunProgress& last = ui.progressSeen.back();
    EXPECT_EQ(last.total, 4);
    EXPECT_EQ(last.done, 4);
    EXPECT_EQ(last.ok, 2);
    EXPECT_EQ(last.ng, 1);
    EXPECT_TRUE(ui.saw("open 接続中..."));
    EXPECT_TRUE(ui.saw("finish " + fx.path("send.log").string()));
    EXPECT_FALSE(ui.saw("close")) << "the finished window is closed by the person";

    EXPECT_EQ(refusedEdits, 4);
    EXPECT_TRUE(FileLock::tryLock(fx.path("book.tn2")).held()) << "the run let its lock go";
    // The refused recipient is marked only now, on this thread; edits are
    // taken again.
    EXPECT_EQ(doc.record(3).status(), 4);
    EXPECT_FALSE(doc.runInProgress());
    EXPECT_EQ(doc.record(0).status(), 0);
    EXPECT_EQ(doc.record(2).status(), 2);
    EXPECT_TRUE(doc.isModified());
}

// The pacing rules are the driver's own: with a wait every second message the
// session is closed and opened again after the second and the fourth, the
// wait shown on the status line, and every message still reaches the server.
TEST(SendJob, WaitCountTwoClosesAndReopensTheSessionAfterTheSecondAndFourth) {
    RunFixture fx;
    fx.startRecorder();
    std::vector<ScriptedRecipients::Entry> entries;
    for (int i = 1; i <= 5; ++i) {
        ScriptedRecipients::Entry e{"user" + std::to_string(i) + "@example.com"};
        e.values[3] = sj("宛先" + std::to_string(i));  // 名前
        e.values[4] = sj("様");                        // 敬称
        entries.push_back(std::move(e));
    }
    // An entry that is not eligible is walked past without a message.
    entries.insert(entries.begin() + 2, {"hidden@example.com", false});
    contents::SendContents c;
    c.subject = sj("お知らせ");
    c.body = sj("&[名前]&[敬称]\r\n本文です。\r\n");
    fx.writeContents(c);
    fx.settings().WaitCount = 2;
    fx.settings().WaitSec = 1;

    auto recipients = std::make_unique<ScriptedRecipients>(std::move(entries));
    const auto log = recipients->log;
    SendJob job(std::move(recipients), sendSetup(fx));
    ASSERT_FALSE(job.prepare().has_value());
    EXPECT_EQ(job.confirmation().recipients, 5);
    ScriptedProgress ui;
    WakeLoop loop;
    ASSERT_TRUE(job.start(loop.wake()).ok());
    loop.run(job, ui);
    ASSERT_EQ(job.result(), 0) << testing::PrintToString(ui.events);

    ASSERT_EQ(fx.recordedCount(), 5);
    auto connection = [&](int n) {
        std::string e = fx.envelope(n);
        auto at = e.find("\"connection\": ");
        return std::atoi(e.c_str() + at + 14);
    };
    const int c1 = connection(1);
    EXPECT_EQ(connection(2), c1);
    EXPECT_EQ(connection(3), c1 + 1);
    EXPECT_EQ(connection(4), c1 + 1);
    EXPECT_EQ(connection(5), c1 + 2);
    EXPECT_EQ(fx.decode(3).to, "user3@example.com");
    EXPECT_EQ(ui.events.end(), std::find_if(ui.events.begin(), ui.events.end(), [](auto& e) {
                  return e.find("hidden@") != std::string::npos;
              }));
    const auto waits =
        std::count(ui.events.begin(), ui.events.end(), "status 1 秒ウエイト中(2 件ごと)");
    EXPECT_EQ(waits, 2) << testing::PrintToString(ui.events);
    EXPECT_EQ(log->accepted, (std::vector<std::string>{"user1@example.com", "user2@example.com",
                                                       "user3@example.com", "user4@example.com",
                                                       "user5@example.com"}));
    EXPECT_TRUE(log->refused.empty());
    EXPECT_EQ(log->walked.size(), 6u);
    EXPECT_TRUE(log->committed);
}

TEST(SendJob, AStopIsAskedWithin100MsAndYesEndsTheRunWithin100Ms) {
    RunFixture fx;
    fx.startRecorder();
    std::vector<BookRow> rows;
    for (int i = 1; i <= 6; ++i) {
        rows.push_back(
            {"会社", "", "", "宛先", "user" + std::to_string(i) + "@example.jp", "様", {}});
    }
    fx.writeBook(rows);
    fx.writeContents(plainMessage());
    // The engine rests this long after each accepted message: the stops below
    // come while it rests, and the rest must not hold them up.
    fx.settings().WaitMSec = 1500;

    OpenBook book(fx);
    addressbook::CTarnSendDoc& doc = book.doc;
    SendJob job(std::make_unique<BookRecipients>(doc, book.view), sendSetup(fx));
    ASSERT_FALSE(job.prepare().has_value());
    ScriptedProgress ui;
    ui.answers = {false, true};  // go on after the first stop, end after the second
    WakeLoop loop;
    std::vector<SteadyClock::time_point> requested;
    ASSERT_TRUE(job.start(loop.wake()).ok());
    const auto ended = loop.run(job, ui, [&] {
        // A stop when the first message is in, and again when the second is.
        const std::size_t stops = requested.size();
        if (stops < 2 && fx.recordedCount() > static_cast<int>(stops)) {
            requested.push_back(SteadyClock::now());
            job.requestStop();
        }
    });
    EXPECT_EQ(job.result(), errorNumber(SendError::Cancelled));
    ASSERT_EQ(requested.size(), 2u);
    ASSERT_EQ(ui.askedAt.size(), 2u) << testing::PrintToString(ui.events);
    EXPECT_LT(msBetween(requested[0], ui.askedAt[0]), 100);
    EXPECT_LT(msBetween(requested[1], ui.askedAt[1]), 100);
    EXPECT_LT(msBetween(ui.askedAt[1], ended), 100);

    // Both messages had been accepted before the stops: they count as sent,
    // the second went out on a new connection, nothing else was sent.
    EXPECT_EQ(fx.recordedCount(), 2);
    auto connection = [&](int n) {
        std::string e = fx.envelope(n);
        return std::atoi(e.c_str() + e.find("\"connection\": ") + 14);
    };
    EXPECT_EQ(connection(2), connection(1) + 1);
    ASSERT_EQ(ui.results.size(), 2u);
    EXPECT_EQ(ui.results[0].outcome, RecipientOutcome::kSent);
    EXPECT_EQ(ui.results[1].outcome, RecipientOutcome::kSent);
    EXPECT_TRUE(ui.saw("close"));
    EXPECT_TRUE(ui.saw("error ターノス - エラー  (№508) キャンセルボタンが選択されました。"));
    const std::string log = maskedLog(fx.path("send.log"));
    EXPECT_NE(log.find("結果 [OK:2件 NG:0件]\n\n"), std::string::npos) << log;
    EXPECT_FALSE(doc.isModified());
}

TEST(SendJob, AStopWhileTheServerIsSilentEndsTheRunWithin100Ms) {
    // A server that takes the connection and never greets.
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);

    RunFixture fx;
    fx.writeBook({{"会社", "", "", "宛先", "user@example.jp", "様", {}}});
    fx.writeContents(plainMessage());
    fx.settings().defaultAccount.PortNo = ntohs(a.sin_port);
    OpenBook book(fx);
    addressbook::CTarnSendDoc& doc = book.doc;
    SendJob job(std::make_unique<BookRecipients>(doc, book.view), sendSetup(fx));
    ASSERT_FALSE(job.prepare().has_value());
    ScriptedProgress ui;
    ui.answers = {true};
    WakeLoop loop;
    SteadyClock::time_point requested{};
    ASSERT_TRUE(job.start(loop.wake()).ok());
    const auto ended = loop.run(job, ui, [&] {
        if (requested == SteadyClock::time_point{} && ui.saw("open 接続中...")) {
            std::this_thread::sleep_for(Ms(200));  // well into the wait for the greeting
            requested = SteadyClock::now();
            job.requestStop();
        }
    });
    ::close(listener);
    EXPECT_EQ(job.result(), errorNumber(SendError::Cancelled));
    EXPECT_LT(msBetween(requested, ended), 100);
    EXPECT_TRUE(ui.saw("close"));
}

TEST(CheckJob, LevelTwoStoppedAgainstASilentDnsServerEndsWithin100Ms) {
    // A DNS server that reads nothing and answers nothing.
    int dns = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(dns, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(dns, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(dns, reinterpret_cast<sockaddr*>(&a), &len);
    ::setenv("TARN_DNS_PORT", std::to_string(ntohs(a.sin_port)).c_str(), 1);
    auto queried = [dns] {
        pollfd p{dns, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    };

    RunFixture fx;
    fx.writeBook({
        {"一", "", "", "", "a@one.example.jp", "様", {}, 3},  // DNS failure of an earlier check
        {"二", "", "", "", "no space@two.example.jp", "様", {}},
        {"三", "", "", "", "b@three.example.jp", "様", {}},
        {"四", "", "", "", "a@one.example.jp", "様", {}},  // duplicate of the first
    });
    fx.settings().check.CheckMode = 1;
    fx.settings().check.DNSAddress = 0x7F000001;  // 127.0.0.1
    OpenBook book(fx);
    addressbook::CTarnSendDoc& doc = book.doc;
    CheckJob::Setup setup;
    setup.settings = fx.settings();
    setup.options.documentTitle = "book.tn2";
    CheckJob job(std::make_unique<BookCheckSource>(doc, book.view), setup);
    ASSERT_FALSE(job.prepare().has_value());
    EXPECT_EQ(utf8(job.question()), "4件チェックを行います。\nよろしいですか？");

    ScriptedProgress ui;
    ui.answers = {true};
    WakeLoop loop;
    SteadyClock::time_point requested{};
    ASSERT_TRUE(job.start(loop.wake()).ok());
    const auto ended = loop.run(job, ui, [&] {
        if (requested == SteadyClock::time_point{} && queried()) {
            requested = SteadyClock::now();
            job.requestStop();
        }
    });
    ::unsetenv("TARN_DNS_PORT");
    ::close(dns);
    EXPECT_EQ(job.result(), 0);
    ASSERT_EQ(ui.askedAt.size(), 1u);
    EXPECT_LT(msBetween(requested, ended), 100);
    EXPECT_TRUE(ui.saw("close"));

    // Level 1's findings are kept; what DNS never answered is not called a
    // DNS failure (the earlier 3 is cleared by the check's start, as always).
    EXPECT_EQ(doc.record(0).status(), 0);
    EXPECT_EQ(doc.record(1).status(), 2);
    EXPECT_EQ(doc.record(2).status(), 0);
    EXPECT_EQ(doc.record(3).status(), 1);
    const std::string log = maskedLog(fx.path("check.log"));
    EXPECT_EQ(log.find("\"NG\",\"-1:"), std::string::npos) << log;
    EXPECT_NE(log.find("--- 検証レベル 2 完了 [OK:0件 NG:2件] [TS] ---\n\n"), std::string::npos)
        << log;
}

namespace {

// A job whose worker body the test writes.
class BodyJob : public Job {
public:
    explicit BodyJob(bool& committed) : m_committed(committed) {}
    ~BodyJob() override { stopAndWait(); }
    void start(std::function<int(JobChannel&)> body, Wake wake = {}) {
        startWorker(std::move(body), std::move(wake));
    }

private:
    void commit() override { m_committed = true; }
    bool& m_committed;
};

}  // namespace

TEST(Job, ABusyWorkerCannotFloodTheWindowAndOrderIsKept) {
    bool committed = false;
    BodyJob job(committed);
    std::atomic<bool> done{false};
    job.start([&](JobChannel& ch) {
        for (int i = 0; i < 100000; ++i) {
            ch.setPosition(i);
        }
        ch.setStatusLine("middle");
        for (int i = 0; i < 100000; ++i) {
            ch.setPosition(i);
        }
        done = true;
        return 7;
    });
    ASSERT_TRUE(waitUntil([&] { return done.load(); }));

    struct Counting : ScriptedProgress {
        void setPosition(std::int64_t p) override { events.push_back("pos " + std::to_string(p)); }
    } ui;
    EXPECT_EQ(job.runToEnd(ui), 7);
    EXPECT_EQ(ui.events, (std::vector<std::string>{"pos 99999", "status middle", "pos 99999"}));
    EXPECT_TRUE(committed);
}

TEST(Job, DestroyingARunningJobAnswersItsQuestionsAndCommits) {
    std::atomic<bool> asked{false};
    std::atomic<bool> answeredYes{false};
    std::atomic<bool> callRan{false};
    std::atomic<bool> callReturned{true};
    bool committed = false;
    {
        auto job = std::make_unique<BodyJob>(committed);
        job->start([&](JobChannel& ch) {
            asked = true;
            answeredYes = ch.askStop();  // nobody dispatches: only the abandon answers
            callReturned = ch.callOnCallerThread([&] { callRan = true; });
            return errorNumber(SendError::Cancelled);
        });
        ASSERT_TRUE(waitUntil([&] { return asked.load(); }));
        const auto before = SteadyClock::now();
        job.reset();
        EXPECT_LT(msBetween(before, SteadyClock::now()), 1000);
    }
    EXPECT_TRUE(committed);
    EXPECT_TRUE(answeredYes);
    EXPECT_FALSE(callRan);
    EXPECT_FALSE(callReturned);
}
