#include "options/failure_cause.h"

#include <cerrno>
#include <string_view>

#include "common/cp932.h"
#include "common/sjis.h"

namespace tarn::options {
namespace {

// The engine's socket-error values and error positions (zeph.h).
constexpr int kStopped = -1;
constexpr int kUnresolved = -3;
constexpr int kNoHost = -5;
constexpr int kNotWritable = -10;
constexpr int kNoReply = -11;
constexpr int kClosed = -12;
constexpr int kTlsHandshake = -20;
constexpr int kTlsCertificate = -21;
constexpr int kStartTls = -22;
constexpr int kPosResolve = 1030;
constexpr int kPosTcpConnect = 1031;
constexpr int kPosTlsHandshake = 1040;
constexpr int kPosTlsCertificate = 1041;
constexpr int kPosStartTls = 1042;

constexpr int kSecurityTls = 2;

std::string utf8(std::string_view sjis) {
    return cp932::toUtf8Lossy(sjis);
}

bool contains(std::string_view text, std::string_view what) {
    return sjis::asciiLower(text).find(sjis::asciiLower(what)) != std::string::npos;
}

std::string server(const ConnectionFacts& f) {
    return "SMTPサーバー「" + utf8(f.host) + "」";
}

std::string portText(int port) {
    return "ポート " + std::to_string(port);
}

bool noAnswer(const EngineErrors& e) {
    return e.sockError == kNoReply || e.sockError == kClosed || e.sockError == kNotWritable;
}

// The TLS library refused the certificate; its reason says why.
std::string certificateCause(const EngineErrors& e, const ConnectionFacts& f) {
    const std::string_view reason = e.replyLine;
    // The engine names an unreadable CA file first: "CA ファイル NAME を読めません (why)".
    if (const std::string text = utf8(reason);
        text.starts_with("CA ファイル ") && contains(text, "を読めません")) {
        return "CA ファイル「" + utf8(f.caFile) +
               "」を読み込めません。\nファイルの場所と形式（PEM）を確認して下さい。";
    }
    if (contains(reason, "hostname mismatch") || contains(reason, "ip address mismatch")) {
        return "サーバーの証明書は別のホスト名のものです。\n" + server(f) +
               "を、証明書に書かれた名前（サーバーの正式な名前）に合わせて下さい。";
    }
    if (contains(reason, "expired")) {
        return "サーバーの証明書の有効期限が切れています。\nサーバーの管理者に連絡して下さい。";
    }
    if (contains(reason, "not yet valid")) {
        return "サーバーの証明書がまだ有効になっていません。\nこのパソコンの日付と時刻を確認して下"
               "さい。";
    }
    if (contains(reason, "self-signed") || contains(reason, "self signed") ||
        contains(reason, "local issuer") || contains(reason, "unable to verify") ||
        contains(reason, "unable to get issuer")) {
        if (!f.caFile.empty()) {
            return "サーバーの証明書は、指定した CA "
                   "ファイルの認証局が発行したものではありません。\n"
                   "正しい CA ファイルを指定して下さい。";
        }
        return "サーバーの証明書を発行した認証局が信頼されていません。\n"
               "社内の認証局が発行した証明書なら、その認証局の証明書を「CA "
               "ファイル」に指定して下さい。";
    }
    return "サーバーの証明書を確認できませんでした。";
}

std::string handshakeCause(const EngineErrors& e, const ConnectionFacts& f) {
    if (noAnswer(e)) {
        return "SSL/TLS の開始中に、サーバーが応答しなくなりました。";
    }
    if (f.security == kSecurityTls && f.port != 465) {
        return portText(f.port) +
               " は SSL/TLS を使わないポートのようです。\n"
               "暗号化を「STARTTLS」（通常ポート 587）にするか、ポート番号を 465 にして下さい。";
    }
    return "サーバーと SSL/TLS "
           "の接続を確立できませんでした。\n暗号化の方式とポート番号を確認して下さい。";
}

std::string connectCause(const EngineErrors& e, const ConnectionFacts& f) {
    if (e.sockError == kNoHost) {
        return "SMTPサーバー名が空か、長すぎます。";
    }
    if (e.errorPos == kPosResolve || e.sockError == kUnresolved) {
        return server(f) +
               "が見つかりません（名前を IP アドレスにできません）。\n"
               "サーバー名の綴りと、ネットワークにつながっているかを確認して下さい。";
    }
    if (e.errorPos == kPosTcpConnect) {
        if (e.sockError == ECONNREFUSED) {
            return server(f) + "の" + portText(f.port) +
                   " は接続を受け付けていません。\nポート番号と、サーバーが動いているかを確認して下"
                   "さい。";
        }
        if (e.sockError == ETIMEDOUT || e.sockError == EHOSTUNREACH || e.sockError == ENETUNREACH ||
            e.sockError == kNotWritable) {
            return server(f) +
                   "に届きません。\nネットワーク、ファイアウォール、サーバー名を確認して下さい。";
        }
        return server(f) + "の" + portText(f.port) + " に接続できません。";
    }
    if (e.errorPos == kPosTlsCertificate || e.sockError == kTlsCertificate) {
        return certificateCause(e, f);
    }
    if (e.errorPos == kPosTlsHandshake || e.sockError == kTlsHandshake) {
        return handshakeCause(e, f);
    }
    if (noAnswer(e)) {
        if (f.port == 465 && f.security != kSecurityTls) {
            return "ポート 465 は通常 SSL/TLS 用のポートです。\n暗号化を「SSL/TLS」にして下さい。";
        }
        return server(f) +
               "から最初の応答がありません。\nポート番号と暗号化の方式を確認して下さい。";
    }
    if (e.replyCode != 0 && e.replyCode != 220) {
        return server(f) + "が接続を断りました。";
    }
    return server(f) + "に接続できませんでした。";
}

std::string startCause(const EngineErrors& e, const ConnectionFacts& f) {
    if (e.errorPos == kPosStartTls || e.sockError == kStartTls) {
        return "サーバーが STARTTLS に応じません。\n"
               "暗号化の方式とポート番号を確認して下さい（SSL/TLS ならポート 465）。";
    }
    if (e.errorPos == kPosTlsCertificate || e.sockError == kTlsCertificate) {
        return certificateCause(e, f);
    }
    if (e.errorPos == kPosTlsHandshake || e.sockError == kTlsHandshake) {
        return handshakeCause(e, f);
    }
    if (e.replyCode == 538 || (e.replyCode == 530 && contains(e.replyLine, "TLS"))) {
        return "サーバーは暗号化した接続でしか認証を受け付けません。\n暗号化を「STARTTLS」にして下"
               "さい。";
    }
    if (f.authenticated &&
        (e.replyCode == 535 || e.replyCode == 534 || e.replyCode == 454 || e.replyCode == 504)) {
        return "SMTP 認証に失敗しました。\nSMTPAuth.txt "
               "のユーザーIDとパスワード（と認証方式）を確認して下さい。";
    }
    if (contains(e.replyLine, "ABNORMAL CMD")) {
        return "サーバーが最初の挨拶（HELO/EHLO）を断りました。";
    }
    if (noAnswer(e)) {
        return "サーバーからの応答がありません。";
    }
    return "SMTP の開始に失敗しました。";
}

std::string sendCause(const EngineErrors& e, const ConnectionFacts& f) {
    if (e.replyCode == 530 || (e.replyCode == 550 && contains(e.replyLine, "auth"))) {
        return f.authenticated ? "サーバーが送信を認めませんでした（認証が足りません）。"
                               : "サーバーが SMTP 認証を求めています。\n"
                                 "プログラムと同じフォルダーの SMTPAuth.txt "
                                 "にユーザーIDとパスワードを書いて下さい。";
    }
    if (e.replyCode >= 400 && e.replyCode < 500) {
        return "サーバーが一時的にメールを受け付けませんでした。\n時間をおいて、もう一度試して下さ"
               "い。";
    }
    if (e.replyCode >= 500) {
        return "サーバーがメールを受け付けませんでした。\n送信者と送信先のアドレスを確認して下さい"
               "。";
    }
    if (noAnswer(e)) {
        return "送信中にサーバーからの応答がなくなりました。";
    }
    return "送信中に接続が切れました。";
}

}  // namespace

std::string explainFailure(FailedJob job, const EngineErrors& errors,
                           const ConnectionFacts& facts) {
    std::string cause;
    if (errors.sockError == kStopped) {
        cause = "テスト送信が中止されました。";
    } else if (facts.port == 0) {
        // Port 0 is the engine's measure-only mode: nothing reaches the network.
        cause =
            "ポート番号が 0 です。\nSMTPサーバーのポート番号（通常 25、587 または "
            "465）を入力して下さい。";
    } else if (job == FailedJob::Connect) {
        cause = connectCause(errors, facts);
    } else if (job == FailedJob::Start) {
        cause = startCause(errors, facts);
    } else {
        cause = sendCause(errors, facts);
    }
    // The reply text is the last one received, which after a failure without a
    // reply (a refused connection) is an older one: it is evidence only with a
    // reply code, or when the TLS layer put its reason there.
    const bool tls = errors.sockError == kTlsHandshake || errors.sockError == kTlsCertificate ||
                     errors.sockError == kStartTls;
    if (!errors.replyLine.empty() && (tls || errors.replyCode != 0)) {
        cause += tls ? "\n\n詳細: " : "\n\nサーバーの応答: ";
        cause += utf8(errors.replyLine);
    }
    return cause;
}

}  // namespace tarn::options
