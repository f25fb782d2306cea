// vCard files (RFC 2426 version 3.0, RFC 6350 version 4.0, and the 2.1 form that
// phones still write) read into contacts and groups: the system address book
// of this suite.
//
// A file is UTF-8, or Shift_JIS (CP932) when it is not valid UTF-8 or a value
// says CHARSET=SHIFT_JIS. Folded lines (a line break followed by a space or a
// tab) are joined, quoted-printable values are decoded (with their soft line
// breaks), and the text escapes \n \, \; \\ are undone. Every text handed out is
// UTF-8.
//
// Hostile input is bounded by VcardLimits: a file, a logical line or a book over
// its limit is an error that names the file and the line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace tarn::wab {

struct VcardLimits {
    std::size_t maxFileBytes = std::size_t{64} << 20;   // 64 MiB
    std::size_t maxLineBytes = std::size_t{4} << 20;    // one logical line (photos are long)
    std::size_t maxCards = 200'000;                     // in one book
    std::size_t maxBookBytes = std::size_t{512} << 20;  // all files of a folder book
    std::size_t maxFiles = 20'000;
    std::size_t maxFolderDepth = 16;
};

struct Card {
    // Texts as the card gives them (UTF-8); empty when absent.
    std::string formattedName;        // FN
    std::string family, given;        // N: family;given;...
    std::string company, department;  // ORG: company;department[;unit...]
    std::string title;                // TITLE
    // Every address in card order; `email` is the preferred one (PREF=1 in 4.0,
    // TYPE=PREF in 3.0 and 2.1), else the first.
    std::vector<std::string> emails;
    std::string email;
    std::vector<std::string> categories;  // CATEGORIES, each a group
    std::string uid;
    // KIND:group (or the X-ADDRESSBOOKSERVER-KIND some servers write): a list
    // whose MEMBER values ("mailto:..." or "urn:uuid:...") name its members.
    bool isGroup = false;
    std::vector<std::string> members;
    // Where it came from, for messages.
    std::string file;      // UTF-8 path
    std::size_t line = 0;  // line of BEGIN:VCARD (1-based)
};

// Parses the cards of one file. `fileName` is used in messages and kept in
// Card::file. Lines outside BEGIN:VCARD/END:VCARD are ignored; a card that is
// not closed at the end of the file is kept.
Result<std::vector<Card>> parseVcards(std::string_view bytes, std::string_view fileName,
                                      const VcardLimits& limits = {});

// The display name of a card: FN, else family and given name joined by a
// space, else the company.
std::string displayName(const Card& c);

// A book: a .vcf file, or a folder. In a folder every *.vcf (and *.vcard) file
// is read, in name order; files directly in the folder belong to no folder of
// the book, and each subfolder (at any depth, named by its path below the book
// folder with "/") is a folder of the book. Symbolic links to folders are not
// followed, so a link loop cannot make the walk endless.
struct BookFolder {
    std::string name;                // UTF-8
    std::vector<std::size_t> cards;  // indexes into VcardBook::cards
};

struct BookGroup {
    std::string name;                                 // UTF-8
    std::vector<std::size_t> members;                 // indexes of contacts, in membership order
    std::size_t card = static_cast<std::size_t>(-1);  // the KIND:group card, if any
};

struct VcardBook {
    std::vector<Card> cards;  // contacts and group cards, in file order
    std::vector<BookFolder> folders;
    // KIND:group cards first (file order), then each CATEGORIES value in the
    // order it was first seen. A MEMBER that names no contact is left out.
    std::vector<BookGroup> groups;
};

Result<VcardBook> loadBook(const std::filesystem::path& path, const VcardLimits& limits = {});

}  // namespace tarn::wab
