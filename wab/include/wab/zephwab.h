/* The system address book, read through five calls: open a container, read its
 * entries until the read answers 0, copy an entry's identifier to open it
 * later, free what was handed out, close.
 *
 * The address book is a vCard file or a folder of them (wab/vcard.h); its path
 * is the second argument of ZEPHWABOpen.
 *
 *   mode 0 (contacts), container NULL:  every contact of the book, then every
 *                                       group as a list entry (isList 1)
 *   mode 0, container = a list's id:    the members of that group
 *   mode 0, container = a folder's id:  the contacts of that folder
 *   mode 1 (folders), container NULL:   the folders (isList 0, text 0 the name)
 *
 * Each row carries seven UTF-8 texts, trailing blanks removed:
 *   ZEPHWAB_NAME        display name (FN; else family and given name; else company)
 *   ZEPHWAB_EMAIL       the preferred e-mail address, else the first
 *   ZEPHWAB_COMPANY     ORG, first component
 *   ZEPHWAB_DEPARTMENT  ORG, second component
 *   ZEPHWAB_TITLE       TITLE
 *   ZEPHWAB_FAMILY      N, family name   (so that a name can be built as
 *   ZEPHWAB_GIVEN       N, given name     family + given, as Japanese writes it)
 * A list or folder row has its name in ZEPHWAB_NAME and the others empty.
 *
 * The calls return 1 on success and 0 on failure (ZEPHWABRead: 0 also at the
 * end); ZEPHWABLastError() then says why, in UTF-8, for the calling thread. A
 * row stays valid until it is given to ZEPHWABMemFree; it does not depend on
 * the handle. Nothing here throws. */
#ifndef TARN_WAB_ZEPHWAB_H
#define TARN_WAB_ZEPHWAB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZephWab ZEPHWAB;

enum {
    ZEPHWAB_NAME = 0,
    ZEPHWAB_EMAIL = 1,
    ZEPHWAB_COMPANY = 2,
    ZEPHWAB_DEPARTMENT = 3,
    ZEPHWAB_TITLE = 4,
    ZEPHWAB_FAMILY = 5,
    ZEPHWAB_GIVEN = 6,
    ZEPHWAB_TEXT_COUNT = 7
};

enum { ZEPHWAB_MODE_CONTACTS = 0, ZEPHWAB_MODE_FOLDERS = 1 };

typedef struct ZEPHWABROW {
    const char* texts[ZEPHWAB_TEXT_COUNT];
    const void* entryId; /* opaque; copy it with ZEPHWABMemCopy to keep it */
    size_t entryIdSize;
    int isList; /* 1 for a group (a list entry) */
} ZEPHWABROW;

int ZEPHWABOpen(ZEPHWAB** handle, const char* bookPath, const void* container, size_t containerSize,
                int mode);
int ZEPHWABRead(ZEPHWAB* handle, ZEPHWABROW** row, int option);
int ZEPHWABMemCopy(void** copy, const void* source, size_t size);
void ZEPHWABMemFree(void* memory);
void ZEPHWABClose(ZEPHWAB* handle);
const char* ZEPHWABLastError(void);

#ifdef __cplusplus
}
#endif

#endif
