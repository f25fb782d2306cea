// The send journal: an append-only file beside the recipients' file that
// records, per recipient, that its message is about to be handed to the
// server and what became of it. A run cut short by a crash, kill -9 or a power
// cut leaves it behind; the next send reads it and goes on from where the run
// stopped without sending anyone a second message.
//
// Lines (Shift_JIS, LF-terminated; fields separated by one space; the address
// and reply percent-escaped so that neither holds a space or a line break):
//   "TARNJOURNAL 1"              first line
//   "B <pos> <address>"          the message is about to be committed
//   "A <pos> <address> <reply>"  accepted, with the server's reply
//   "R <pos> <address> <code> <reply>"  refused: the reply code (0: no reply)
// <pos> is the recipient's position in the walk. A "B" without an outcome is
// "uncertain": the server may or may not have taken the message.
//
// Durability: every "B" is written and fdatasync'd before the engine starts
// the message's transaction, so the record of a commit always reaches the disk
// before the final "." can. Outcomes are written without a sync of their own;
// the next "B" (or the end of the run) syncs them along, so after a power cut
// at most the one message in flight is uncertain. A kill -9 loses nothing that
// write() returned for: the kernel holds it.
#pragma once

#include <compare>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
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
// damaged and skipped. Bounded: lines over 4 KiB are damaged.
JournalContents parseJournal(std::string_view bytes);
// Reads the journal at `path` (at most 256 MiB). An error when it cannot be
// read or does not start with the journal's first line.
Result<JournalContents> readJournal(const std::filesystem::path& path);

// The journal of the recipients kept in `recipientsFile`: "<file>.journal".
std::filesystem::path journalPathFor(const std::filesystem::path& recipientsFile);

// Appends to a journal. Not thread-safe: the run's worker is its one user.
class JournalWriter {
public:
    // Opens (creating, with its first line, when missing) for appending.
    static Result<std::unique_ptr<JournalWriter>> open(const std::filesystem::path& path);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    // False when the line could not be written (or synced, for begin and sync).
    bool begin(const JournalKey& key);
    bool accepted(const JournalKey& key, std::string_view reply);
    bool refused(const JournalKey& key, int code, std::string_view reply);
    bool sync();

private:
    explicit JournalWriter(int fd) : m_fd(fd) {}
    bool append(const std::string& line);
    int m_fd;
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
    Status beginRun() override { return m_inner->beginRun(); }
    bool next(Recipient& recipient) override;
    void markSendFailed() override { m_inner->markSendFailed(); }
    bool messageCommitting() override;
    void messageAccepted(std::string_view reply) override;
    void messageRefused(int code, std::string_view reply) override;
    // Refusals the earlier run recorded after the last recipient this run sent to.
    void finishWalk() override;
    void commit() override { m_inner->commit(); }

private:
    // Whether the earlier run settled this recipient (it is then left out).
    bool settled(const Recipient& r) const;

    std::unique_ptr<RecipientSource> m_inner;
    JournalContents m_earlier;
    bool m_sendUncertain;
    JournalWriter* m_writer = nullptr;
    JournalKey m_current;
};

}  // namespace tarn::driver
