/* The dial-up library: five exports that the send drivers and the options
 * dialog look up by name after the system's dial-up service was found.
 *
 * Phone-book entries are the peer files of the pppd peers folder
 * (TARN_PPP_PEERS, else /etc/ppp/peers). Dialling runs `pon ENTRY` and hanging
 * up `poff ENTRY`; TARN_PPP_DIAL and TARN_PPP_HANGUP name other programs to
 * run instead (a program path, run directly, never through a shell). The
 * user name and password of DialUpSettings are not used: pppd takes them from
 * the peer file and its secrets files. */
#ifndef TARNRAS_H
#define TARNRAS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The run of an account from LANConnect to AutoCut, handed to ZEPHRasDial as
 * one block; its layout is shared with the settings record (792 bytes). */
#pragma pack(push, 1)
typedef struct DialUpSettings {
    int32_t LANConnect;  /* 1: LAN, 0: dial-up */
    char EntryName[260]; /* phone-book entry (peer name) */
    int32_t Check;       /* 1: dial with UserName / PassWord */
    char UserName[260];
    char PassWord[260];
    int32_t AutoCut; /* 1: hang up when the send run ends */
} DialUpSettings;
#pragma pack(pop)

/* A dialled connection; 0 is never a valid connection. */
typedef uintptr_t TarnRasConnection;

#define TARNRAS_EXPORT __attribute__((visibility("default")))

/* Dials settings->EntryName. Returns 0 and fills *connection when the dial
 * command succeeded; 1 for an invalid argument or entry name, 2 when the
 * command could not be started, 3 when it failed or did not end within two
 * minutes. `ownerWindow` is not used. */
TARNRAS_EXPORT int ZEPHRasDial(void* ownerWindow, const DialUpSettings* settings,
                               TarnRasConnection* connection);

/* Hangs up a connection returned by ZEPHRasDial (runs the hang-up command). */
TARNRAS_EXPORT void ZEPHRasHangUp(TarnRasConnection connection);

/* Reads the list of entries. 0 when the peers folder could be read. */
TARNRAS_EXPORT int ZEPHGetRasEntry(void);

/* Number of entries read by the last ZEPHGetRasEntry. */
TARNRAS_EXPORT int ZEPHGetEntryCount(void);

/* Copies the name of entry `index` (from 0) into buffer (NUL-terminated, cut
 * to size - 1 bytes). An index past the list gives an empty name and 1;
 * otherwise 0. */
TARNRAS_EXPORT int ZEPHGetEntryName(int index, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
