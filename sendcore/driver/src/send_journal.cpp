#include "driver/send_journal.h"

#include "percent_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>

#include "common/cp932.h"
#include "texts.h"

namespace tarn::driver {
namespace {

constexpr std::string_view kFirstLine = "TARNJOURNAL 1";
constexpr std::size_t kMaxLine = 4096;
constexpr std::uintmax_t kMaxFile = 256U << 20U;

using detail::percentEscaped;
using detail::percentUnescaped;

bool number(std::string_view text, int& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && value >= 0;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    while (!line.empty()) {
        const auto space = line.find(' ');
        out.push_back(line.substr(0, space));
        if (space == std::string_view::npos) {
            break;
        }
        line.remove_prefix(space + 1);
    }
    return out;
}

// What the reader keeps between lines.
struct ReadState {
    std::string_view bootId;  // the running boot; empty when unknown
    bool sameBoot = false;    // the lines since the last "S" were written on it
    // Begun messages whose "." has not been recorded, written on this boot.
    std::set<JournalKey> notSent;
};

// One record line into `journal`; false when it is not one.
bool readLine(std::string_view line, JournalContents& journal, ReadState& state) {
    const std::vector<std::string_view> f = fields(line);
    if (f.size() == 2 && f[0] == "S") {
        std::string boot;
        if (!percentUnescaped(f[1], boot)) {
            return false;
        }
        state.sameBoot = !state.bootId.empty() && boot == state.bootId;
        return true;
    }
    if (f.size() < 3 || f[0].size() != 1) {
        return false;
    }
    JournalKey key;
    if (!number(f[1], key.position) || !percentUnescaped(f[2], key.address)) {
        return false;
    }
    JournalEntry entry;
    switch (f[0][0]) {
        case 'B':
            if (f.size() != 3) {
                return false;
            }
            // A transaction begun never overrides an outcome already recorded,
            // nor an earlier attempt whose "." went out.
            if (journal.entries.try_emplace(key, entry).second) {
                if (state.sameBoot) {
                    state.notSent.insert(key);
                }
            } else if (!state.sameBoot) {
                state.notSent.erase(key);
            }
            return true;
        case 'C':
            if (f.size() != 3) {
                return false;
            }
            journal.entries.try_emplace(key, entry);
            state.notSent.erase(key);
            return true;
        case 'A':
            if (f.size() != 4 || !percentUnescaped(f[3], entry.reply)) {
                return false;
            }
            entry.outcome = JournalOutcome::kAccepted;
            break;
        case 'R':
            if (f.size() != 5 || !number(f[3], entry.code) ||
                !percentUnescaped(f[4], entry.reply)) {
                return false;
            }
            entry.outcome = JournalOutcome::kRefused;
            break;
        case 'D':
            if (f.size() != 5 || !number(f[3], entry.code) ||
                !percentUnescaped(f[4], entry.reply)) {
                return false;
            }
            // Not taken and not refused for good: as if never started, unless
            // an earlier attempt already settled it.
            if (auto it = journal.entries.find(key);
                it != journal.entries.end() && it->second.outcome == JournalOutcome::kUncertain) {
                journal.entries.erase(it);
            }
            state.notSent.erase(key);
            return true;
        default:
            return false;
    }
    state.notSent.erase(key);
    journal.entries.insert_or_assign(std::move(key), std::move(entry));
    return true;
}

std::string keyFields(const JournalKey& key) {
    return std::to_string(key.position) + ' ' + percentEscaped(key.address);
}

}  // namespace

int JournalContents::count(JournalOutcome outcome) const {
    int n = 0;
    for (const auto& [key, entry] : entries) {
        n += entry.outcome == outcome ? 1 : 0;
    }
    return n;
}

std::vector<std::string> JournalContents::uncertainAddresses() const {
    std::vector<std::string> out;
    for (const auto& [key, entry] : entries) {
        if (entry.outcome == JournalOutcome::kUncertain) {
            out.push_back(key.address);
        }
    }
    return out;
}

JournalContents parseJournal(std::string_view bytes, std::string_view bootId) {
    JournalContents journal;
    ReadState state;
    state.bootId = bootId;
    bool first = true;
    while (!bytes.empty()) {
        const auto lf = bytes.find('\n');
        // A line without its LF is the torn end of a write: damaged.
        const std::string_view line = bytes.substr(0, lf);
        bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
        const bool complete = lf != std::string_view::npos;
        if (first) {
            first = false;
            if (line == kFirstLine && complete) {
                continue;
            }
        }
        if (!complete || line.size() > kMaxLine || !readLine(line, journal, state)) {
            ++journal.damagedLines;
        }
    }
    // Begun on this boot with no "C": the "." never went out.
    for (const JournalKey& key : state.notSent) {
        journal.entries.erase(key);
    }
    return journal;
}

std::string currentBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    if (!std::getline(in, id) || id.size() > 64) {
        return {};
    }
    return id;
}

