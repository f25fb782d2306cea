// A DNS response is whatever arrives on our port: the parser and the cache
// must take any bytes without reading outside them or looping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "packet_buffer.h"
#include "record_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarn::mx::DnsMessage msg = tarn::mx::parseResponse(data, size);
    if (msg.headerRead != (size >= 12) || (msg.complete && !msg.headerRead)) {
        std::abort();
    }
    tarn::mx::DnsRecordCache cache;
    cache.watch("example.com.");
    for (const auto& r : msg.records) {
        // Names are at most 255 bytes on the wire, so at most 254 as text.
        if (r.owner.size() > 254 || r.target.size() > 254) {
            std::abort();
        }
        cache.watch(r.owner);
        cache.add(r);
    }
    for (const auto& q : msg.questions) {
        if (q.name.size() > 254) {
            std::abort();
        }
    }
    return 0;
}
