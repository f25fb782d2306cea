/*
 * The mail engine: one SMTP connection and one message under composition per
 * process, driven through the functions below. Strings passed in are
 * NUL-terminated Shift_JIS and are copied at once.
 *
 * Network work (connect, session start, send, disconnect) runs on the engine's
 * worker thread. Every job export takes `wait`: 0 returns 1 as soon as the job
 * is handed over (poll ZEPH_IsExecute, then read ZEPH_GetResult); any other
 * value blocks until the job ends and returns its result (1 success, 0
 * failure). A job handed over while another runs is refused: 0, and
 * ZEPH_GetLastError() gives -7.
 *
 * Error model, read after a failed job in this order:
 *   ZEPH_GetLastError      -7 busy (or the worker was ended by
 *                          ZEPH_ThreadControl(0)); -6 an attachment list was
 *                          empty or named a missing file; -8 a To, Cc, Bcc
 *                          or From value holds a control character or text
 *                          that cannot be an address (nothing was sent;
 *                          ZEPH_GetSMTPResult says which value and why);
 *                          0 otherwise.
 *   ZEPH_GetSockLastError  an errno value, or
 *                          -1  stopped by ZEPH_Stop
 *                          -2  the server replied 400 or more (501 excepted)
 *                          -3  the server name could not be resolved
 *                          -5  no server host set (or a name of 128 bytes or more)
 *                          -10 the socket did not become writable in time
 *                          -11 no reply within the receive time-out
 *                          -12 the server closed the connection
 *                          -13 the commit hook held the message back
 *                          -20 TLS handshake failed
 *                          -21 the server's certificate was refused
 *                          -22 STARTTLS not offered or refused
 *                          Cleared at the start of every command.
 *   ZEPH_GetSmtpLastError  the code at the start of the last reply (0: none).
 *   ZEPH_GetLastErrorPos   the failing step; kept through later successes:
 *                          1030 name resolution failed
 *                          1031 TCP connect failed (all resolved addresses)
 *                          1040 TLS handshake failed (or timed out, or stopped)
 *                          1041 the server's certificate was refused
 *                          1042 STARTTLS not offered or not accepted
 *                          1032 closing the socket failed at disconnect
 *                          1033 stopped during the wait after disconnect
 *                          1132 no socket, or closing failed, in ZEPH_Abort
 *                          1133 stopped while ZEPH_Abort ran
 *                          2010 socket not writable within the time-out, or
 *                               stopped while waiting, or a send made no
 *                               progress for 2 seconds
 *                          2011 send failed
 *                          2012 stopped just after a send
 *                          2013 the commit hook held the message back before
 *                               its final "." (the connection is closed)
 *                          3000 no reply within the time-out (or stopped)
 *                          3001 receive failed, or the server closed
 *                          3900 stopped while a reply was read (the reply
 *                               still counts as received)
 *                          7500 stopped during the wait after a message
 *                          9000 the server replied 400 or more (501 excepted)
 *                          9903 a multi-line reply outgrew the 2048-byte buffer
 *   ZEPH_GetSMTPResult     the first line of the last reply.
 * A send job that fails because the message has no "To" or no "From" header
 * sets none of these.
 */
#ifndef ZEPH_H
#define ZEPH_H

#if defined(__GNUC__)
#define ZEPH_API __attribute__((visibility("default")))
#else
#define ZEPH_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Options. */
ZEPH_API int ZEPH_SetPort(int port);              /* 0 = measure-only: count, send nothing */
ZEPH_API int ZEPH_SetRecvTimeOutSec(int seconds); /* default 45 */
ZEPH_API int ZEPH_SetWaitMillSec(int afterMessageMs, int afterDisconnectMs);
ZEPH_API int ZEPH_SetEncodeType(int type); /* 0 base64, 1 x-uuencode; else 0, unchanged */
/* mode 0 off; 1 on; -101/-102/-104 on and always PLAIN/LOGIN/CRAM-MD5.
 * method 1 PLAIN, 2 LOGIN, 3 CRAM-MD5, other: best offered. Returns 0 (and
 * authentication stays off) when mode is non-zero and user or password is null. */
ZEPH_API int ZEPH_SetSmtpAuth(int mode, const char* user, const char* password, int method);
/* Blocking, on the caller's thread: 0 success, 1 connect failed, 2 no greeting
 * or QUIT failed, 3 USER refused, 4 PASS or APOP refused. */
ZEPH_API int ZEPH_PopBeforeSmtp(const char* host, int port, const char* user, const char* password,
                                int useApop);

/* Transport security of the next connection: 0 plain (default), 1 STARTTLS
 * after the first EHLO (never a fall back to plain text), 2 TLS from the first
 * byte (usually port 465). The certificate is verified against the system's
 * CA store and must name the host. Returns 1, or 0 (unchanged) for other values. */
