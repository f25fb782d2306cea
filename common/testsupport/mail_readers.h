// Stored messages read back by independent readers from Debian, as a
// recipient's mail program would: Perl's Email::MIME with Encode (standard
// ISO-2022-JP and UTF-8, or Encode::EUCJPMS's cp50221 for the NEC special and
// IBM extension rows), and ripmime and munpack for the attachments. Shared by
// the composition tests and the whole-send tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mail_readers {

// What Perl read, in UTF-8: the fields "subject", "subject-mime" (Email::MIME's
// own header decoding, a standard reader), "from", "to", "cc", "charset" and
// "body"; per attachment "name", "name-words" and "data".
struct PerlRead {
    std::map<std::string, std::string> fields;
    std::vector<std::map<std::string, std::string>> files;

    // The field as code page 932 spells its characters, "<missing>" when absent.
    std::string field(const std::string& key) const;
};

// jisDecoder: "iso-2022-jp" or "cp50221". A byte sequence the decoder does not
// know fails the test, never a silent substitution.
PerlRead perlRead(const std::filesystem::path& message, const std::string& jisDecoder);

// The readers' Unicode spellings of the JIS cells code page 932 spells
// otherwise (the wave dash and friends), turned into code page 932's.
std::string cp932Spelling(std::string utf8);

// Every line of the stored message (after dot-unstuffing) within 998 octets,
// and no SO or SI byte anywhere.
void expectWireSafe(const std::string& stored);

struct SavedFile {
    std::string expected;  // the name a recipient should see, UTF-8
    std::string bytes;
    bool text = false;  // munpack writes text files with LF line ends
};

// ripmime saves each file under its full name (by default also under every
// other name it finds for it); munpack, which writes ASCII names only (every
// other byte, spaces included, becomes "X"), saves every file whole. `work`
// is an empty folder for their output.
void expectSavedByRipmimeAndMunpack(const std::filesystem::path& message,
                                    const std::filesystem::path& work,
                                    const std::vector<SavedFile>& files);

}  // namespace mail_readers
