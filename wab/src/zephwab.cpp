// The five address-book calls over a loaded vCard book. The exports only check
// their arguments and fence the C++ underneath: nothing throws across them.
#include "wab/zephwab.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "wab/vcard.h"

struct ZephWab {
    tarn::wab::VcardBook book;
    // What the reads hand out, in order.
    struct Entry {
        std::array<std::string, ZEPHWAB_TEXT_COUNT> texts;
        std::string id;
        bool isList = false;
    };
    std::vector<Entry> entries;
    std::size_t next = 0;
};

namespace {

using tarn::wab::BookFolder;
using tarn::wab::BookGroup;
using tarn::wab::Card;

thread_local std::string g_lastError;

int failWith(std::string message) {
    g_lastError = std::move(message);
    return 0;
}

std::string trimTrailingBlanks(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.pop_back();
    }
    return s;
}

ZephWab::Entry contactEntry(const Card& c) {
    ZephWab::Entry e;
    e.texts[ZEPHWAB_NAME] = tarn::wab::displayName(c);
    e.texts[ZEPHWAB_EMAIL] = c.email;
    e.texts[ZEPHWAB_COMPANY] = c.company;
    e.texts[ZEPHWAB_DEPARTMENT] = c.department;
    e.texts[ZEPHWAB_TITLE] = c.title;
    e.texts[ZEPHWAB_FAMILY] = c.family;
    e.texts[ZEPHWAB_GIVEN] = c.given;
    for (auto& t : e.texts) {
        t = trimTrailingBlanks(std::move(t));
    }
    return e;
}

// Identifiers name the kind, the position and the name, so that an identifier
// kept from an earlier open of a book that has changed since is refused rather
// than opening some other group.
std::string makeId(char kind, std::size_t index, const std::string& name) {
    return std::string(1, kind) + ":" + std::to_string(index) + ":" + name;
}

bool parseId(std::string_view id, char& kind, std::size_t& index, std::string_view& name) {
    if (id.size() < 4 || id[1] != ':') {
        return false;
    }
    kind = id[0];
    const std::size_t colon = id.find(':', 2);
    if (colon == std::string_view::npos || colon == 2 || colon > 12) {
        return false;
    }
    index = 0;
    for (std::size_t i = 2; i < colon; ++i) {
        if (id[i] < '0' || id[i] > '9') {
            return false;
        }
        index = index * 10 + static_cast<std::size_t>(id[i] - '0');
    }
    name = id.substr(colon + 1);
    return true;
}

std::string fill(ZephWab& h, const void* container, std::size_t containerSize, int mode) {
    const auto& book = h.book;
    if (mode == ZEPHWAB_MODE_FOLDERS) {
        if (container != nullptr) {
            return "folders are listed only for the whole book";
        }
        for (std::size_t i = 0; i < book.folders.size(); ++i) {
            ZephWab::Entry e;
            e.texts[ZEPHWAB_NAME] = book.folders[i].name;
            e.id = makeId('f', i, book.folders[i].name);
            h.entries.push_back(std::move(e));
        }
        return {};
    }
    if (mode != ZEPHWAB_MODE_CONTACTS) {
        return "unknown mode " + std::to_string(mode);
    }
    if (container == nullptr) {
        for (std::size_t i = 0; i < book.cards.size(); ++i) {
            if (!book.cards[i].isGroup) {
                auto e = contactEntry(book.cards[i]);
                e.id = makeId('c', i, e.texts[ZEPHWAB_NAME]);
                h.entries.push_back(std::move(e));
            }
        }
        for (std::size_t i = 0; i < book.groups.size(); ++i) {
            ZephWab::Entry e;
            e.texts[ZEPHWAB_NAME] = trimTrailingBlanks(book.groups[i].name);
            e.id = makeId('g', i, book.groups[i].name);
            e.isList = true;
            h.entries.push_back(std::move(e));
        }
        return {};
    }
    char kind = 0;
    std::size_t index = 0;
    std::string_view name;
    if (!parseId(std::string_view(static_cast<const char*>(container), containerSize), kind, index,
                 name)) {
        return "not an entry identifier of this address book";
    }
    const std::vector<std::size_t>* cards = nullptr;
    if (kind == 'g' && index < book.groups.size() && book.groups[index].name == name) {
        cards = &book.groups[index].members;
    } else if (kind == 'f' && index < book.folders.size() && book.folders[index].name == name) {
        cards = &book.folders[index].cards;
    } else {
        return "the address book no longer holds \"" + std::string(name) + "\"";
    }
    for (std::size_t i : *cards) {
        auto e = contactEntry(book.cards[i]);
        e.id = makeId('c', i, e.texts[ZEPHWAB_NAME]);
        h.entries.push_back(std::move(e));
    }
    return {};
}

