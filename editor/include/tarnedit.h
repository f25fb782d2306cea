/*
 * The message editor library: one modal window in which the operator writes
 * the message of a bulk send (subject, body with merge tags, attachments, CC
 * and BCC) and saves it as a send-contents (.tnm) file.
 *
 * Usage, from a Qt application's GUI thread (or from a program without one:
 * the library then makes its own QApplication for the call, and needs a
 * display):
 *
 *     char path[ZEPHEDIT_PATH_SIZE] = "";   // Shift_JIS: current .tnm file, or empty
 *     copy the current ContFileName into path (at most 259 bytes)
 *     int end = ZEPHEdit(nullptr, fromName, fromAddress, path);
 *     if (end != 0)
 *         store path as ContFileName (it is only changed when the editor hands
 *         one back) and show it in the main window
 *
 * Arguments: the owner window is not used; sender name and address are
 * NUL-terminated Shift_JIS (at most 127 bytes are shown); the path buffer, in
 * and out, holds at least ZEPHEDIT_PATH_SIZE bytes and a Shift_JIS path.
 *
 * Result, the window's end code:
 *   ZEPHEDIT_END_UNCHANGED (1)  nothing unsaved at the end, or the changes
 *                               were saved under a new name
 *   ZEPHEDIT_END_SAVED     (6)  the changes were saved to the file being edited
 *   ZEPHEDIT_END_DISCARDED (7)  the operator chose not to save
 *   0                           the window could not be shown (no path buffer,
 *                               no display, or a non-GUI application object)
 * With 1 and 6 the final path (changed when the operator opened, saved under
 * a new name, or started a new message) is copied back into the buffer; it is
 * empty for a message never saved. With 7 and 0 the buffer is left as it was.
 */
#ifndef TARNEDIT_H
#define TARNEDIT_H

#if defined(__GNUC__)
#define TARNEDIT_API __attribute__((visibility("default")))
#else
#define TARNEDIT_API
#endif

#define ZEPHEDIT_PATH_SIZE 260
#define ZEPHEDIT_END_UNCHANGED 1
#define ZEPHEDIT_END_SAVED 6
#define ZEPHEDIT_END_DISCARDED 7

#ifdef __cplusplus
extern "C" {
#endif

TARNEDIT_API int ZEPHEdit(void* owner, const char* senderName, const char* senderAddress,
                          char* pathBuffer);

#ifdef __cplusplus
}
#endif

#endif