ZEPH_API int ZEPH_SetSecurity(int mode);
/* An extra CA certificate file (PEM) trusted besides the system store; null or
 * "" for none. Returns 1. */
ZEPH_API int ZEPH_SetCAFile(const char* path);

/* The character set of the messages: 0 ISO-2022-JP (default), 1 automatic
 * (ISO-2022-JP unless a header, the body or a file name holds a NEC special or
 * IBM extension character, which standard ISO-2022-JP readers do not show;
 * then UTF-8), 2 UTF-8 (encoded-words "=?UTF-8?B?...?=", a base64
 * "text/plain; charset=UTF-8" body). Returns 1, or 0 (unchanged) for other values. */
ZEPH_API int ZEPH_SetCharset(int mode);
/* The name the session start greets with (HELO/EHLO): a domain name or an
 * address literal ("[192.0.2.1]"); null or "" for the machine's fully
 * qualified name (else its host name). Returns 1, or 0 (unchanged) for a name
 * that is neither. */
ZEPH_API int ZEPH_SetHeloName(const char* name);
/* Whether the next sessions use PIPELINING (RFC 2920) when the server offers
 * it: 1 (default) yes, 0 no (every command waits for its reply). Replies,
 * results and error values are the same either way. Returns 1, or 0
 * (unchanged) for other values. */
ZEPH_API int ZEPH_SetPipelining(int on);

/* Called on the engine's worker thread just before each message's final "."
 * of DATA goes out, with and without PIPELINING: from then on the server may
 * have taken the message, so a caller that keeps a record of what was sent
 * commits it here. Returning 0 holds the message back: the connection is
 * closed without the ".", so the server delivers nothing, and the send job
 * fails with socket error -13. The hook must not call ZEPH_* functions. A
 * null hook removes it; a running send job keeps the one it started with.
 * Returns 1. */
typedef int (*ZEPH_CommitHook)(void* context); /* NOLINT(modernize-use-using): C */
ZEPH_API int ZEPH_SetCommitHook(ZEPH_CommitHook hook, void* context);

/* Jobs. */
ZEPH_API int ZEPH_Connect(const char* host, int wait);
ZEPH_API int ZEPH_SendStart(int wait); /* EHLO (HELO if unknown), STARTTLS, authentication */
ZEPH_API int ZEPH_Send(int wait);      /* RSET, MAIL, RCPT..., DATA, message, "." */
ZEPH_API int ZEPH_Disconnect(int wait);
ZEPH_API int ZEPH_IsExecute(void);          /* busy flag; yields up to 1 ms */
ZEPH_API int ZEPH_GetResult(void);          /* result of the last job */
ZEPH_API void ZEPH_Stop(void);              /* ends the running job within milliseconds */
ZEPH_API int ZEPH_Abort(void);              /* closes the socket now; 1 if one was closed */
ZEPH_API int ZEPH_ThreadControl(int start); /* 0 ends the worker; else starts it if ended */

/* The message. */
ZEPH_API int ZEPH_SetDefaultHeader(void);
ZEPH_API int ZEPH_LoadCustomHeader(const char* path); /* 1 read, 0 not opened */
ZEPH_API int ZEPH_ClearCustomHeader(void);
ZEPH_API int ZEPH_SetHeader(const char* name, const char* value); /* null value = empty */
ZEPH_API int ZEPH_SetTo(const char* value);
ZEPH_API int ZEPH_SetFrom(const char* value);
ZEPH_API int ZEPH_SetCc(const char* value);
ZEPH_API int ZEPH_SetBcc(const char* value);
ZEPH_API int ZEPH_SetSubject(const char* value);
ZEPH_API int ZEPH_SetMessageID(const char* domainSource); /* may be null */
ZEPH_API int ZEPH_SetBody(const char* text);              /* 0 if out of memory */
ZEPH_API int ZEPH_AddBody(const char* text);
ZEPH_API int ZEPH_SetAttach(const char* fileList); /* 0 with last error -6 */
ZEPH_API int ZEPH_AddAttach(const char* fileList);

/* Sizes and errors. */
ZEPH_API int ZEPH_GetSendSize(void);    /* exact byte count a ZEPH_Send would transmit */
ZEPH_API int ZEPH_GetNowSendSize(void); /* bytes sent by the running job so far */
ZEPH_API int ZEPH_GetLastError(void);
ZEPH_API int ZEPH_GetSockLastError(void);
ZEPH_API int ZEPH_GetSmtpLastError(void);
ZEPH_API int ZEPH_GetLastErrorPos(void);
/* First line of the last reply; valid until the next call. */
ZEPH_API const char* ZEPH_GetSMTPResult(void);

#ifdef __cplusplus
}
#endif

#endif /* ZEPH_H */
