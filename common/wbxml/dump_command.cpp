// `corvel dump`: reads a document from a file or standard input and dumps it.
#include "common/wbxml/dump_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <system_error>
#include <vector>

#include "common/base/unique_fd.h"
#include "common/wbxml/wbxml.h"

namespace {

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

// Reads everything from in into bytes. Returns 0, EIO on a read error, or EFBIG
// when the input passes kMaxDumpBytes.
int ReadAll(std::istream& in, std::vector<char>& bytes) {
    constexpr size_t kChunk = 64 * 1024;
    while (in) {
        size_t used = bytes.size();
        if (used > kMaxDumpBytes) return EFBIG;
        bytes.resize(used + kChunk);
        in.read(bytes.data() + used, static_cast<std::streamsize>(kChunk));
        bytes.resize(used + static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) return EIO;
    return bytes.size() > kMaxDumpBytes ? EFBIG : 0;
}

int Dump(const std::vector<char>& bytes, std::ostream& out, std::ostream& err) {
    CWBXML document;
    document.DumpDocument(out, bytes.data(), bytes.size());
    out.flush();
    if (!out) {
        err << "corvel dump: cannot write the dump\n";
        return 1;
    }
    return 0;
}

void ReportReadError(int error, const std::string& shownName, std::ostream& err) {
    if (error == EFBIG)
        err << "corvel dump: " << shownName << " is larger than " << kMaxDumpBytes << " bytes\n";
    else
        err << "corvel dump: cannot read " << shownName << ": " << ErrorText(error) << "\n";
}

}  // namespace

int RunDumpCommand(const std::string& pathOrDash, std::ostream& out, std::ostream& err) {
    return RunDumpCommand(pathOrDash, out, err, std::cin);
}

int RunDumpCommand(const std::string& pathOrDash, std::ostream& out, std::ostream& err,
                   std::istream& in) {
    if (pathOrDash.empty()) {
        err << "corvel dump: no file given (usage: corvel dump FILE, or - for standard input)\n";
        return 2;
    }
    std::vector<char> bytes;
    if (pathOrDash == "-") {
        if (int error = ReadAll(in, bytes); error != 0) {
            ReportReadError(error, "standard input", err);
            return 1;
        }
        return Dump(bytes, out, err);
    }
    UniqueFd file(::open(pathOrDash.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        err << "corvel dump: cannot open " << pathOrDash << ": " << ErrorText(errno) << "\n";
        return 1;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
        ReportReadError(EISDIR, pathOrDash, err);
        return 1;
    }
    if (int error = ReadAll(file.get(), bytes); error != 0) {
        ReportReadError(error, pathOrDash, err);
        return 1;
    }
    return Dump(bytes, out, err);
}
