#include "net/messages.h"

#include <algorithm>
#include <sstream>

namespace hopshot {

namespace {

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

GameStart gameStartOf(const StartMessage& m) {
    GameStart g;
    g.players = m.players;
    g.draws = m.draws;
    g.carried = m.carried;
    return g;
}

std::vector<ScriptEvent> startJoyEvents(const StartMessage& m) {
    std::vector<ScriptEvent> v;
    for (int j = 0; j < 2; ++j) {
        ScriptEvent e;
        e.kind = ScriptEvent::Kind::Joy;
        e.step = 1;
        e.joystick = j;
        e.x = m.joys[size_t(j)].x;
        e.y = m.joys[size_t(j)].y;
        e.buttons = m.joys[size_t(j)].buttons;
        v.push_back(e);
    }
    return v;
}

std::string encodeStart(const StartMessage& m) {
    std::string s = "start " + std::to_string(m.game) + " " + std::to_string(m.delay) + " " +
                    std::to_string(m.stepLimit);
    for (size_t i = 0; i < m.machines.size(); ++i)
        s += " " + std::to_string(m.machines[i]) + ":" +
             playersDigits(i < m.machinePlayers.size() ? m.machinePlayers[i] : Players{});
    s += "\n" + startLines(gameStartOf(m), CarriedValues{}) + "game\n";
    for (const ScriptEvent& e : startJoyEvents(m)) s += eventLine(e);
    return s;
}

bool decodeStart(std::string_view text, StartMessage& m) {
    std::string_view body;
    std::istringstream head{std::string(firstLine(text, body))};
    std::string word;
    m = StartMessage{};
    if (!(head >> word >> m.game >> m.delay >> m.stepLimit) || word != "start" || m.game < 1 ||
        m.delay < 1 || m.delay > kMaxDelay || m.stepLimit < 0 || m.stepLimit > kMaxStepLimit)
        return false;
    // Each machine as id:players, the host (0) first, at most four, none twice.
    for (std::string w; head >> w;) {
        const size_t colon = w.find(':');
        Players p{};
        if (colon == std::string::npos || colon == 0 || colon > 2 ||
            w.find_first_not_of("0123456789") != colon || !parsePlayersDigits(w.substr(colon + 1), p))
            return false;
        const int id = std::stoi(w.substr(0, colon));
        if (std::count(m.machines.begin(), m.machines.end(), id) || m.machines.size() >= 4) return false;
        m.machines.push_back(id);
        m.machinePlayers.push_back(p);
    }
    if (m.machines.empty() || m.machines.front() != 0) return false;
    Script s;
    ScriptError e;
    if (!parseScript(body, s, e)) return false;
    World carried;   // a fresh world: what no `set` line names is 0
    for (const ScriptCommand& c : s.commands) {
        if (c.kind == ScriptCommand::Kind::Players) m.players = c.marks;
        if (c.kind == ScriptCommand::Kind::Draws) m.draws = c.draws;
        if (c.kind == ScriptCommand::Kind::Set) carriedValueRef(carried, c.value, c.index) = c.setTo;
        if (c.kind == ScriptCommand::Kind::Game)
            for (const ScriptEvent& ev : c.events)
                if (ev.kind == ScriptEvent::Kind::Joy)
                    m.joys[size_t(ev.joystick)] = {ev.x, ev.y, ev.buttons};
    }
    m.carried = carriedValues(carried);
    return true;
}

std::string encodeStep(const StepMessage& m) {
    std::string s = "step " + std::to_string(m.game) + " " + std::to_string(m.machine) + " " +
                    std::to_string(m.step) + " " + std::to_string(m.hashStep) + " " +
                    std::to_string(m.hash) + "\n";
    for (ScriptEvent e : m.events) {
        e.step = m.step;
        s += eventLine(e);
    }
    return s;
}

bool decodeStep(std::string_view text, StepMessage& m) {
    std::string_view body;
    std::istringstream head{std::string(firstLine(text, body))};
    std::string word;
    m = StepMessage{};
    if (!(head >> word >> m.game >> m.machine >> m.step >> m.hashStep >> m.hash) || word != "step")
        return false;
    int line = 0;
    for (size_t start = 0; start < body.size();) {
        size_t nl = body.find('\n', start);
        if (nl == std::string_view::npos) nl = body.size();
        ScriptEvent e;
        ScriptError error;
        if (!parseEventLine(body.substr(start, nl - start), ++line, e, error) || e.step != m.step)
            return false;
        m.events.push_back(e);
        start = nl + 1;
    }
    return true;
}

}  // namespace hopshot
