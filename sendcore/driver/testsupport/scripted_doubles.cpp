#include "scripted_doubles.h"

#include <algorithm>

#include "common/cp932.h"

namespace tarn::driver::doubles {
namespace {

std::string utf8(std::string_view sjis) {
    return cp932::toUtf8Lossy(sjis);
}

}  // namespace

void ScriptedProgress::open(std::string_view title) {
    note("open " + utf8(title));
}
void ScriptedProgress::setTitle(std::string_view title) {
    note("title " + utf8(title));
}
void ScriptedProgress::setStatusLine(std::string_view text) {
    note("status " + utf8(text));
}
void ScriptedProgress::setTimeLine(std::string_view) {
    onCallerThread("setTimeLine");
}
void ScriptedProgress::setAddressLine(std::string_view) {
    onCallerThread("setAddressLine");
}
void ScriptedProgress::setRange(std::int64_t) {
    onCallerThread("setRange");
}
void ScriptedProgress::setPosition(std::int64_t) {
    onCallerThread("setPosition");
}

void ScriptedProgress::progress(const RunProgress& p) {
    onCallerThread("progress");
    if (!progressSeen.empty() && progressSeen.back().level == p.level &&
        p.done < progressSeen.back().done) {
        faults.push_back("progress went back from " + std::to_string(progressSeen.back().done) +
                         " to " + std::to_string(p.done));
    }
    progressSeen.push_back(p);
}

void ScriptedProgress::recipientDone(const RecipientResult& r) {
    onCallerThread("recipientDone");
    results.push_back(r);
    if (onResult) {
        onResult(r);
    }
}

bool ScriptedProgress::askStop() {
    note("askStop");
    askedAt.push_back(std::chrono::steady_clock::now());
    if (answers.empty()) {
        faults.emplace_back("an unexpected question");
        return true;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void ScriptedProgress::errorBox(std::string_view title, std::string_view text) {
    note("error " + utf8(title) + " " + utf8(text));
}

void ScriptedProgress::finish(std::string_view logPath, std::string_view) {
    note("finish " + std::string(logPath));
}

void ScriptedProgress::close() {
    note("close");
}

bool ScriptedProgress::saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
}

void ScriptedProgress::note(std::string event) {
    onCallerThread(event);
    events.push_back(std::move(event));
}

void ScriptedProgress::onCallerThread(std::string_view call) {
    if (std::this_thread::get_id() != m_thread) {
        faults.push_back(std::string(call) + " called off the caller's thread");
    }
}

ScriptedRecipients::ScriptedRecipients(std::vector<Entry> entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Recipient r;
        r.position = static_cast<int>(i + 1);
        r.eligible = entries[i].eligible;
        r.address = std::move(entries[i].address);
        r.values = std::move(entries[i].values);
        m_walk.push_back(std::move(r));
    }
}

std::vector<ScriptedRecipients::Entry> ScriptedRecipients::addresses(
    const std::vector<std::string>& addresses) {
    std::vector<Entry> out;
    for (const auto& a : addresses) {
        out.push_back({a});
    }
    return out;
}

int ScriptedRecipients::eligibleCount() {
    return static_cast<int>(
        std::count_if(m_walk.begin(), m_walk.end(), [](const Recipient& r) { return r.eligible; }));
}

void ScriptedRecipients::visitEligible(const std::function<bool(const Recipient&)>& visit) {
    for (const Recipient& r : m_walk) {
        if (r.eligible && !visit(r)) {
            return;
        }
    }
}

Status ScriptedRecipients::beginRun() {
    if (!refuseRun.empty()) {
        return makeError(refuseRun);
    }
    return Ok{};
}

bool ScriptedRecipients::next(Recipient& recipient) {
    if (m_next == m_walk.size()) {
        return false;
    }
    recipient = m_walk[m_next++];
    m_current = m_next;
    log->walked.push_back(recipient.address);
    return true;
}

void ScriptedRecipients::revisit(const Recipient& recipient) {
    for (std::size_t i = 0; i < m_walk.size(); ++i) {
        if (m_walk[i].position == recipient.position) {
            m_current = i + 1;
        }
    }
}

void ScriptedRecipients::markSendFailed() {
    if (m_current > 0) {
        log->refused.push_back(m_walk[m_current - 1].address);
    }
}

void ScriptedRecipients::messageAccepted(std::string_view) {
    if (m_current > 0) {
        log->accepted.push_back(m_walk[m_current - 1].address);
    }
}

void ScriptedRecipients::messageRefused(int code, std::string_view) {
    log->refusalCodes.push_back(code);
}

void ScriptedRecipients::finishWalk() {
    log->walkFinished = true;
}

void ScriptedRecipients::commit() {
    log->committed = true;
}

}  // namespace tarn::driver::doubles
