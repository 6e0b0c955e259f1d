// The replay script parser. Lines are read one by one; a line is its words, separated by blanks,
// after the comment is cut off. Every word is checked (keyword spelling, number form, range), so
// a script that parses runs without a surprise half-way through.
#include "play/script.h"

#include "play/trace.h"

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <sstream>
#include <initializer_list>
#include <limits>

namespace hopshot {

namespace {

constexpr long long kMaxStep = std::numeric_limits<int32_t>::max();

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool isLowerWord(std::string_view w) {
    return std::none_of(w.begin(), w.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool validUtf8(std::string_view s) {
    for (size_t i = 0, n; i < s.size(); i += n)
        if ((n = utf8SequenceAt(s, i)) == 0) return false;
    return true;
}

std::vector<std::string_view> splitWords(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i])) ++i;
        size_t j = i;
        while (j < s.size() && !isBlank(s[j])) ++j;
        if (j > i) words.push_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

std::string quoted(std::string_view w) { return "'" + std::string(w) + "'"; }

// The words of one line after its command word, taken left to right; every failure names what
// was expected.
class LineParser {
public:
    LineParser(int line, std::vector<std::string_view> words, ScriptError& error)
        : line_(line), words_(std::move(words)), error_(error) {}

    bool fail(std::string message) {
        error_ = {line_, std::move(message)};
        return false;
    }

    bool next(std::string_view& word, const char* what) {
        if (pos_ >= words_.size()) return fail("missing " + std::string(what));
        word = words_[pos_++];
        return true;
    }

    // One of the given spellings; `index` is its place in the list.
    bool keyword(std::initializer_list<std::string_view> allowed, const char* what, int& index) {
        std::string_view w;
        if (!next(w, what)) return false;
        index = 0;
        for (std::string_view a : allowed) {
            if (w == a) return true;
            if (sameIgnoringCase(w, a)) {
                if (isLowerWord(a))
                    return fail("keywords are lower case: " + quoted(w) + " should be " + quoted(a));
                return fail(quoted(w) + " should be " + quoted(a));
            }
            ++index;
        }
        std::string list;
        int k = 0;
        for (std::string_view a : allowed) {
            if (k > 0) list += (k + 1 == int(allowed.size())) ? " or " : ", ";
            list += std::string(a);
            ++k;
        }
        return fail("unknown " + std::string(what) + " " + quoted(w) + " (expected " + list + ")");
    }

    // A decimal whole number, -?[0-9]+, within lo..hi.
    bool number(const char* what, long long lo, long long hi, long long& value) {
        std::string_view w;
        if (!next(w, what)) return false;
        size_t i = (!w.empty() && w[0] == '-') ? 1 : 0;
        if (i == w.size() || !std::all_of(w.begin() + i, w.end(), [](char c) {
                return c >= '0' && c <= '9';
            }))
            return fail(std::string(what) + " " + quoted(w) + " is not a whole number");
        // Leading zeros cannot overflow; more than 12 significant digits is out of every range.
        size_t first = i;
        while (first + 1 < w.size() && w[first] == '0') ++first;
        long long v = 0;
        bool tooLong = w.size() - first > 12;
        if (!tooLong)
            for (size_t k = first; k < w.size(); ++k) v = v * 10 + (w[k] - '0');
        if (i == 1) v = -v;
        if (tooLong || v < lo || v > hi)
            return fail(std::string(what) + " " + quoted(w) + " is out of range " +
                        std::to_string(lo) + ".." + std::to_string(hi));
        value = v;
        return true;
    }

