#include "net/messages.h"

#include <sstream>

namespace hopshot {

namespace {

// Event lines ("key down 37 0") read with the script parser, which checks every word.
bool parseEventLines(std::string_view lines, std::vector<ScriptEvent>& events) {
    std::string text = "game\n";
    size_t start = 0;
    while (start < lines.size()) {
        size_t nl = lines.find('\n', start);
        if (nl == std::string_view::npos) nl = lines.size();
        if (nl > start) text += "at 1 " + std::string(lines.substr(start, nl - start)) + "\n";
        start = nl + 1;
    }
    Script s;
    ScriptError e;
    if (!parseScript(text, s, e) || s.commands.size() != 1) return false;
    events = s.commands[0].events;
    return true;
}

std::string_view firstLine(std::string_view text, std::string_view& rest) {
    size_t nl = text.find('\n');
    rest = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    return text.substr(0, nl);
}

}  // namespace

std::string_view messageKind(std::string_view text) {
    size_t end = text.find_first_of(" \n");
    return text.substr(0, end);
}

std::string startScript(const StartMessage& m) {
    std::string s = "joysticks 2\nplayers";
    for (bool b : m.players) s += b ? " 1" : " 0";
    s += "\ndraws " + std::to_string(m.draws) + "\n" + carriedValueLines(m.carried) + "game\n";
    for (int j = 0; j < 2; ++j)
        s += "at 1 joy " + std::to_string(j) + " " + std::to_string(m.joys[size_t(j)].x) + " " +
             std::to_string(m.joys[size_t(j)].y) + " " + std::to_string(m.joys[size_t(j)].buttons) +
             "\n";
    return s;
}

std::string encodeStart(const StartMessage& m) {
    std::string s = "start " + std::to_string(m.game) + " " + std::to_string(m.delay);
    for (int id : m.machines) s += " " + std::to_string(id);
    return s + "\n" + startScript(m);
}

bool decodeStart(std::string_view text, StartMessage& m) {
    std::string_view body;
    std::istringstream head{std::string(firstLine(text, body))};
    std::string word;
    m = StartMessage{};
    if (!(head >> word >> m.game >> m.delay) || word != "start" || m.delay < 1) return false;
    for (int id; head >> id;) m.machines.push_back(id);
    if (m.machines.empty()) return false;
    Script s;
    ScriptError e;
    if (!parseScript(body, s, e)) return false;
    for (const ScriptCommand& c : s.commands) {
        if (c.kind == ScriptCommand::Kind::Players) m.players = c.marks;
        if (c.kind == ScriptCommand::Kind::Draws) m.draws = uint64_t(c.draws);
        if (c.kind == ScriptCommand::Kind::Set)
            setCarriedValue(m.carried, c.setName, c.setIndex, c.setValue);
        if (c.kind == ScriptCommand::Kind::Game)
            for (const ScriptEvent& ev : c.events)
                if (ev.kind == ScriptEvent::Kind::Joy)
                    m.joys[size_t(ev.joystick)] = {ev.x, ev.y, ev.buttons};
    }
    return true;
}

std::string encodeStep(const StepMessage& m) {
    std::string s = "step " + std::to_string(m.game) + " " + std::to_string(m.machine) + " " +
                    std::to_string(m.step) + " " + std::to_string(m.hashStep) + " " +
                    std::to_string(m.hash) + "\n";
    for (const ScriptEvent& e : m.events) s += eventWords(e) + "\n";
    return s;
}

bool decodeStep(std::string_view text, StepMessage& m) {
    std::string_view body;
    std::istringstream head{std::string(firstLine(text, body))};
    std::string word;
    m = StepMessage{};
    if (!(head >> word >> m.game >> m.machine >> m.step >> m.hashStep >> m.hash) || word != "step")
        return false;
    return parseEventLines(body, m.events);
}

}  // namespace hopshot
