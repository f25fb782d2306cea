// One recipient's message from the send-contents: the body run as a script
// (when scripts are on), then the merge fields filled in. The send run, the
// confirmation's preview and the pre-flight all call this one function, so what
// a person is shown is what the recipient gets.
#pragma once

#include <string>

#include "contents/merge.h"
#include "contents/script.h"
#include "contents/send_contents.h"

namespace tarn::driver {

// The longest merge value a script sees; longer values are cut at a character
// boundary. The merge itself uses the values uncut.
inline constexpr std::size_t kScriptValueLimit = 255;

enum class Personalised {
    kMessage,       // subject and body are ready
    kSkipped,       // the script wrote nothing: this recipient gets no message
    kScriptFailed,  // the script reported an error or ran `End`
};

// The message of one recipient. Kept across recipients so that its buffers are
// reused; subject() and body() are valid until the next personalise() call.
class PersonalMessage {
public:
    const std::string& subject() const { return m_merge.subject; }
    const std::string& body() const { return m_merge.body; }
    // What the script wrote for the last recipient (its body template).
    const std::string& scriptOutput() const { return m_scriptOutput; }

private:
    friend Personalised personalise(const contents::SendContents&, contents::ScriptEngine*,
                                    const contents::MergeValues&, PersonalMessage&);
    contents::MergeValues m_cut;
    std::string m_scriptOutput;
    contents::MergeRequest m_merge;
};

// `script` is the body compiled once per run when scripts are on, else null.
Personalised personalise(const contents::SendContents& contents, contents::ScriptEngine* script,
                         const contents::MergeValues& values, PersonalMessage& message);

}  // namespace tarn::driver
