// dnsmasq on a loopback address with a generated configuration and no
// upstream: the real DNS server of the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testsupport.h"

namespace tarn::mx::test {

class Dnsmasq {
public:
    // `config` lines go into the generated configuration file. The server
    // listens on 127.0.0.2, port 53 when that can be had, else a free port.
    explicit Dnsmasq(const std::vector<std::string>& config);
    std::string address() const { return "127.0.0.2"; }
    std::uint16_t port() const { return m_port; }
    std::string output() const { return m_process ? m_process->output() : std::string(); }

private:
    tarn::test::TempDir m_dir;
    std::unique_ptr<tarn::test::ChildProcess> m_process;
    std::uint16_t m_port = 0;
};

}  // namespace tarn::mx::test
