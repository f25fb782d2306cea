#include "driver/personalise.h"

#include "common/sjis.h"

namespace tarn::driver {

Personalised personalise(const contents::SendContents& contents, contents::ScriptEngine* script,
                         const contents::MergeValues& values, PersonalMessage& message) {
    const std::string* bodyTemplate = &contents.body;
    if (script != nullptr) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            message.m_cut[i].assign(sjis::truncate(values[i], kScriptValueLimit));
        }
        if (script->RunScript(message.m_scriptOutput,
                              contents::makeMergeVariables(message.m_cut)) == 0) {
            return Personalised::kScriptFailed;
        }
        if (message.m_scriptOutput.empty()) {
            return Personalised::kSkipped;
        }
        bodyTemplate = &message.m_scriptOutput;
    }
    contents::MergeRequest& merge = message.m_merge;
    merge.subjectTemplate = contents.subject;
    merge.bodyTemplate = *bodyTemplate;
    merge.values = values;
    contents::ApplyMergeFields(merge);
    return Personalised::kMessage;
}

}  // namespace tarn::driver
