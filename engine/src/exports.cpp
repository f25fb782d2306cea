// The ZEPH_* exports: argument checks and a call into the engine, fenced so
// that no exception ever reaches the C caller.
#include <new>

#include "engine.h"
#include "pop.h"
#include "zeph.h"

namespace {

using zeph::MailEngine;
using zeph::Message;

template <class F>
auto fenced(decltype(std::declval<F>()()) onFailure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return onFailure;
    }
}

int setHeader(const char* name, const char* value) {
    return fenced(0, [&] {
        MailEngine::instance().withMessage([&](Message& m) { m.setHeader(name, value); });
        return 1;
    });
}

}  // namespace

extern "C" {

int ZEPH_SetPort(int port) {
    return fenced(0, [&] { return MailEngine::instance().setPort(port); });
}

int ZEPH_SetRecvTimeOutSec(int seconds) {
    return fenced(0, [&] { return MailEngine::instance().setRecvTimeOutSec(seconds); });
}

int ZEPH_SetWaitMillSec(int afterMessageMs, int afterDisconnectMs) {
    return fenced(0, [&] {
        MailEngine::instance().setWaitMillSec(afterMessageMs, afterDisconnectMs);
        return 1;
    });
}

int ZEPH_SetEncodeType(int type) {
    return fenced(0, [&] {
        return MailEngine::instance().withMessage(
            [&](Message& m) { return m.setEncodeType(type); });
    });
}

int ZEPH_SetSmtpAuth(int mode, const char* user, const char* password, int method) {
    return fenced(0,
                  [&] { return MailEngine::instance().setSmtpAuth(mode, user, password, method); });
}

int ZEPH_PopBeforeSmtp(const char* host, int port, const char* user, const char* password,
                       int useApop) {
    if (host == nullptr || user == nullptr || password == nullptr) {
        return zeph::kPopConnectFailed;
    }
    return fenced(static_cast<int>(zeph::kPopConnectFailed),
                  [&] { return zeph::popBeforeSmtp(host, port, user, password, useApop != 0); });
}

int ZEPH_SetSecurity(int mode) {
    return fenced(0, [&] { return MailEngine::instance().setSecurity(mode); });
}

int ZEPH_SetCharset(int mode) {
    return fenced(0, [&] {
        return MailEngine::instance().withMessage(
            [&](Message& m) { return m.setCharsetMode(mode); });
    });
}

int ZEPH_SetHeloName(const char* name) {
    return fenced(0, [&] { return MailEngine::instance().setHeloName(name); });
}

int ZEPH_SetPipelining(int on) {
    if (on != 0 && on != 1) {
        return 0;
    }
    return fenced(0, [&] {
        MailEngine::instance().setPipelining(on == 1);
        return 1;
    });
}

int ZEPH_SetCAFile(const char* path) {
    return fenced(0, [&] {
        MailEngine::instance().setCaFile(path);
        return 1;
    });
}

int ZEPH_Connect(const char* host, int wait) {
    return fenced(0, [&] { return MailEngine::instance().connect(host, wait); });
}

int ZEPH_SendStart(int wait) {
    return fenced(0, [&] { return MailEngine::instance().sendStart(wait); });
}

int ZEPH_SetCommitHook(ZEPH_CommitHook hook, void* context) {
    return fenced(0, [&] {
        if (hook == nullptr) {
            MailEngine::instance().setCommitHook({});
        } else {
            MailEngine::instance().setCommitHook([hook, context] { return hook(context) != 0; });
        }
        return 1;
    });
}

int ZEPH_Send(int wait) {
    return fenced(0, [&] { return MailEngine::instance().send(wait); });
}

int ZEPH_Disconnect(int wait) {
    return fenced(0, [&] { return MailEngine::instance().disconnect(wait); });
}

int ZEPH_IsExecute(void) {
    return fenced(0, [] { return MailEngine::instance().isExecute(); });
}

int ZEPH_GetResult(void) {
    return fenced(0, [] { return MailEngine::instance().result(); });
}

void ZEPH_Stop(void) {
    fenced(0, [] {
        MailEngine::instance().stop();
        return 0;
    });
}

int ZEPH_Abort(void) {
    return fenced(0, [] { return MailEngine::instance().abort(); });
}

int ZEPH_ThreadControl(int start) {
    return fenced(0, [&] { return MailEngine::instance().threadControl(start); });
}

int ZEPH_SetDefaultHeader(void) {
    return fenced(0, [] {
        MailEngine::instance().withMessage([](Message& m) { m.setDefaultHeader(); });
        return 1;
    });
}

int ZEPH_LoadCustomHeader(const char* path) {
    return fenced(0, [&] {
        return MailEngine::instance().withMessage(
            [&](Message& m) { return m.loadCustomHeader(path); });
    });
}

int ZEPH_ClearCustomHeader(void) {
    return fenced(0, [] {
        MailEngine::instance().withMessage([](Message& m) { m.clearCustomHeader(); });
        return 1;
    });
}

int ZEPH_SetHeader(const char* name, const char* value) {
    if (name == nullptr) {
        return 0;
    }
    return setHeader(name, value);
}

int ZEPH_SetTo(const char* value) {
    return setHeader("To", value);
}
int ZEPH_SetFrom(const char* value) {
    return setHeader("From", value);
}
int ZEPH_SetCc(const char* value) {
    return setHeader("Cc", value);
}
int ZEPH_SetBcc(const char* value) {
    return setHeader("Bcc", value);
}
int ZEPH_SetSubject(const char* value) {
    return setHeader("Subject", value);
}

int ZEPH_SetMessageID(const char* domainSource) {
    return fenced(0, [&] {
        MailEngine::instance().withMessage([&](Message& m) { m.setMessageId(domainSource); });
        return 1;
    });
}

int ZEPH_SetBody(const char* text) {
    return fenced(0, [&] {
        return MailEngine::instance().withMessage([&](Message& m) { return m.setBody(text); }) ? 1
                                                                                               : 0;
    });
}

int ZEPH_AddBody(const char* text) {
    return fenced(0, [&] {
        return MailEngine::instance().withMessage([&](Message& m) { return m.addBody(text); }) ? 1
                                                                                               : 0;
    });
}

int ZEPH_SetAttach(const char* fileList) {
    return fenced(0, [&] {
        MailEngine& engine = MailEngine::instance();
        int lastError = 0;
        int rc = engine.withMessage([&](Message& m) { return m.setAttach(fileList, &lastError); });
        engine.setLastError(lastError);
        return rc;
    });
}

int ZEPH_AddAttach(const char* fileList) {
    return fenced(0, [&] {
        MailEngine& engine = MailEngine::instance();
        int lastError = 0;
        int rc = engine.withMessage([&](Message& m) { return m.addAttach(fileList, &lastError); });
        engine.setLastError(lastError);
        return rc;
    });
}

int ZEPH_GetSendSize(void) {
    return fenced(0, [] { return MailEngine::instance().getSendSize(); });
}

int ZEPH_GetNowSendSize(void) {
    return fenced(0, [] { return MailEngine::instance().nowSendSize(); });
}

int ZEPH_GetLastError(void) {
    return fenced(0, [] { return MailEngine::instance().lastError(); });
}

int ZEPH_GetSockLastError(void) {
    return fenced(0, [] { return static_cast<int>(MailEngine::instance().sockError()); });
}

int ZEPH_GetSmtpLastError(void) {
    return fenced(0, [] { return MailEngine::instance().replyCode(); });
}

int ZEPH_GetLastErrorPos(void) {
    return fenced(0, [] { return static_cast<int>(MailEngine::instance().errorPos()); });
}

const char* ZEPH_GetSMTPResult(void) {
    return fenced(static_cast<const char*>(""), [] { return MailEngine::instance().smtpResult(); });
}

}  // extern "C"