Result<JournalContents> readJournal(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        return makeError("送信記録ファイルを読めません: " + path.string());
    }
    if (size > kMaxFile) {
        return makeError("送信記録ファイルが大きすぎます: " + path.string());
    }
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
        return makeError("送信記録ファイルを読めません: " + path.string());
    }
    if (bytes.compare(0, kFirstLine.size() + 1, std::string(kFirstLine) + '\n') != 0) {
        return makeError("送信記録ファイルではありません: " + path.string());
    }
    return parseJournal(bytes, currentBootId());
}

std::filesystem::path journalPathFor(const std::filesystem::path& recipientsFile) {
    std::filesystem::path p = recipientsFile;
    p += ".journal";
    return p;
}

Result<std::unique_ptr<JournalWriter>> JournalWriter::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return makeError("送信記録ファイルを作成できません: " + path.string() + " (" +
                         std::strerror(errno) + ")");
    }
    std::unique_ptr<JournalWriter> writer(new JournalWriter(fd));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return makeError("送信記録ファイルを作成できません: " + path.string());
    }
    const bool created = st.st_size == 0;
    if ((created && !writer->append(std::string(kFirstLine) + '\n')) ||
        !writer->append("S " + percentEscaped(currentBootId()) + '\n') || !writer->sync()) {
        return makeError("送信記録ファイルに書き込めません: " + path.string());
    }
    if (created) {
        // A new journal: its name must survive a power cut too.
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return writer;
}

JournalWriter::JournalWriter(int fd) : m_fd(fd), m_syncer([this] { syncLoop(); }) {}

JournalWriter::~JournalWriter() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
    m_syncer.join();
    ::close(m_fd);
}

void JournalWriter::syncLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || m_requested > m_done; });
        if (m_requested == m_done) {
            return;  // quitting with nothing owed
        }
        // One sync covers every request made before it starts.
        const std::uint64_t target = m_requested;
        lock.unlock();
        const bool ok = ::fdatasync(m_fd) == 0;
        lock.lock();
        m_done = target;
        m_syncFailed = m_syncFailed || !ok;
        m_cv.notify_all();
    }
}

void JournalWriter::requestSync() {
    {
        std::lock_guard lock(m_mutex);
        ++m_requested;
    }
    m_cv.notify_all();
}

bool JournalWriter::awaitSync() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_requested;
    m_cv.wait(lock, [&] { return m_done >= target; });
    return !m_syncFailed;
}

bool JournalWriter::append(const std::string& line) {
    // One write per line: O_APPEND keeps it whole against other writers, and a
    // kill can at worst tear the last line, which the reader skips.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool JournalWriter::sync() {
    return awaitSync() && ::fdatasync(m_fd) == 0;
}

bool JournalWriter::begin(const JournalKey& key) {
    if (!append("B " + keyFields(key) + '\n')) {
        return false;
    }
    requestSync();
    return true;
}

bool JournalWriter::committing(const JournalKey& key) {
    return awaitSync() && append("C " + keyFields(key) + '\n');
}

bool JournalWriter::accepted(const JournalKey& key, std::string_view reply) {
    return append("A " + keyFields(key) + ' ' + percentEscaped(reply) + '\n');
}

bool JournalWriter::refused(const JournalKey& key, int code, std::string_view reply) {
    return append("R " + keyFields(key) + ' ' + std::to_string(code) + ' ' + percentEscaped(reply) +
                  '\n');
}

bool JournalWriter::deferred(const JournalKey& key, int code, std::string_view reply) {
    return append("D " + keyFields(key) + ' ' + std::to_string(code) + ' ' + percentEscaped(reply) +
                  '\n');
}

std::string interruptedRunText(const JournalContents& journal) {
    return sjisFormat(
        "前回の送信は中断されています。\n送信済み {} 件、送信エラー {} 件、"
        "送信結果不明 {} 件。\n続きから送信しますか？",
        journal.count(JournalOutcome::kAccepted), journal.count(JournalOutcome::kRefused),
        journal.count(JournalOutcome::kUncertain));
}

std::string uncertainQuestionText(const JournalContents& journal) {
    return sjisFormat(
        "次の {} 件は、送信中に中断されたため届いたかどうかわかりません。\n"
        "これらの宛先にもう一度送信しますか？",
        journal.count(JournalOutcome::kUncertain));
}

JournalledRecipients::JournalledRecipients(std::unique_ptr<RecipientSource> inner,
                                           JournalContents earlier, bool sendUncertain)
    : m_inner(std::move(inner)), m_earlier(std::move(earlier)), m_sendUncertain(sendUncertain) {}

