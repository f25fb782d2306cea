// Line-by-line scripts for the engine's scripted server, as POP3 and the SMTP
// AUTH exchange need them.
#pragma once

#include <string>
#include <vector>

#include "fake_smtp.h"

namespace zeph::test {

// The first reply greets; each further one answers the next line the client
// sends. An empty reply closes the connection instead. After the last reply the
// server stays silent until the client goes.
inline Script answerLines(const std::vector<std::string>& replies) {
    Script script;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        Step step;
        step.expect = i == 0 ? "" : "\n";
        step.close = replies[i].empty();
        if (!step.close) {
            step.chunks = {replies[i]};
        }
        script.push_back(std::move(step));
    }
    return script;
}

// The lines a client sent, without their CR LF.
inline std::vector<std::string> sentLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = bytes.find("\r\n"); end != std::string::npos;
         start = end + 2, end = bytes.find("\r\n", start)) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

}  // namespace zeph::test