    bool end() {
        if (pos_ < words_.size()) return fail("extra word " + quoted(words_[pos_]));
        return true;
    }

private:
    int line_;
    std::vector<std::string_view> words_;
    size_t pos_ = 1;   // words_[0] is the command
    ScriptError& error_;
};

bool parseMarks(LineParser& p, std::array<bool, 4>& marks) {
    static const char* const names[] = {"first check mark", "second check mark",
                                        "third check mark", "fourth check mark"};
    for (int i = 0; i < 4; ++i) {
        long long v;
        if (!p.number(names[i], 0, 1, v)) return false;
        marks[i] = v == 1;
    }
    return p.end();
}

bool parseAt(LineParser& p, ScriptEvent& e) {
    long long v;
    if (!p.number("step", 1, kMaxStep, v)) return false;
    e.step = long(v);
    int kind;
    if (!p.keyword({"key", "joy", "menu", "tick"}, "event", kind)) return false;
    if (kind == 3) {
        e.kind = ScriptEvent::Kind::Tick;
    } else if (kind == 0) {
        int dir;
        if (!p.keyword({"down", "up"}, "key direction", dir)) return false;
        e.kind = dir == 0 ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
        if (!p.number("key code", 0, 255, v)) return false;
        e.keyCode = int16_t(v);
        if (!p.number("modifier mask", 0, 7, v)) return false;
        e.mask = int16_t(v);
    } else if (kind == 1) {
        e.kind = ScriptEvent::Kind::Joy;
        if (!p.number("joystick", 0, 1, v)) return false;
        e.joystick = int(v);
        if (!p.number("joystick x", 0, 65535, v)) return false;
        e.x = int32_t(v);
        if (!p.number("joystick y", 0, 65535, v)) return false;
        e.y = int32_t(v);
        if (!p.number("joystick buttons", 0, 4294967295LL, v)) return false;
        e.buttons = uint32_t(v);
    } else {
        e.kind = ScriptEvent::Kind::Menu;
        static const MenuItem items[] = {MenuItem::Player1,    MenuItem::Player2,
                                         MenuItem::Player3,    MenuItem::Player4,
                                         MenuItem::LiveCamera, MenuItem::SmallScreen,
                                         MenuItem::SimpleDisplay, MenuItem::Wireframe};
        int item;
        if (!p.keyword({"1P", "2P", "3P", "4P", "live", "small", "simple", "wire"}, "menu item",
                       item))
            return false;
        e.item = items[item];
    }
    return p.end();
}

constexpr CarriedValue kCarried[] = {CarriedValue::ShellKind, CarriedValue::SteerX,
                                     CarriedValue::SteerY, CarriedValue::HopperVY,
                                     CarriedValue::BloodBudget};

bool parseSet(LineParser& p, ScriptCommand& c) {
    int which;
    if (!p.keyword({"shellKind", "steerX", "steerY", "hopperVY", "bloodBudget"}, "value name",
                   which))
        return false;
    c.value = kCarried[which];
    long long v;
    const int size = carriedValueSize(c.value);
    if (size > 1) {
        if (!p.number("index", 0, size - 1, v)) return false;
        c.index = int(v);
    }
    if (!p.number("value", std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max(),
                  v))
        return false;
    c.setTo = int16_t(v);
    return p.end();
}

// The words of a line with its comment cut off; false when the line is not valid UTF-8.
bool lineWords(std::string_view& line, int lineNo, std::vector<std::string_view>& words,
               ScriptError& error) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!validUtf8(line)) {
        error = {lineNo, "not valid UTF-8"};
        return false;
    }
    if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    words = splitWords(line);
    return true;
}

}  // namespace

const char* carriedValueName(CarriedValue v) {
    switch (v) {
    case CarriedValue::ShellKind: return "shellKind";
    case CarriedValue::SteerX: return "steerX";
    case CarriedValue::SteerY: return "steerY";
    case CarriedValue::HopperVY: return "hopperVY";
    case CarriedValue::BloodBudget: return "bloodBudget";
    }
    return "";
}

int carriedValueSize(CarriedValue v) {
    switch (v) {
    case CarriedValue::ShellKind:
    case CarriedValue::SteerX:
    case CarriedValue::SteerY: return kPlayers;
    case CarriedValue::HopperVY: return kHoppers;
    case CarriedValue::BloodBudget: return 1;
    }
    return 1;
}

int16_t& carriedValueRef(World& w, CarriedValue v, int index) {
    switch (v) {
    case CarriedValue::ShellKind: return w.shellKind.at(size_t(index));
    case CarriedValue::SteerX: return w.steerX.at(size_t(index));
    case CarriedValue::SteerY: return w.steerY.at(size_t(index));
    case CarriedValue::HopperVY: return w.hopperVY.at(size_t(index));
    case CarriedValue::BloodBudget: break;
    }
    return w.bloodBudget;
}

