// A book from a .vcf file or a folder of them, with its folders and groups.
#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

#include "common/sjis.h"
#include "wab/vcard.h"

namespace tarn::wab {
namespace {

namespace fs = std::filesystem;

bool isVcardFile(const fs::path& p) {
    const std::string ext = sjis::asciiLower(p.extension().string());
    return ext == ".vcf" || ext == ".vcard";
}

Result<std::string> readWhole(const fs::path& path, std::size_t maxBytes) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) {
        return makeError(path.string() + ": " + ec.message());
    }
    if (size > maxBytes) {
        return makeError(path.string() + ": " + std::to_string(size) + " bytes, more than the " +
                         std::to_string(maxBytes) + " read from one vCard file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return makeError(path.string() + ": cannot be opened");
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
        return makeError(path.string() + ": cannot be read whole");
    }
    return bytes;
}

// The files of one folder of the book in name order, and its subfolders.
struct Listing {
    std::vector<fs::path> files;
    std::vector<fs::path> folders;
};

Result<Listing> list(const fs::path& dir) {
    Listing l;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const auto st = it->symlink_status(ec);
        if (ec) {
            break;
        }
        if (fs::is_directory(st)) {
            l.folders.push_back(it->path());
        } else if (isVcardFile(it->path()) && it->is_regular_file(ec)) {
            l.files.push_back(it->path());  // a link to a file is read like the file
        }
    }
    if (ec) {
        return makeError(dir.string() + ": " + ec.message());
    }
    std::sort(l.files.begin(), l.files.end());
    std::sort(l.folders.begin(), l.folders.end());
    return l;
}

class Loader {
public:
    Loader(VcardBook& book, const VcardLimits& limits) : m_book(book), m_limits(limits) {}

    Status addFile(const fs::path& file, BookFolder* folder) {
        if (++m_files > m_limits.maxFiles) {
            return makeError(file.parent_path().string() + ": more than " +
                             std::to_string(m_limits.maxFiles) + " vCard files");
        }
        auto bytes = readWhole(file, m_limits.maxFileBytes);
        if (!bytes) {
            return bytes.error();
        }
        m_bytes += bytes->size();
        if (m_bytes > m_limits.maxBookBytes) {
            return makeError(file.string() + ": the book passes " +
                             std::to_string(m_limits.maxBookBytes) + " bytes");
        }
        VcardLimits left = m_limits;
        left.maxCards = m_limits.maxCards - m_book.cards.size();
        auto cards = parseVcards(bytes.value(), file.string(), left);
        if (!cards) {
            return cards.error();
        }
        for (auto& c : cards.value()) {
            if (folder != nullptr && !c.isGroup) {
                folder->cards.push_back(m_book.cards.size());
            }
            m_book.cards.push_back(std::move(c));
        }
        return Ok{};
    }

    // Reads a folder of the book; `name` is its path below the book ("" for
    // the book folder itself).
    Status addFolder(const fs::path& dir, const std::string& name, std::size_t depth) {
        if (depth > m_limits.maxFolderDepth) {
            return makeError(dir.string() + ": folders nested deeper than " +
                             std::to_string(m_limits.maxFolderDepth));
        }
        auto l = list(dir);
        if (!l) {
            return l.error();
        }
        std::size_t folderIndex = m_book.folders.size();
        if (!name.empty()) {
            m_book.folders.push_back({name, {}});
        }
        for (const auto& f : l->files) {
            BookFolder* folder = name.empty() ? nullptr : &m_book.folders[folderIndex];
            if (auto st = addFile(f, folder); !st) {
                return st;
            }
        }
        for (const auto& sub : l->folders) {
            const std::string subName =
                (name.empty() ? std::string() : name + "/") + sub.filename().string();
            if (auto st = addFolder(sub, subName, depth + 1); !st) {
                return st;
            }
        }
        return Ok{};
    }

private:
    VcardBook& m_book;
    const VcardLimits& m_limits;
    std::size_t m_files = 0;
    std::size_t m_bytes = 0;
};

std::string lowerAddress(std::string_view a) {
    return sjis::asciiLower(a);
}

// Groups: KIND:group cards with their MEMBER lists, then CATEGORIES.
void buildGroups(VcardBook& book) {
    std::map<std::string, std::size_t> byAddress;
    std::map<std::string, std::size_t> byUid;
    for (std::size_t i = 0; i < book.cards.size(); ++i) {
        const Card& c = book.cards[i];
        if (c.isGroup) {
            continue;
        }
        for (const auto& e : c.emails) {
            byAddress.emplace(lowerAddress(e), i);  // the first card with an address wins
        }
        if (!c.uid.empty()) {
            byUid.emplace(c.uid, i);
        }
    }
    auto addMember = [](BookGroup& g, std::size_t card) {
        if (std::find(g.members.begin(), g.members.end(), card) == g.members.end()) {
            g.members.push_back(card);
        }
    };
    for (std::size_t i = 0; i < book.cards.size(); ++i) {
        const Card& c = book.cards[i];
        if (!c.isGroup) {
            continue;
        }
        BookGroup g{displayName(c), {}, i};
        for (const auto& m : c.members) {
            std::map<std::string, std::size_t>::const_iterator found;
            if (sjis::equalsIgnoreCase(std::string_view(m).substr(0, 7), "mailto:")) {
                found = byAddress.find(lowerAddress(std::string_view(m).substr(7)));
                if (found == byAddress.end()) {
                    continue;
                }
            } else {
                found = byUid.find(m);
                if (found == byUid.end()) {
                    continue;
                }
            }
            addMember(g, found->second);
        }
        book.groups.push_back(std::move(g));
    }
    for (std::size_t i = 0; i < book.cards.size(); ++i) {
        const Card& c = book.cards[i];
        if (c.isGroup) {
            continue;
        }
        for (const auto& category : c.categories) {
            auto g = std::find_if(book.groups.begin(), book.groups.end(), [&](const BookGroup& x) {
                return sjis::equalsIgnoreCase(x.name, category);
            });
            if (g == book.groups.end()) {
                book.groups.push_back({category, {}, static_cast<std::size_t>(-1)});
                g = std::prev(book.groups.end());
            }
            addMember(*g, i);
        }
    }
}

}  // namespace

Result<VcardBook> loadBook(const fs::path& path, const VcardLimits& limits) {
    VcardBook book;
    Loader loader(book, limits);
    std::error_code ec;
    const auto st = fs::status(path, ec);
    if (ec || !fs::exists(st)) {
        return makeError(path.string() + ": no such file or folder");
    }
    Status read =
        fs::is_directory(st) ? loader.addFolder(path, "", 0) : loader.addFile(path, nullptr);
    if (!read) {
        return read.error();
    }
    buildGroups(book);
    return book;
}

}  // namespace tarn::wab
