// The library's one export: the editor as a modal window.
#include <cstring>
#include <string>

#include "editor/files.h"
#include "editor_dialog.h"
#include "prompts.h"
#include "tarnedit.h"
#include "ui/dialog_host.h"

static_assert(ZEPHEDIT_PATH_SIZE == tarn::editor::kPathBufferSize);
static_assert(ZEPHEDIT_END_UNCHANGED == tarn::editor::kEndUnchanged &&
              ZEPHEDIT_END_SAVED == tarn::editor::kEndSaved &&
              ZEPHEDIT_END_DISCARDED == tarn::editor::kEndDiscarded);

namespace {

std::string boundedText(const char* text, std::size_t bufferSize) {
    return text == nullptr ? std::string() : std::string(text, ::strnlen(text, bufferSize - 1));
}

int runEditor(const char* senderName, const char* senderAddress, char* pathBuffer) {
    // Qt ends the process when it cannot reach a display; say 0 instead.
    if (!tarn::ui::DialogHost::canShowDialogs()) {
        return 0;
    }
    tarn::ui::DialogHost host;

    tarn::editor::QtEditorPrompts prompts;
    tarn::editor::EditorDialog dialog(prompts, boundedText(senderName, 128),
                                      boundedText(senderAddress, 128));
    dialog.start(boundedText(pathBuffer, ZEPHEDIT_PATH_SIZE));
    const int end = dialog.exec();
    if (end == ZEPHEDIT_END_UNCHANGED || end == ZEPHEDIT_END_SAVED) {
        const std::string& path = dialog.filePathSjis();  // shorter than the buffer
        std::memcpy(pathBuffer, path.c_str(), path.size() + 1);
    }
    return end;
}

}  // namespace

extern "C" TARNEDIT_API int ZEPHEdit(void* /*owner*/, const char* senderName,
                                     const char* senderAddress, char* pathBuffer) {
    if (pathBuffer == nullptr) {
        return 0;
    }
    try {
        return runEditor(senderName, senderAddress, pathBuffer);
    } catch (...) {
        return 0;
    }
}
