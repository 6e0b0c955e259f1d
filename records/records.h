// The high-score file "gun3.x": four lines ended by CR LF, the one-player record's holder and
// score, then the cooperative record's. UTF-8 text.
#pragma once

#include <cstdint>
#include <string>

namespace hopshot {

struct Records {
    std::string nameSolo;
    int32_t scoreSolo = 0;
    std::string nameCoop;
    int32_t scoreCoop = 0;
    bool operator==(const Records&) const = default;
};

inline constexpr const char* kRecordsFile = "gun3.x";

// Reads the four fields back: a name runs from its first non-blank character to the first comma
// or the end of the line, or between double quotes when it starts with one; a score is a whole
// number with blanks around it ignored, and anything else reads as 0. Fields that are missing
// keep their empty values.
Records parseRecords(const std::string& text);
std::string formatRecords(const Records& r);

// Where the file lives: in the program's directory when that can be written, else in
// $XDG_DATA_HOME/hopshot (default ~/.local/share/hopshot). An installed program passes
// programDirWritable false whatever its folder allows: it writes in the data home only.
struct RecordsPlace {
    std::string readPath;    // the file to read at start
    std::string writePath;   // the file to write at close
};
RecordsPlace recordsPlace(const std::string& programDir);
RecordsPlace recordsPlace(const std::string& programDir, bool programDirWritable);

// A missing file gives empty records; true unless the file exists and cannot be read.
bool loadRecords(const std::string& path, Records& out, std::string& error);
// Writes a temporary file beside the old one and renames it over, so an interrupted save never
// loses the old records. On failure the old file is untouched and error names the path.
bool saveRecords(const std::string& path, const Records& r, std::string& error);

// A name the record prompt can take: one that comes back from the file exactly as typed.
bool nameRoundTrips(const std::string& name);

// The name as the file keeps it, so that the file always reads back as its two records: a line
// break (CR or LF) becomes a space, and in a name the file must quote (one that holds a comma or
// starts with a space or a double quote) each double quote becomes a single quote. Any other
// name is kept byte for byte. The game goes on holding the name as typed until the next start.
std::string storedName(const std::string& name);

// Removes the temporary files that interrupted saves (a kill during the write) left beside
// the high-score file at `path`. Returns how many. Run at start, before the records are read.
int removeSaveLeftovers(const std::string& path);
bool isSaveLeftover(const std::string& fileName, const std::string& recordsName);

}  // namespace hopshot
