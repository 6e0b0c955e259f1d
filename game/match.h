// One game as a front end plays it: the setup when it begins, one frame step each time the front
// end asks, the teardown when it is over. The match owns no clock and never waits: the front end
// decides when a step runs (the window from its timer, a headless run as fast as it goes, a
// network game once a step's commands are in) and hands the game the step's commands first.
//
// A key's way from the window to the step, downhill: Form1::keyEvent makes it a key line
// (ScriptEvent) and Form1::takeEvent queues it in the window's LocalInput. Alone, at the turn
// before the next step (Form1::playTurn, GameInput::yieldAfter) the queue goes to applyEvents,
// where commandsOf (the translator, controls/commands' addKey and addStick) makes it the step's
// StepCommands and applyCommands hands them to the world (applyPlayerCommands, the countdown's
// tick, the menu marks); then Match::stepOnClock runs Match::step. In a network game
// NetGame::eventsBefore takes the queue instead: takePending translates it the same way and keeps
// this machine's own players' slots (ownCommands), NetSession::sendStep puts them in the
// lockstep (Lockstep::put) and on the wire (wireSteps; readSteps and Lockstep::put on every other
// machine); once a step's commands are in (or, predicting, as held so far, and corrected by
// Rollback::correct in the front end's turn) the merged commands go back to the game as key
// lines (commandEvents) through the same GameInput::yieldAfter and applyEvents, and the front end
// runs Match::step. Headless the same road starts at a script's `at` lines (ScriptInput).
#pragma once

#include "core/game.h"

namespace hopshot {

class Match {
public:
    explicit Match(Game& g) : g_(g) {}

    // The Start command's setup: the game runs from here. False, and nothing done, while a
    // game already runs.
    bool begin();
    bool running() const { return g_.w.running != 0; }
    // One frame step. A front end with a clock notes its reading after it in the world's
    // lastTick, the one its next step is measured from.
    void step();
    // The pacing of a front end with a clock (the host's tick count): a step once the clock has
    // passed lastTick + 1, then lastTick is noted as the clock reads after it (a fresh reading,
    // so a slow step slows the game rather than being made up for) and the host told. True: a
    // step ran. Asked as often as the front end likes; a tick skipped is not made up for either.
    bool stepOnClock();
    long steps() const { return steps_; }
    void end();   // the teardown: the title picture back

private:
    Game& g_;
    long steps_ = 0;
};

}  // namespace hopshot
