// A corpus of Japanese messages and the check that Python's email package
// reads them back as written; shared by the composition and end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace compose_interop {

struct Attachment {
    std::string name;      // UTF-8, as on disk
    std::string expected;  // UTF-8, as the recipient should see it
    std::string bytes;
};

struct Sample {
    // UTF-8 text as the operator typed it, and as the recipient should read it
    // (half-width katakana widened).
    std::string subject, expectedSubject;
    std::string fromName, expectedFromName;
    std::string toName, expectedToName;
    std::string body, expectedBody;
    std::vector<Attachment> attachments;
};

const std::vector<Sample>& corpus();

// The values a client hands to the engine, in Shift_JIS.
struct EngineInput {
    std::string to, from, cc, subject, body, attachList;
};
// Writes the sample's attachments into dir and returns what to hand over.
EngineInput prepare(const Sample& sample, const std::filesystem::path& dir);

// Runs the decoder on a stored message (the bytes after DATA; unstuff when
// they are still dot-stuffed) and checks every field against the sample.
void expectDecodedAsWritten(const std::filesystem::path& message, bool unstuff,
                            const Sample& sample);

}  // namespace compose_interop
