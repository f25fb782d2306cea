// The merge preview: the message as a recipient with sample values would get
// it, header and body, with the body run as a script.
#pragma once

#include <string>
#include <string_view>

#include "contents/merge.h"
#include "contents/script.h"
#include "contents/send_contents.h"

namespace tarn::editor {

// The fifteen sample values in merge-tag order (Shift_JIS):
// "○○○○○○○株式会社", "□□課", "△△マネージャー", "○△□太郎", "様",
// "--フリーフィールド１--" ... "--フリーフィールド１０--".
const contents::MergeValues& previewSampleValues();

// The preview text (Shift_JIS):
//   From : NAME <ADDRESS>\n
//   Subject : SUBJECT\n
//   CC : CC\n                         (when there is a CC)
//   BCC : BCC\n                       (when there is a BCC)
//   Attach : PATH;\n        PATH;\n   (when there are attachments)
//   \n
//   Body :\n
//   BODY
// The body is run as a script whatever the sending setting says (errors go to
// the host; a script that fails to compile or to run leaves the body part
// empty), then subject and body
// take the sample values.
std::string previewText(std::string_view senderNameSjis, std::string_view senderAddressSjis,
                        const contents::SendContents& message, contents::ScriptHost& host);

}  // namespace tarn::editor