bool parseEventLine(std::string_view text, int lineNo, ScriptEvent& event, ScriptError& error) {
    error = ScriptError{};
    if (size_t nl = text.find('\n'); nl != std::string_view::npos) {
        error = {lineNo, "more than one line"};
        return false;
    }
    std::vector<std::string_view> words;
    if (!lineWords(text, lineNo, words, error)) return false;
    if (words.empty()) {
        error = {lineNo, "missing 'at' line"};
        return false;
    }
    LineParser p(lineNo, words, error);
    if (words[0] != "at") return p.fail("expected an 'at' line, not " + quoted(words[0]));
    event = ScriptEvent{};
    event.line = lineNo;
    return parseAt(p, event);
}

bool parseScript(std::string_view text, Script& script, ScriptError& error) {
    script = Script{};
    error = ScriptError{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);   // a byte-order mark

    int game = -1;   // index of the game command that `at` lines belong to
    int lineNo = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? nl : nl - start);
        start = nl == std::string_view::npos ? text.size() : nl + 1;
        ++lineNo;
        std::vector<std::string_view> words;
        if (!lineWords(line, lineNo, words, error)) return false;
        if (words.empty()) continue;
        const std::string_view cmd = words[0];
        LineParser p(lineNo, std::move(words), error);

        ScriptCommand c;
        c.line = lineNo;
        if (cmd == "name") {
            // The rest of the line after one blank, spaces kept; `name` alone types nothing.
            size_t at = size_t(cmd.data() - line.data()) + cmd.size();
            c.kind = ScriptCommand::Kind::Name;
            c.name = at < line.size() ? std::string(line.substr(at + 1)) : std::string();
            script.commands.push_back(std::move(c));
            continue;
        }
        if (cmd == "players" || cmd == "options") {
            c.kind = cmd == "players" ? ScriptCommand::Kind::Players : ScriptCommand::Kind::Options;
            if (!parseMarks(p, c.marks)) return false;
            script.commands.push_back(std::move(c));
        } else if (cmd == "timer") {
            long long v;
            if (!p.number("timer phase", 1, kStepsPerSecond, v) || !p.end()) return false;
            c.kind = ScriptCommand::Kind::Timer;
            c.timerPhase = int(v);
            script.commands.push_back(std::move(c));
        } else if (cmd == "joysticks") {
            long long v;
            if (!p.number("joystick count", 0, 2, v) || !p.end()) return false;
            script.joysticks = int(v);
        } else if (cmd == "game") {
            if (!p.end()) return false;
            c.kind = ScriptCommand::Kind::Game;
            game = int(script.commands.size());
            script.commands.push_back(std::move(c));
        } else if (cmd == "at") {
            if (game < 0) return p.fail("'at' before any 'game' line");
            ScriptEvent e;
            e.line = lineNo;
            if (!parseAt(p, e)) return false;
            if (e.kind == ScriptEvent::Kind::Tick) script.commands[game].ticks = true;
            script.commands[game].events.push_back(e);
        } else if (cmd == "draws") {
            long long v;
            if (!p.number("draw count", 0, kMaxDraws, v) || !p.end()) return false;
            c.kind = ScriptCommand::Kind::Draws;
            c.draws = uint64_t(v);
            script.commands.push_back(std::move(c));
        } else if (cmd == "set") {
            c.kind = ScriptCommand::Kind::Set;
            if (!parseSet(p, c)) return false;
            script.commands.push_back(std::move(c));
        } else {
            for (std::string_view known : {"players", "options", "joysticks", "timer", "name",
                                           "game", "at", "draws", "set"})
                if (sameIgnoringCase(cmd, known))
                    return p.fail("keywords are lower case: " + quoted(cmd) + " should be " +
                                  quoted(known));
            return p.fail("unknown command " + quoted(cmd));
        }
    }

    // Within a game the events go by step; lines of the same step keep their script order.
    for (ScriptCommand& c : script.commands)
        std::stable_sort(c.events.begin(), c.events.end(),
                         [](const ScriptEvent& a, const ScriptEvent& b) { return a.step < b.step; });
    return true;
}

bool loadScript(const std::string& path, Script& script, std::string& message, int* line) {
    if (line) *line = 0;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        message = path + ": cannot read the script";
        return false;
    }
    ScriptError error;
    if (!parseScript(text.str(), script, error)) {
        message = path + ":" + std::to_string(error.line) + ": " + error.message;
        if (line) *line = error.line;
        return false;
    }
    return true;
}

}  // namespace hopshot
