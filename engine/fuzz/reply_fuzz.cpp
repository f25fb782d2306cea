// Feeds arbitrary chunk sequences to the reply reader, as recv() would hand
// them over. Input: repeated [2-byte little-endian length][bytes]; a reply
// that ends (complete, refused or oversized) starts the next one, which first
// takes what is already buffered (pipelined replies).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zeph::ReplyReader reader;
    reader.begin();
    std::size_t pos = 0;
    while (pos + 2 <= size) {
        std::size_t want = (data[pos] | (data[pos + 1] << 8)) % (zeph::ReplyReader::kChunkSize + 1);
        pos += 2;
        std::size_t take = want < size - pos ? want : size - pos;
        std::string_view chunk(reinterpret_cast<const char*>(data + pos), take);
        pos += take;
        std::size_t before = reader.text().size();
        auto step = reader.feed(chunk);
        for (;;) {
            if (reader.text().size() > zeph::ReplyReader::kChunkSize) {
                std::abort();  // the fixed reply buffer would have overflowed
            }
            if (step == zeph::ReplyReader::Step::Overflow && reader.text().size() != before) {
                std::abort();  // an oversized reply must leave the text as it was
            }
            if (step == zeph::ReplyReader::Step::Complete &&
                (reader.text().empty() || reader.text().back() != '\n')) {
                std::abort();  // a complete reply ends a line
            }
            if (step == zeph::ReplyReader::Step::More) {
                break;
            }
            reader.begin();
            before = 0;
            step = reader.next();
        }
    }
    return 0;
}
