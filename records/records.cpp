#include "records/records.h"

#include "records/number_text.h"
#include "records/program_place.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hopshot {

namespace fs = std::filesystem;

namespace {

constexpr char kSaveSuffix[] = ".XXXXXX";   // the temporary file beside the old one, for mkstemp

// Fields are separated by commas and line ends, as the file's writer leaves them.
class FieldReader {
public:
    explicit FieldReader(const std::string& text) : t_(text) {}
    bool atEnd() const { return i_ >= t_.size(); }

    std::string next() {
        while (i_ < t_.size() && t_[i_] == ' ') ++i_;
        std::string value;
        if (i_ < t_.size() && t_[i_] == '"') {
            const size_t close = t_.find('"', i_ + 1);
            const size_t stop = close == std::string::npos ? t_.size() : close;
            value = t_.substr(i_ + 1, stop - i_ - 1);
            i_ = stop == t_.size() ? stop : stop + 1;
            while (i_ < t_.size() && !isDelimiter(t_[i_])) ++i_;   // whatever follows the quote
        } else {
            const size_t start = i_;
            while (i_ < t_.size() && !isDelimiter(t_[i_])) ++i_;
            value = t_.substr(start, i_ - start);
        }
        skipDelimiter();
        return value;
    }

private:
    static bool isDelimiter(char c) { return c == ',' || c == '\r' || c == '\n'; }
    void skipDelimiter() {
        if (i_ >= t_.size()) return;
        if (t_[i_] == '\r') {
            ++i_;
            if (i_ < t_.size() && t_[i_] == '\n') ++i_;
        } else {
            ++i_;   // a comma or a line feed
        }
    }
    const std::string& t_;
    size_t i_ = 0;
};

int32_t scoreField(const std::string& field) {
    size_t b = field.find_first_not_of(" \t");
    size_t e = field.find_last_not_of(" \t");
    if (b == std::string::npos) return 0;
    const char* first = field.data() + b;
    const char* last = field.data() + e + 1;
    if (*first == '+') ++first;
    int32_t value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return 0;
    return value;
}

// A name that the reader would cut or trim is written between double quotes; what no quoting
// can carry is cleaned first (storedName).
std::string nameLine(const std::string& held) {
    const std::string name = storedName(held);
    const bool quote = name.find(',') != std::string::npos || (!name.empty() && name[0] == ' ');
    return quote ? "\"" + name + "\"" : name;
}

bool dirWritable(const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; }

}  // namespace

Records parseRecords(const std::string& text) {
    Records r;
    FieldReader f(text);
    if (!f.atEnd()) r.nameSolo = f.next();
    if (!f.atEnd()) r.scoreSolo = scoreField(f.next());
    if (!f.atEnd()) r.nameCoop = f.next();
    if (!f.atEnd()) r.scoreCoop = scoreField(f.next());
    return r;
}

std::string formatRecords(const Records& r) {
    return nameLine(r.nameSolo) + "\r\n" + signedNumber(r.scoreSolo) + "\r\n" + nameLine(r.nameCoop) +
           "\r\n" + signedNumber(r.scoreCoop) + "\r\n";
}

std::string storedName(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    // Between quotes a double quote would end the name early.
    const bool quoted = out.find(',') != std::string::npos ||
                        (!out.empty() && (out[0] == ' ' || out[0] == '"'));
    if (quoted)
        for (char& c : out)
            if (c == '"') c = '\'';
    return out;
}

bool nameRoundTrips(const std::string& name) {
    return name.find('"') == std::string::npos && name.find('\r') == std::string::npos &&
           name.find('\n') == std::string::npos;
}

RecordsPlace recordsPlace(const std::string& programDir) {
    return recordsPlace(programDir, dirWritable(programDir));
}

RecordsPlace recordsPlace(const std::string& programDir, bool programDirWritable) {
    const std::string local = programDir + "/" + kRecordsFile;
    const std::string data = dataHome();
    if (programDirWritable || data.empty()) return {local, local};
    const std::string home = data + "/" + kRecordsFile;
    std::error_code ec;
    // Read the file kept in the data directory; until there is one, the program's own.
    return {fs::exists(home, ec) ? home : local, home};
}

bool loadRecords(const std::string& path, Records& out, std::string& error) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        out = Records{};
        return true;
    }
    // Read with the system's own calls: a stream would take a file it cannot read (a directory
    // of that name, an I/O error) for an empty one, and the records would be lost at close.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read the high-score file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    const int readError = n < 0 ? errno : 0;
    ::close(fd);
    if (readError != 0) {
        error = "cannot read the high-score file " + path + ": " + std::strerror(readError);
        return false;
    }
    out = parseRecords(text);
    return true;
}

// A save that wrote part of the file says what stopped it: the system's reason when it gave
// one (no space, too large), else how much of the file was written.
bool saveRecords(const std::string& path, const Records& r, std::string& error) {
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::string failed = "cannot write the high-score file " + path + ": ";
    std::string tmp = path + kSaveSuffix;
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = failed + std::strerror(errno);
        return false;
    }
    const std::string text = formatRecords(r);
    std::string why;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = n < 0 ? std::strerror(errno) : "nothing more could be written";
            why += " (" + std::to_string(written) + " of " + std::to_string(text.size()) +
                   " bytes written)";
            break;
        }
        written += std::size_t(n);
    }
    if (why.empty() && ::fsync(fd) != 0) why = std::strerror(errno);
    if (why.empty() && ::fchmod(fd, 0644) != 0) why = std::strerror(errno);
    if (::close(fd) != 0 && why.empty()) why = std::strerror(errno);
    if (why.empty() && std::rename(tmp.c_str(), path.c_str()) != 0) why = std::strerror(errno);
    if (why.empty()) return true;
    error = failed + why;
    ::unlink(tmp.c_str());
    return false;
}

// mkstemp's six letters and digits after the file's name and its dot.
bool isSaveLeftover(const std::string& fileName, const std::string& recordsName) {
    const std::string prefix = recordsName + ".";
    if (fileName.size() != prefix.size() + 6 || fileName.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < fileName.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(fileName[i]))) return false;
    return true;
}

int removeSaveLeftovers(const std::string& path) {
    const fs::path target(path);
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string name = target.filename().string();
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (isSaveLeftover(it->path().filename().string(), name) && it->is_regular_file(kind) &&
            fs::remove(it->path(), kind))
            ++removed;
    }
    return removed;
}

}  // namespace hopshot
