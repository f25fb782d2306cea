// The exported C interface: argument checks and a call into the core; no
// exception crosses it.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "run.h"
#include "tarnmxvrfy.h"

extern "C" {

MXVERIFY_API int MXVerifyWSAStartup(void) {
    return 0;
}
MXVERIFY_API int MXVerifyWSACleanup(void) {
    return 0;
}
MXVERIFY_API int MXVerifyWSACloseEvent(void* /*handle*/) {
    return 1;
}

MXVERIFY_API uint32_t MXVerifyInet_addr(const char* text) {
    return text == nullptr ? INADDR_NONE : ::inet_addr(text);
}

MXVERIFY_API int MXIsValid(void) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return 0;
    }
    ::close(fd);
    return 1;
}

MXVERIFY_API int MXVerify(MXVerifyParam* param) {
    try {
        return tarn::mx::startRun(param, tarn::mx::defaultOptions()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

MXVERIFY_API int MXVerifyGetCounts(MXVerifyParam* param, int32_t* okCount, int32_t* ngCount) {
    return tarn::mx::runCounts(param, okCount, ngCount) ? 1 : 0;
}

MXVERIFY_API int32_t MXVerifyGetForeignAnswers(MXVerifyParam* param) {
    return tarn::mx::foreignAnswers(param);
}

MXVERIFY_API int MXVerifyStop(MXVerifyParam* param) {
    return tarn::mx::stopRun(param) ? 1 : 0;
}

MXVERIFY_API int MXVerifyWait(MXVerifyParam* param) {
    try {
        return tarn::mx::waitRun(param) ? 1 : 0;
    } catch (...) {
        return 0;  // join failed: the thread is still owned by the block
    }
}

}  // extern "C"
