// The send journal: an append-only file beside the recipients' file that
// records, per recipient, that its message is about to be handed to the
// server and what became of it. A run cut short by a crash, kill -9 or a power
// cut leaves it behind; the next send reads it and goes on from where the run
// stopped without sending anyone a second message.
//
// Lines (Shift_JIS, LF-terminated; fields separated by one space; the address
// and reply percent-escaped so that neither holds a space or a line break):
//   "TARNJOURNAL 1"              first line
//   "S <boot>"                   a writer opened the file, on the boot <boot>
//   "B <pos> <address>"          the message's transaction begins
//   "C <pos> <address>"          its final "." goes out now
//   "A <pos> <address> <reply>"  accepted, with the server's reply
//   "R <pos> <address> <code> <reply>"  refused: the reply code (0: no reply)
//   "D <pos> <address> <code> <reply>"  deferred: not taken this time, not
//                                       refused for good either
// <pos> is the recipient's position in the walk of the run that wrote the
// line. A later run may walk the recipients in another order (a re-sorted or
// edited book, another view): it matches the lines to its recipients by
// position and address where both agree, and the rest by address, in walk
// order (JournalledRecipients). A begun message without an
// outcome is "uncertain" (the server may or may not have taken it) unless the
// journal proves that its "." never went out: no "C" line, and the machine has
// not restarted since (a "C" that write() took cannot be lost without a
// restart, so its absence then is proof).
//
// Durability: the "B" line is written when the transaction begins and its
// fdatasync runs on the writer's own thread meanwhile, overlapping the
// envelope's round trips and the content; the engine's commit hook waits for
// it before it lets the "." go out, and then writes the "C" line without a
// sync. So the record that a message may have been taken is on disk before
// the server can take it, and the previous message's outcome (written before
// this "B") with it: after a power cut at most the one message in flight is
// uncertain; after a kill -9 only one whose "." had gone out.
#pragma once

#include <compare>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/result.h"
#include "driver/send_driver.h"

namespace tarn::driver {

struct JournalKey {
    int position = 0;
    std::string address;
    auto operator<=>(const JournalKey&) const =
        default;  // NOLINT(modernize-use-nullptr): tidy 14 misreads <=>
};

enum class JournalOutcome { kUncertain, kAccepted, kRefused };

struct JournalEntry {
    JournalOutcome outcome = JournalOutcome::kUncertain;
    int code = 0;       // a refusal's reply code
    std::string reply;  // the server's reply line (Shift_JIS), when recorded
};

// What an earlier run's journal says.
struct JournalContents {
    std::map<JournalKey, JournalEntry> entries;
    int damagedLines = 0;  // lines that could not be read (a torn last line among them)

    int count(JournalOutcome outcome) const;
    // The uncertain recipients' addresses, in walk order.
    std::vector<std::string> uncertainAddresses() const;
};

// Reads journal bytes; anything that is not a journal line is counted as
// damaged and skipped. Bounded: lines over 4 KiB are damaged. `bootId` is the
// running system's boot (currentBootId()); empty trusts no missing "C".
JournalContents parseJournal(std::string_view bytes, std::string_view bootId = {});
// Reads the journal at `path` (at most 256 MiB). An error when it cannot be
// read or does not start with the journal's first line.
Result<JournalContents> readJournal(const std::filesystem::path& path);

// The identity of the running boot of the system (empty when unknown).
std::string currentBootId();

// The journal of the recipients kept in `recipientsFile`: "<file>.journal".
std::filesystem::path journalPathFor(const std::filesystem::path& recipientsFile);

// Appends to a journal. One user at a time (the run's worker, and the
// engine's thread inside the commit hook while the worker waits); the
// fdatasync of a begun message runs on the writer's own thread.
class JournalWriter {
public:
    // Opens (creating, with its first line, when missing) for appending, and
    // records the boot it is written on.
    static Result<std::unique_ptr<JournalWriter>> open(const std::filesystem::path& path);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // The transaction begins: the "B" line, whose sync starts in the
    // background. False when it could not be written.
    bool begin(const JournalKey& key);
    // Just before the final ".": waits for the sync begin() started, then the
    // "C" line. False when either failed; the "." must not go out then.
    bool committing(const JournalKey& key);
    bool accepted(const JournalKey& key, std::string_view reply);
    bool refused(const JournalKey& key, int code, std::string_view reply);
    bool deferred(const JournalKey& key, int code, std::string_view reply);
    // Everything written so far on disk.
    bool sync();

private:
    explicit JournalWriter(int fd);
    bool append(const std::string& line);
    // The background sync: requested by begin(), awaited by committing().
    void requestSync();
    bool awaitSync();
    void syncLoop();