// One block holding the row, its texts and its identifier, freed by one
// ZEPHWABMemFree.
ZEPHWABROW* allocateRow(const ZephWab::Entry& e) {
    std::size_t size = sizeof(ZEPHWABROW) + e.id.size() + 1;
    for (const auto& t : e.texts) {
        size += t.size() + 1;
    }
    void* block = std::malloc(size);  // NOLINT(cppcoreguidelines-no-malloc): freed by the caller
    if (block == nullptr) {
        return nullptr;
    }
    auto* row = static_cast<ZEPHWABROW*>(block);
    char* at = static_cast<char*>(block) + sizeof(ZEPHWABROW);
    for (std::size_t i = 0; i < e.texts.size(); ++i) {
        std::memcpy(at, e.texts[i].c_str(), e.texts[i].size() + 1);
        row->texts[i] = at;
        at += e.texts[i].size() + 1;
    }
    std::memcpy(at, e.id.c_str(), e.id.size() + 1);
    row->entryId = at;
    row->entryIdSize = e.id.size();
    row->isList = e.isList ? 1 : 0;
    return row;
}

}  // namespace

extern "C" {

int ZEPHWABOpen(ZEPHWAB** handle, const char* bookPath, const void* container,
                std::size_t containerSize, int mode) {
    if (handle == nullptr || bookPath == nullptr) {
        return failWith("ZEPHWABOpen: no handle or no address-book path");
    }
    *handle = nullptr;
    try {
        auto h = std::make_unique<ZephWab>();
        auto book = tarn::wab::loadBook(bookPath);
        if (!book) {
            return failWith(book.error().message);
        }
        h->book = std::move(book.value());
        if (auto why = fill(*h, container, containerSize, mode); !why.empty()) {
            return failWith(why);
        }
        *handle = h.release();
        return 1;
    } catch (const std::exception& e) {
        return failWith(std::string("ZEPHWABOpen: ") + e.what());
    }
}

int ZEPHWABRead(ZEPHWAB* handle, ZEPHWABROW** row, int option) {
    (void)option;  // reserved, as in the calls this stands in for
    if (handle == nullptr || row == nullptr) {
        return failWith("ZEPHWABRead: no handle or no row pointer");
    }
    *row = nullptr;
    if (handle->next >= handle->entries.size()) {
        g_lastError.clear();
        return 0;
    }
    *row = allocateRow(handle->entries[handle->next]);
    if (*row == nullptr) {
        return failWith("ZEPHWABRead: out of memory");
    }
    ++handle->next;
    return 1;
}

int ZEPHWABMemCopy(void** copy, const void* source, std::size_t size) {
    if (copy == nullptr || (source == nullptr && size != 0)) {
        return failWith("ZEPHWABMemCopy: no destination or no source");
    }
    *copy = std::malloc(size == 0 ? 1 : size);  // NOLINT(cppcoreguidelines-no-malloc)
    if (*copy == nullptr) {
        return failWith("ZEPHWABMemCopy: out of memory");
    }
    if (size != 0) {
        std::memcpy(*copy, source, size);
    }
    return 1;
}

void ZEPHWABMemFree(void* memory) {
    std::free(memory);  // NOLINT(cppcoreguidelines-no-malloc)
}

void ZEPHWABClose(ZEPHWAB* handle) {
    std::unique_ptr<ZephWab> owned(handle);
}

const char* ZEPHWABLastError(void) {
    return g_lastError.c_str();
}

}  // extern "C"
