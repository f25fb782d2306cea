#include "sasl.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <climits>
#include <initializer_list>
#include <memory>

#include "codec.h"

namespace zeph {
namespace {

constexpr std::size_t kMd5Bytes = 16;
constexpr std::size_t kChallengeCap = 512;

std::string toHex(const unsigned char* digest, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 15];
    }
    return out;
}

// libcrypto set up without its clean-up at exit, as for TLS: that clean-up
// would run before the engine's worker thread is joined and strand the
// thread's libcrypto state. The thread frees its own state when it ends.
bool cryptoReady() {
    static const bool ready =
        OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_LOAD_CONFIG, nullptr) == 1;
    return ready;
}

// The MD5 of the parts one after another, as hex; empty when libcrypto fails.
std::string md5HexOf(std::initializer_list<std::string_view> parts) {
    if (!cryptoReady()) {
        return {};
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                      EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        return {};
    }
    for (std::string_view part : parts) {
        if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) {
            return {};
        }
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1 || size != kMd5Bytes) {
        return {};
    }
    return toHex(digest.data(), size);
}

}  // namespace

std::string md5Hex(std::string_view bytes) {
    return md5HexOf({bytes});
}

std::string hmacMd5Hex(std::string_view key, std::string_view data) {
    if (key.size() > static_cast<std::size_t>(INT_MAX) || !cryptoReady()) {
        return {};
    }
    // HMAC() wants a key pointer even for an empty key.
    static constexpr unsigned char kNoKey = 0;
    const void* keyBytes = key.empty() ? static_cast<const void*>(&kNoKey) : key.data();
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (HMAC(EVP_md5(), keyBytes, static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(),
             &size) == nullptr ||
        size != kMd5Bytes) {
        return {};
    }
    return toHex(digest.data(), size);
}

std::string authPlainPayload(std::string_view user, std::string_view password) {
    std::string raw;
    raw.reserve(user.size() * 2 + password.size() + 2);
    raw.append(user);
    raw += '\0';
    raw.append(user);
    raw += '\0';
    raw.append(password);
    return base64Encode(raw);
}

std::string decodeChallenge(std::string_view replyText) {
    // "334 " is the code and its separator; the reply ends in CR LF, but a hostile or
    // truncated reply may not, so only a line end that is really there is dropped.
    std::string_view text = replyText.size() > 4 ? replyText.substr(4) : std::string_view{};
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    } else if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    return base64DecodeLenient(text, kChallengeCap);
}

std::string cramMd5Response(std::string_view user, std::string_view password,
                            std::string_view challenge) {
    const auto zero = challenge.find('\0');
    if (zero != std::string_view::npos) {
        challenge = challenge.substr(0, zero);
    }
    std::string line(user);
    line += ' ';
    line += hmacMd5Hex(password, challenge);
    return base64Encode(line);
}

std::string apopDigest(std::string_view timestamp, std::string_view password) {
    return md5HexOf({timestamp, password});
}

}  // namespace zeph
