// Feeds arbitrary bytes to the .tn2 reader, both from memory and from a file
// read in small pieces. The two must agree; whatever they accept must save and
// read back to the same bytes, with every group member a record of the document.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "addressbook/document.h"

using tarn::addressbook::CTarnSendDoc;

namespace {

// An in-memory file with a path, so that the file reader sees the same bytes.
class MemFile {
public:
    explicit MemFile(std::string_view bytes) : m_fd(::memfd_create("tn2", 0)) {
        if (m_fd < 0 ||
            ::write(m_fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
    }
    ~MemFile() { ::close(m_fd); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto titles = tarn::addressbook::defaultFreeFieldTitles();
    CTarnSendDoc doc;
    const auto fromMemory = doc.Serialize(bytes, titles);

    const MemFile file(bytes);
    CTarnSendDoc fromFileDoc;
    const std::size_t chunk = size == 0 ? 1 : 1 + data[size - 1] % 61;
    const auto fromFile = fromFileDoc.OnOpenDocument(file.path(), titles, chunk);
    if (fromMemory.ok() != fromFile.ok() ||
        (!fromMemory && fromMemory.error().offset != fromFile.error().offset)) {
        std::abort();
    }
    if (!fromMemory) {
        return 0;
    }
    for (const auto& g : doc.groups()) {
        for (const auto* r : g.members) {
            if (doc.positionOf(r) == doc.recordCount()) {
                std::abort();
            }
        }
    }
    // Members were read as 16-bit positions, so saving cannot be refused.
    auto saved = doc.Serialize();
    auto savedFromFile = fromFileDoc.Serialize();
    if (!saved || !savedFromFile || *saved != *savedFromFile) {
        std::abort();
    }
    CTarnSendDoc again;
    if (!again.Serialize(*saved, titles)) {
        std::abort();
    }
    auto resaved = again.Serialize();
    if (!resaved || *resaved != *saved) {
        std::abort();
    }
    return 0;
}
