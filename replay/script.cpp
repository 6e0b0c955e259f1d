// The replay script parser. Lines are read one by one; a line is its words, separated by blanks,
// after the comment is cut off. Every word is checked (keyword spelling, number form, range), so
// a script that parses runs without a surprise half-way through.
#include "replay/script.h"

#include "replay/trace.h"

#include <algorithm>
#include <cstddef>
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

// The carried values by name, with the size of their table (0: a scalar, no index).
struct CarriedValue {
    const char* name;
    int entries;
};
constexpr CarriedValue kCarried[] = {{"shellKind", kPlayers}, {"steerX", kPlayers},
                                     {"steerY", kPlayers},    {"hopperVY", kHoppers},
                                     {"bloodBudget", 0}};

bool parseSet(LineParser& p, ScriptCommand& c) {
    int which;
    if (!p.keyword({"shellKind", "steerX", "steerY", "hopperVY", "bloodBudget"}, "value name",
                   which))
        return false;
    const CarriedValue& v = kCarried[which];
    long long n = 0;
    if (v.entries > 0 && !p.number("index", 0, v.entries - 1, n)) return false;
    long long value;
    if (!p.number("value", -32768, 32767, value) || !p.end()) return false;
    c.kind = ScriptCommand::Kind::Set;
    c.setName = v.name;
    c.setIndex = int(n);
    c.setValue = int16_t(value);
    return true;
}

}  // namespace

bool setCarriedValue(World& w, std::string_view name, int index, int16_t value) {
    auto entry = [&](auto& table) {
        if (index < 0 || index >= int(table.size())) return false;
        table[size_t(index)] = value;
        return true;
    };
    if (name == "shellKind") return entry(w.shellKind);
    if (name == "steerX") return entry(w.steerX);
    if (name == "steerY") return entry(w.steerY);
    if (name == "hopperVY") return entry(w.hopperVY);
    if (name == "bloodBudget" && index == 0) {
        w.bloodBudget = value;
        return true;
    }
    return false;
}

std::string carriedValueLines(const World& w) {
    std::string s;
    auto table = [&s](const char* name, const auto& t) {
        for (size_t i = 0; i < t.size(); ++i)
            s += "set " + std::string(name) + " " + std::to_string(i) + " " + std::to_string(t[i]) +
                 "\n";
    };
    table("shellKind", w.shellKind);
    table("steerX", w.steerX);
    table("steerY", w.steerY);
    table("hopperVY", w.hopperVY);
    s += "set bloodBudget " + std::to_string(w.bloodBudget) + "\n";
    return s;
}

std::string eventWords(const ScriptEvent& e) {
    static const char* const items[] = {"1P", "2P", "3P", "4P", "live", "small", "simple", "wire"};
    switch (e.kind) {
    case ScriptEvent::Kind::KeyDown:
    case ScriptEvent::Kind::KeyUp:
        return std::string("key ") + (e.kind == ScriptEvent::Kind::KeyDown ? "down " : "up ") +
               std::to_string(e.keyCode) + " " + std::to_string(e.mask);
    case ScriptEvent::Kind::Joy:
        return "joy " + std::to_string(e.joystick) + " " + std::to_string(e.x) + " " +
               std::to_string(e.y) + " " + std::to_string(e.buttons);
    case ScriptEvent::Kind::Menu: return std::string("menu ") + items[int(e.item)];
    case ScriptEvent::Kind::Tick: return "tick";
    }
    return {};
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
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (!validUtf8(line)) {
            error = {lineNo, "not valid UTF-8"};
            return false;
        }
        if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);

        std::vector<std::string_view> words = splitWords(line);
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
        } else if (cmd == "draws") {
            long long v;
            if (!p.number("draw count", 0, 999999999999LL, v) || !p.end()) return false;
            c.kind = ScriptCommand::Kind::Draws;
            c.draws = v;
            script.commands.push_back(std::move(c));
        } else if (cmd == "set") {
            if (!parseSet(p, c)) return false;
            script.commands.push_back(std::move(c));
        } else if (cmd == "at") {
            if (game < 0) return p.fail("'at' before any 'game' line");
            ScriptEvent e;
            e.line = lineNo;
            if (!parseAt(p, e)) return false;
            script.commands[game].events.push_back(e);
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

}  // namespace hopshot