    int m_fd;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::uint64_t m_requested = 0;  // syncs asked for
    std::uint64_t m_done = 0;       // syncs finished (covering request m_done)
    bool m_syncFailed = false;
    bool m_quit = false;
    std::thread m_syncer;
};

// "前回の送信は中断されています。…" and the question about the uncertain
// recipients, asked on the caller's thread before the confirmation: the
// terminal of `tarn send` and the windows implement it.
class ResumeUi {
public:
    virtual ~ResumeUi() = default;
    // `text` (Shift_JIS) tells what the earlier run did; true continues from
    // where it stopped, false cancels the send.
    virtual bool askResume(std::string_view title, std::string_view text) = 0;
    // `text` asks whether the uncertain recipients get their message again;
    // `addresses` lists them. False (the safe answer) leaves them out.
    virtual bool askSendUncertain(std::string_view title, std::string_view text,
                                  const std::vector<std::string>& addresses) = 0;
};

// The question's texts (Shift_JIS).
std::string interruptedRunText(const JournalContents& journal);
std::string uncertainQuestionText(const JournalContents& journal);

// The recipients of a run with a journal: what the earlier run settled is
// left out (accepted ones are never sent again, refused ones get their
// status, uncertain ones only on request), and what this run does is
// appended to the journal.
class JournalledRecipients : public RecipientSource {
public:
    JournalledRecipients(std::unique_ptr<RecipientSource> inner, JournalContents earlier,
                         bool sendUncertain);

    // Whether there is an earlier run to go on from.
    bool resumes() const { return !m_earlier.entries.empty(); }
    // Worker side: the journal to write into (opened when the run starts).
    void setWriter(JournalWriter* writer) { m_writer = writer; }

    int eligibleCount() override;
    void visitEligible(const std::function<bool(const Recipient&)>& visit) override;
    Status beginRun() override;
    bool next(Recipient& recipient) override;
    void markSendFailed() override { m_inner->markSendFailed(); }
    void markSent() override { m_inner->markSent(); }
    void revisit(const Recipient& recipient) override;
    bool messageStarting(const Recipient& recipient) override;
    bool messageCommitting(const Recipient& recipient) override;
    void messageAccepted(std::string_view reply) override;
    void messageRefused(int code, std::string_view reply) override;
    void messageDeferred(int code, std::string_view reply) override;
    // Refusals the earlier run recorded after the last recipient this run sent to.
    void finishWalk() override;
    void commit() override { m_inner->commit(); }

private:
    using Matches = std::map<int, JournalKey>;  // walk position -> earlier run's key
    // The earlier run's entries given to this walk's eligible recipients: the
    // same position and address first, then each address's remaining entries
    // to its remaining recipients in walk order. So a recipient the earlier
    // run settled is found however the walk has moved, and an address that
    // several records share is left out no more often than it was sent to.
    Matches matchWalk();
    // The earlier run's entry for `r`, or null.
    const JournalEntry* earlierEntry(const Matches& matches, const Recipient& r) const;
    // Whether the earlier run settled this recipient (it is then left out).
    bool settled(const Matches& matches, const Recipient& r) const;
    // The journal key of `r`: the earlier run's, when it had one.
    JournalKey keyOf(const Recipient& r) const;

    std::unique_ptr<RecipientSource> m_inner;
    JournalContents m_earlier;
    bool m_sendUncertain;
    JournalWriter* m_writer = nullptr;
    Matches m_matches;  // fixed by beginRun
    JournalKey m_current;
};

}  // namespace tarn::driver
