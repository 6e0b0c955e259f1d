#include "records/records.h"

#include "records/number_text.h"

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

// A name that the reader would cut or trim is written between double quotes.
std::string nameLine(const std::string& name) {
    const bool quote = name.find(',') != std::string::npos || (!name.empty() && name[0] == ' ');
    return quote ? "\"" + name + "\"" : name;
}

bool dirWritable(const std::string& dir) { return ::access(dir.c_str(), W_OK) == 0; }

std::string dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/hopshot";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/hopshot";
}

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

bool nameRoundTrips(const std::string& name) {
    return name.find('"') == std::string::npos && name.find('\r') == std::string::npos &&
           name.find('\n') == std::string::npos;
}

RecordsPlace recordsPlace(const std::string& programDir) {
    return recordsPlace(programDir, dirWritable(programDir));
}

RecordsPlace recordsPlace(const std::string& programDir, bool programDirWritable) {
    const std::string local = programDir + "/" + kRecordsFile;
    if (programDirWritable) return {local, local};
    const std::string home = dataHome() + "/" + kRecordsFile;
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

bool saveRecords(const std::string& path, const Records& r, std::string& error) {
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = "cannot write the high-score file " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = formatRecords(r);
    bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::fchmod(fd, 0644) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
    error = "cannot write the high-score file " + path + ": " + std::strerror(errno);
    ::unlink(tmp.c_str());
    return false;
}

}  // namespace hopshot
