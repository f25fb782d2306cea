/*
 * libTarnMxvrfy: decides, for a batch of e-mail domains, whether each can
 * receive mail, by asking one DNS server over UDP for its MX records and, when
 * there are none, for its A records. The batch is resolved on a worker thread
 * with up to 60 queries in flight.
 *
 * Typical use (the check driver):
 *
 *   MXVerifyItem* items = ...;            // count items, all zero except
 *                                         // localPart and domain ("example.com.")
 *   MXVerifyParam p;  memset(&p, 0, sizeof p);
 *   p.server = MXVerifyInet_addr("192.0.2.53");
 *   p.reserved = 1;  p.count = count;  p.items = items;
 *   if (MXVerify(&p)) {
 *       int ok, ng;
 *       while (MXVerifyGetCounts(&p, &ok, &ng)) {   // 1 while the worker runs
 *           ... show ok + ng of count; on cancel MXVerifyStop(&p) ...
 *       }
 *       MXVerifyWait(&p);                // always, exactly once
 *       ... read items[i].result ...
 *   }
 *
 * Ownership: the caller owns the block, the items and their texts until
 * MXVerifyWait has returned. Nothing in the block is freed by the library.
 */
#ifndef TARNMXVRFY_H
#define TARNMXVRFY_H

#include <pthread.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MXVERIFY_API __attribute__((visibility("default")))

/* MXVerifyItem.stage */
#define MXVERIFY_STAGE_MX 0      /* MX query next */
#define MXVERIFY_STAGE_A 1       /* A query next */
#define MXVERIFY_STAGE_DONE 1000 /* decided */

/* MXVerifyItem.result */
#define MXVERIFY_RESULT_MX 0           /* the domain has at least one MX record */
#define MXVERIFY_RESULT_A 1            /* no MX record, at least one A record */
#define MXVERIFY_RESULT_UNDECIDED (-1) /* undecided when the run ended */
#define MXVERIFY_RESULT_SILENT (-2)    /* no answer after the last retransmission */
#define MXVERIFY_RESULT_NO_HOST                        \
    (-3) /* neither MX nor A record (also: a name that \
            cannot be a DNS name, such as a label      \
            over 63 bytes; it is never sent) */

/*
 * One domain. Fill localPart and domain, leave the rest zero. Natural
 * alignment (the Windows original packed it to 1 byte, which leaves the
 * 32-bit fields after queryId misaligned; no file or peer depends on it).
 */
typedef struct MXVerifyItem {
    const char* localPart; /* text before the at-sign; not used by the library */
    const char* domain;    /* domain to look up, "example.com." */
    int32_t stage;         /* MXVERIFY_STAGE_* */
    int32_t result;        /* MXVERIFY_RESULT_*; -1 until decided */
    uint16_t queryId;      /* DNS message ID: the item's index (modulo 65536) */
    uint32_t idleTicks;    /* idle seconds since the last transmission */
    uint32_t retries;      /* retransmissions made so far in this stage */
} MXVerifyItem;

struct MXVerifyParam;

/*
 * Called once on the worker thread as its very last action, when the run has
 * ended: `message` is the block's notifyMessage, `socketError` is 0 when the
 * run ended normally (all decided, or stopped) and 1 when it ended on a socket
 * error. The callback must not call MXVerifyWait (it would wait for itself);
 * it may wake another thread that does.
 */
typedef void (*MXVerifyNotify)(struct MXVerifyParam* param, uint32_t message, int socketError);

/* The parameter block, owned by the caller for the whole run. */
typedef struct MXVerifyParam {
    uint32_t server;        /* DNS server IPv4 address, network byte order */
    int32_t reserved;       /* callers store 1; not read */
    int32_t count;          /* number of items */
    MXVerifyItem* items;    /* count items */
    MXVerifyNotify notify;  /* completion callback, or 0 for none */
    uint32_t notifyMessage; /* passed to notify unchanged */
    int32_t okCount;        /* items decided deliverable (results 0 and 1) */
    int32_t ngCount;        /* items decided failed (results -2 and -3) */
    int32_t lastError;      /* 0, an errno value of a failed socket call, or -1
                               (stopped by MXVerifyStop) */
    pthread_mutex_t lock;   /* guards the items and the three counters while the
                               worker runs; initialised by MXVerify, destroyed
                               by MXVerifyWait */
    int32_t stopEvent;      /* eventfd made by MXVerify; MXVerifyStop signals it */
    void* thread;           /* the worker, opaque; 0 when no run is active */
} MXVerifyParam;

/*
 * Kept for callers written against the Windows original; on Linux sockets
 * need no start-up. They succeed and do nothing: MXVerifyWSAStartup and
 * MXVerifyWSACleanup return 0, MXVerifyWSACloseEvent returns 1.
 */
MXVERIFY_API int MXVerifyWSAStartup(void);
MXVERIFY_API int MXVerifyWSACleanup(void);
MXVERIFY_API int MXVerifyWSACloseEvent(void* handle);

/* inet_addr: dotted IPv4 text to a network-order address (INADDR_NONE on error). */
MXVERIFY_API uint32_t MXVerifyInet_addr(const char* text);

/* 1 when a UDP socket can be opened (level 2 is usable), else 0. */
MXVERIFY_API int MXIsValid(void);

/*
 * Starts a run over param->items: 1 when the worker was started, 0 when not
 * (null block, negative count, null items with a non-zero count, a run still
 * active in this block, or no resources). On 0 the block holds nothing that
 * needs releasing. The call does not wait. Every item is reset to result -1
 * before the first query; okCount, ngCount and lastError are set to 0.
 *
 * The server is asked on UDP port 53. Tests may set the environment variable
 * TARN_DNS_PORT to another port; it is read by each call of MXVerify.
 */
MXVERIFY_API int MXVerify(MXVerifyParam* param);

/*
 * Reads okCount and ngCount under the block's lock (either pointer may be 0).
 * Returns 1 while the worker is still running, 0 once it has ended (or when
 * no run is active) - a run that ends on a socket error never brings
 * okCount + ngCount up to count, so poll this result rather than the sum.
 */
MXVERIFY_API int MXVerifyGetCounts(MXVerifyParam* param, int32_t* okCount, int32_t* ngCount);

/*
 * The number of answers the run discarded because their ID named none of its
 * items (a stray or forged datagram from the server's address), for the
 * caller's log. Valid once MXVerifyGetCounts has returned 0 and until
 * MXVerifyWait; -1 otherwise. The library itself never prints.
 */
MXVERIFY_API int32_t MXVerifyGetForeignAnswers(MXVerifyParam* param);

/*
 * Asks the worker to end: undecided items keep -1 and lastError becomes -1.
 * Returns at once (1 when a run is active, else 0); follow with MXVerifyWait.
 */
MXVERIFY_API int MXVerifyStop(MXVerifyParam* param);

/*
 * Waits without limit for the worker to end, then releases what MXVerify made
 * (the thread, the stop eventfd, the lock) and sets thread to 0 and stopEvent
 * to -1. Afterwards the items and counters may be read without the lock.
 * Returns 1, or 0 when no run is active or when called on the worker thread.
 */
MXVERIFY_API int MXVerifyWait(MXVerifyParam* param);

#ifdef __cplusplus
}
#endif

#endif /* TARNMXVRFY_H */
