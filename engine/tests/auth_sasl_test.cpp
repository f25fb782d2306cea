#include <gtest/gtest.h>

#include <string>

#include "codec.h"
#include "sasl.h"

namespace {

TEST(Md5, Rfc1321TestSuite) {
    struct Row {
        const char* input;
        const char* digest;
    };
    const Row rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(zeph::md5Hex(row.input), row.digest) << '"' << row.input << '"';
    }
}

TEST(Md5, PaddingBoundariesAndBinaryInput) {
    // 55, 56, 63 and 64 bytes sit on either side of the one-or-two-block padding split.
    EXPECT_EQ(zeph::md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(zeph::md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(zeph::md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(zeph::md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(zeph::md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(zeph::md5Hex(std::string("\0\xff\x80", 3)), "4fd64cb80c3f86e1e9d0f559af8b370f");
}

TEST(HmacMd5, Rfc2104Vectors) {
    EXPECT_EQ(zeph::hmacMd5Hex(std::string(16, '\x0b'), "Hi There"),
              "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(zeph::hmacMd5Hex("Jefe", "what do ya want for nothing?"),
              "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(zeph::hmacMd5Hex(std::string(16, '\xaa'), std::string(50, '\xdd')),
              "56be34521d144c88dbb8c733f0e8b3f6");
    // An empty password is a key too (an empty CRAM-MD5 secret must still answer).
    EXPECT_EQ(zeph::hmacMd5Hex("", ""), "74e6f7298a9c2d168935f58c001bad88");
}

TEST(HmacMd5, KeyLongerThanBlockIsHashedFirst) {
    // RFC 2202 test cases 6 and 7: an 80-byte key.
    const std::string key(80, '\xaa');
    EXPECT_EQ(zeph::hmacMd5Hex(key, "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(zeph::hmacMd5Hex(key,
                               "Test Using Larger Than Block-Size Key and Larger Than "
                               "One Block-Size Data"),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(Sasl, CramMd5Rfc2195Example) {
    const std::string reply = "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n";
    const std::string challenge = zeph::decodeChallenge(reply);
    EXPECT_EQ(challenge, "<1896.697170952@postoffice.reston.mci.net>");
    const std::string response = zeph::cramMd5Response("tim", "tanstaaftanstaaf", challenge);
    EXPECT_EQ(response, "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
    EXPECT_EQ(zeph::base64Decode(response).value(), "tim b913a602c7eda7a495b4e6e7334d3890");
}

TEST(Sasl, CramMd5UsesChallengeUpToFirstZeroByte) {
    const std::string withZero("<abc>\0trailing", 14);
    EXPECT_EQ(zeph::cramMd5Response("u", "p", withZero), zeph::cramMd5Response("u", "p", "<abc>"));
}

TEST(Sasl, ApopRfc1939Example) {
    EXPECT_EQ(zeph::apopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "c4c9334bac560ecc979e58001b3e22fb");
}

TEST(Sasl, AuthPlainPayload) {
    EXPECT_EQ(zeph::base64Decode(zeph::authPlainPayload("user", "pa ss")).value(),
              std::string("user\0user\0pa ss", 15));
    EXPECT_EQ(zeph::authPlainPayload("tim", "tanstaaf"), "dGltAHRpbQB0YW5zdGFhZg==");
}

TEST(Sasl, DecodeChallengeToleratesHostileText) {
    // Bytes outside the alphabet are skipped, "=" ends decoding.
    EXPECT_EQ(zeph::decodeChallenge("334 VXN\x01lc m5h*bWU6\r\n"), "Username:");
    EXPECT_EQ(zeph::decodeChallenge("334 VXNlcm5hbWU6=QUJD\r\n"), "Username:");
    // Short, empty and line-end-less replies.
    EXPECT_EQ(zeph::decodeChallenge(""), "");
    EXPECT_EQ(zeph::decodeChallenge("334"), "");
    EXPECT_EQ(zeph::decodeChallenge("334 \r\n"), "");
    EXPECT_EQ(zeph::decodeChallenge("334 UGFzc3dvcmQ6"), "Password:");
    // The decoded challenge never grows beyond 512 bytes.
    const std::string huge = "334 " + zeph::base64Encode(std::string(4000, 'x')) + "\r\n";
    EXPECT_EQ(zeph::decodeChallenge(huge), std::string(512, 'x'));
}

}  // namespace