JournalledRecipients::Matches JournalledRecipients::matchWalk() {
    Matches matches;
    if (m_earlier.entries.empty()) {
        return matches;
    }
    std::vector<std::pair<int, std::string>> unmatched;
    std::set<JournalKey> taken;
    m_inner->visitEligible([&](const Recipient& r) {
        JournalKey key{r.position, r.address};
        if (m_earlier.entries.count(key) != 0) {
            taken.insert(key);
            matches.emplace(r.position, std::move(key));
        } else {
            unmatched.emplace_back(r.position, r.address);
        }
        return true;
    });
    // Each address's entries not matched above, in the earlier walk's order.
    std::map<std::string, std::vector<JournalKey>> byAddress;
    for (const auto& [key, entry] : m_earlier.entries) {
        if (taken.count(key) == 0) {
            byAddress[key.address].push_back(key);
        }
    }
    std::map<std::string, std::size_t> used;
    for (auto& [position, address] : unmatched) {
        const auto it = byAddress.find(address);
        if (it == byAddress.end()) {
            continue;
        }
        std::size_t& n = used[address];
        if (n < it->second.size()) {
            matches.emplace(position, it->second[n++]);
        }
    }
    return matches;
}

const JournalEntry* JournalledRecipients::earlierEntry(const Matches& matches,
                                                       const Recipient& r) const {
    const auto match = matches.find(r.position);
    if (match == matches.end() || match->second.address != r.address) {
        return nullptr;
    }
    const auto it = m_earlier.entries.find(match->second);
    return it == m_earlier.entries.end() ? nullptr : &it->second;
}

bool JournalledRecipients::settled(const Matches& matches, const Recipient& r) const {
    const JournalEntry* entry = earlierEntry(matches, r);
    return entry != nullptr && (entry->outcome != JournalOutcome::kUncertain || !m_sendUncertain);
}

JournalKey JournalledRecipients::keyOf(const Recipient& r) const {
    const auto match = m_matches.find(r.position);
    if (match != m_matches.end() && match->second.address == r.address) {
        return match->second;
    }
    return JournalKey{r.position, r.address};
}

int JournalledRecipients::eligibleCount() {
    const Matches matches = matchWalk();
    int n = 0;
    m_inner->visitEligible([&](const Recipient& r) {
        n += settled(matches, r) ? 0 : 1;
        return true;
    });
    return n;
}

void JournalledRecipients::visitEligible(const std::function<bool(const Recipient&)>& visit) {
    const Matches matches = matchWalk();
    m_inner->visitEligible([&](const Recipient& r) { return settled(matches, r) || visit(r); });
}

Status JournalledRecipients::beginRun() {
    if (auto taken = m_inner->beginRun(); !taken) {
        return taken;
    }
    // The walk is fixed from here on, and so is what the earlier run settled.
    m_matches = matchWalk();
    return Ok{};
}

bool JournalledRecipients::next(Recipient& recipient) {
    if (!m_inner->next(recipient)) {
        return false;
    }
    m_current = keyOf(recipient);
    if (recipient.eligible && settled(m_matches, recipient)) {
        recipient.eligible = false;
        const JournalOutcome outcome = earlierEntry(m_matches, recipient)->outcome;
        if (outcome == JournalOutcome::kRefused) {
            // Refused before the earlier run could save it: the status now.
            m_inner->markSendFailed();
        } else if (outcome == JournalOutcome::kAccepted) {
            m_inner->markSent();
        }
    }
    return true;
}

void JournalledRecipients::finishWalk() {
    // An entry neither settled nor sent waits for the next run, as it would
    // without a journal; next() gives the settled ones their statuses.
    Recipient r;
    while (next(r)) {
    }
}

void JournalledRecipients::revisit(const Recipient& recipient) {
    m_current = keyOf(recipient);
    m_inner->revisit(recipient);
}

bool JournalledRecipients::messageStarting(const Recipient& recipient) {
    // keyOf reads only what beginRun fixed: safe from any thread.
    return m_writer == nullptr || m_writer->begin(keyOf(recipient));
}

bool JournalledRecipients::messageCommitting(const Recipient& recipient) {
    return m_writer == nullptr || m_writer->committing(keyOf(recipient));
}

void JournalledRecipients::messageDeferred(int code, std::string_view reply) {
    if (m_writer != nullptr) {
        m_writer->deferred(m_current, code, reply);
    }
}

void JournalledRecipients::messageAccepted(std::string_view reply) {
    if (m_writer != nullptr) {
        m_writer->accepted(m_current, reply);
    }
}

void JournalledRecipients::messageRefused(int code, std::string_view reply) {
    if (m_writer != nullptr) {
        m_writer->refused(m_current, code, reply);
    }
}

}  // namespace tarn::driver
