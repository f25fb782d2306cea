// The system's table of media types by file-name extension, as Debian's
// media-types package installs it (/etc/mime.types): one type per line,
// followed by its extensions, "#" starting a comment.
//
//   application/pdf                 pdf
//   text/plain                      txt text conf def list log in
//
// The file is read as hostile input: it is bounded in size, every type must
// be a well-formed RFC 6838 name (it goes into a header line), extensions are
// letters, digits and a few punctuation marks, and composite types (message/,
// multipart/) are never taken, as a file's bytes cannot be sent as one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zeph {

inline constexpr std::string_view kOctetStream = "application/octet-stream";

class MediaTypes {
public:
    // At most this many bytes of the table are read; the rest is ignored.
    static constexpr std::size_t kMaxTableBytes = std::size_t{1} << 20;

    static MediaTypes parse(std::string_view table);
    // The table of this machine, read once per process; empty when missing.
    static const MediaTypes& system();
    static constexpr const char* kSystemTable = "/etc/mime.types";

    // The type of a file name by its extension (any case), or
    // application/octet-stream when the table has none.
    std::string_view typeOf(std::string_view fileName) const;
    std::size_t size() const { return m_types.size(); }

private:
    std::unordered_map<std::string, std::string> m_types;  // lower-case extension -> type
};

}  // namespace zeph
