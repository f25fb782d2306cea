// Why a test send failed, in plain Japanese: from the engine's error values,
// the server's last reply and what the account asked for, the likely cause and
// what to change. The numbers alone ("[−21] [0] [1041]") tell an operator
// nothing; this says "the certificate is for another host".
#pragma once

#include <cstdint>
#include <string>

namespace tarn::options {

// The engine job that failed.
enum class FailedJob { Connect, Start, Send };

// The engine's error values after the failed job, read in the documented order.
struct EngineErrors {
    int lastError = 0;
    int sockError = 0;
    int replyCode = 0;
    int errorPos = 0;
    std::string replyLine;  // the first line of the last reply (Shift_JIS)
};

// What the test send asked the engine for.
struct ConnectionFacts {
    std::string host;  // Shift_JIS
    int port = 25;
    std::int32_t security = 0;   // SecurityMode
    std::string caFile;          // Shift_JIS; "" for none
    bool authenticated = false;  // SMTPAuth.txt was used
};

// The likely cause and its remedy (UTF-8, one or more lines), followed by the
// server's reply or the TLS library's reason when there is one. Never empty.
std::string explainFailure(FailedJob job, const EngineErrors& errors, const ConnectionFacts& facts);

}  // namespace tarn::options
