// `corvel dump`: reads a document from a file or standard input and dumps it.
#include "common/wbxml/dump_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>
#include <system_error>
#include <vector>

#include "common/wbxml/wbxml.h"

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~FileDescriptor() {
        if (owned_ && fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
    bool owned_;
};

std::string ErrorText(int error) { return std::system_category().message(error); }

// Reads everything from fd into bytes. Returns 0, or an errno value; EFBIG when
// the input passes kMaxDumpBytes.
int ReadAll(int fd, std::vector<char>& bytes) {
    constexpr size_t kChunk = 64 * 1024;
    for (;;) {
        size_t used = bytes.size();
        if (used > kMaxDumpBytes) return EFBIG;
        bytes.resize(used + kChunk);
        ssize_t got = ::read(fd, bytes.data() + used, kChunk);
        if (got < 0) {
            bytes.resize(used);
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.resize(used + static_cast<size_t>(got));
        if (got == 0) return bytes.size() > kMaxDumpBytes ? EFBIG : 0;
    }
}

}  // namespace

int RunDumpCommand(const std::string& pathOrDash, std::ostream& out, std::ostream& err) {
    if (pathOrDash.empty()) {
        err << "corvel dump: no file given (usage: corvel dump FILE, or - for standard input)\n";
        return 2;
    }
    const bool fromStdin = pathOrDash == "-";
    const std::string shownName = fromStdin ? "standard input" : pathOrDash;
    FileDescriptor file(fromStdin ? STDIN_FILENO : ::open(pathOrDash.c_str(), O_RDONLY | O_CLOEXEC),
                        !fromStdin);
    if (file.get() < 0) {
        err << "corvel dump: cannot open " << shownName << ": " << ErrorText(errno) << "\n";
        return 1;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
        err << "corvel dump: cannot read " << shownName << ": " << ErrorText(EISDIR) << "\n";
        return 1;
    }
    std::vector<char> bytes;
    if (int error = ReadAll(file.get(), bytes); error != 0) {
        if (error == EFBIG)
            err << "corvel dump: " << shownName << " is larger than " << kMaxDumpBytes
                << " bytes\n";
        else
            err << "corvel dump: cannot read " << shownName << ": " << ErrorText(error) << "\n";
        return 1;
    }
    CWBXML document;
    document.DumpDocument(out, bytes.data(), bytes.size());
    out.flush();
    if (!out) {
        err << "corvel dump: cannot write the dump\n";
        return 1;
    }
    return 0;
}
