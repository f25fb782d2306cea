#include "contents/send_contents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/archive.h"
#include "common/files.h"

namespace tarn::contents {
namespace {

// No real message comes near this; a larger file is refused rather than read.
constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;

int openErrorCode(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return kContentsNotFound;
        case EIO:
            return kContentsIoError;
        case ENOMEM:
            return kContentsOutOfMemory;
        default:
            return kContentsOpenFailed;
    }
}

// Reads the file into memory, mapping each failure to its result code.
int readFileBytes(const std::filesystem::path& path, std::string& bytes) {
    // O_NONBLOCK: a FIFO is refused below instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return openErrorCode(errno);
    }
    int code = kContentsOk;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        code = kContentsOpenFailed;
    } else if (static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
        code = kContentsFormatError;
    } else {
        try {
            bytes.reserve(static_cast<std::size_t>(st.st_size));
            char buf[65536];
            for (;;) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n < 0) {
                    code = kContentsFormatError;
                    break;
                }
                if (n == 0) {
                    break;
                }
                // The file may grow while we read it; the cap still holds.
                if (bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
                    code = kContentsFormatError;
                    break;
                }
                bytes.append(buf, static_cast<std::size_t>(n));
            }
        } catch (const std::bad_alloc&) {
            code = kContentsOutOfMemory;
        }
    }
    if (::close(fd) != 0 && code == kContentsOk) {
        code = kContentsCloseFailed;
    }
    return code;
}

int saveErrorCode(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EROFS:
            return kContentsAccessDenied;
        case EIO:
            return kContentsIoError;
        case ENOMEM:
            return kContentsOutOfMemory;
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
            return kContentsOpenFailed;
        default:
            return kContentsFormatError;
    }
}

}  // namespace

std::string encodeSendContents(const SendContents& record) {
    std::string out;
    writeArchiveString(out, kSendContentsSignature);
    writeArchiveString(out, record.subject);
    writeArchiveString(out, record.attachments);
    writeArchiveString(out, record.body);
    writeArchiveString(out, record.cc);
    writeArchiveString(out, record.bcc);
    return out;
}

int decodeSendContents(std::string_view bytes, SendContents& record, SendContentsLayout* layout) {
    try {
        ByteReader reader(bytes);
        std::string signature;
        SendContents loaded = record;  // cc and bcc stay as the caller had them for earlier files
        if (!reader.readArchiveString(signature) || !reader.readArchiveString(loaded.subject) ||
            !reader.readArchiveString(loaded.attachments) ||
            !reader.readArchiveString(loaded.body)) {
            return kContentsFormatError;
        }
        const bool current = signature == kSendContentsSignature;
        if (current &&
            (!reader.readArchiveString(loaded.cc) || !reader.readArchiveString(loaded.bcc))) {
            return kContentsFormatError;
        }
        record = std::move(loaded);
        if (layout != nullptr) {
            *layout = current ? SendContentsLayout::Current : SendContentsLayout::Earlier;
        }
        return kContentsOk;
    } catch (const std::bad_alloc&) {
        return kContentsOutOfMemory;
    }
}

int LoadSendContents(const std::filesystem::path& path, SendContents& record,
                     SendContentsLayout* layout) {
    std::string bytes;
    if (const int code = readFileBytes(path, bytes); code != kContentsOk) {
        return code;
    }
    return decodeSendContents(bytes, record, layout);
}

int SaveSendContents(const std::filesystem::path& path, const SendContents& record) {
    std::string bytes;
    try {
        bytes = encodeSendContents(record);
    } catch (const std::bad_alloc&) {
        return kContentsOutOfMemory;
    }
    // The file is replaced by a rename, which would also replace a file the user
    // made read-only; refuse that as opening it for writing would have.
    unsigned mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return kContentsOpenFailed;
        }
        if (::access(path.c_str(), W_OK) != 0) {
            return saveErrorCode(errno);
        }
        mode = st.st_mode & 07777;  // keep the permissions the user gave the file
    }
    errno = 0;
    if (auto written = writeFileAtomically(path, bytes, mode); !written) {
        // writeFileAtomically returns right after the failing call, whose errno
        // is still set; it only refines which code we give.
        return saveErrorCode(errno);
    }
    return kContentsOk;
}

std::string normaliseBodyLineEnds(std::string_view body) {
    // One pass over bytes: an LF preceded by a CR is already a line end. (CR and
    // LF never occur inside a double-byte character.) Unlike a placeholder
    // substitution this leaves any other bytes of the body untouched.
    std::string out;
    out.reserve(body.size() + body.size() / 32);
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\n' && (i == 0 || body[i - 1] != '\r')) {
            out.push_back('\r');
        }
        out.push_back(body[i]);
    }
    return out;
}

std::vector<std::string> splitAttachments(std::string_view attachments) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start <= attachments.size()) {
        std::size_t tab = attachments.find('\t', start);
        if (tab == std::string_view::npos) {
            tab = attachments.size();
        }
        if (tab > start) {
            paths.emplace_back(attachments.substr(start, tab - start));
        }
        start = tab + 1;
    }
    return paths;
}

std::string joinAttachments(const std::vector<std::string>& paths) {
    std::string out;
    for (const auto& p : paths) {
        if (!out.empty()) {
            out.push_back('\t');
        }
        out += p;
    }
    return out;
}

const char* describeSendContentsResult(int code) {
    switch (code) {
        case kContentsOk:
            return "done";
        case kContentsIoError:
            return "I/O error while opening";
        case kContentsAccessDenied:
            return "access denied";
        case kContentsSharingViolation:
            return "sharing violation";
        case kContentsOpenFailed:
            return "cannot open";
        case kContentsNotFound:
            return "file not found";
        case kContentsCloseFailed:
            return "closing the file failed";
        case kContentsFormatError:
            return "file or format error";
        case kContentsOutOfMemory:
            return "out of memory";
        default:
            return "unknown failure";
    }
}

}  // namespace tarn::contents
