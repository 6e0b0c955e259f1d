#include "input/sdl_joysticks.h"

#include <SDL.h>

#include <algorithm>
#include <array>

namespace hopshot {

namespace {

constexpr int32_t kAxisOffset = 32768;   // SDL's -32768..32767 to the game's 0..65535
constexpr int32_t kAxisMin = 0;
constexpr int32_t kAxisMax = 65535;
constexpr int kMaskButtons = 32;         // the button mask's width

// A game controller's buttons in the order of a plain joystick's: A is button 1, B button 2.
constexpr std::array<SDL_GameControllerButton, 10> kControllerButtons{
    SDL_CONTROLLER_BUTTON_A,            SDL_CONTROLLER_BUTTON_B,
    SDL_CONTROLLER_BUTTON_X,            SDL_CONTROLLER_BUTTON_Y,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
    SDL_CONTROLLER_BUTTON_BACK,         SDL_CONTROLLER_BUTTON_START,
    SDL_CONTROLLER_BUTTON_LEFTSTICK,    SDL_CONTROLLER_BUTTON_RIGHTSTICK,
};

// The game reads the joysticks' state when it needs it; their motion and button events would
// only pile up in a queue that nobody reads.
constexpr std::array<Uint32, 13> kUnreadEvents{
    SDL_JOYAXISMOTION,        SDL_JOYBALLMOTION,        SDL_JOYHATMOTION,
    SDL_JOYBUTTONDOWN,        SDL_JOYBUTTONUP,          SDL_JOYBATTERYUPDATED,
    SDL_CONTROLLERAXISMOTION, SDL_CONTROLLERBUTTONDOWN, SDL_CONTROLLERBUTTONUP,
    SDL_CONTROLLERTOUCHPADMOTION, SDL_CONTROLLERSENSORUPDATE,
    SDL_AUDIODEVICEADDED,     SDL_AUDIODEVICEREMOVED,   // the mixer opens the default device
};

}  // namespace

bool startSdl(std::string* error) {
    // Over whatever the environment says: SIGINT and SIGTERM must stay the program's own, and
    // with no SDL window there is never one with the focus.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    SDL_SetHintWithPriority(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1", SDL_HINT_OVERRIDE);
    if (SDL_Init(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER | SDL_INIT_EVENTS) != 0) {
        if (error) *error = SDL_GetError();
        return false;
    }
    for (Uint32 type : kUnreadEvents) SDL_EventState(type, SDL_IGNORE);
    return true;
}

void stopSdl() { SDL_Quit(); }

SdlJoysticks::SdlJoysticks() {
    update();
    arrivals_.clear();   // the ones there at start are found by the detection at load
}

SdlJoysticks::~SdlJoysticks() {
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) return;   // SDL closed them when it stopped
    for (Slot& s : slots_)
        if (s.instance >= 0) detach(s.instance);
}

int SdlJoysticks::numDevs() {
    update();
    return int(slots_.size());
}

bool SdlJoysticks::position(int id, Reading& out) {
    update();
    const Slot* s = slot(id);
    if (!s) return false;
    if (s->controller) {
        SDL_GameController* c = s->controller;
        auto pressed = [c](SDL_GameControllerButton b) {
            return SDL_GameControllerGetButton(c, b) != 0;
        };
        out.x = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX) + kAxisOffset;
        out.y = SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY) + kAxisOffset;
        if (pressed(SDL_CONTROLLER_BUTTON_DPAD_LEFT)) out.x = kAxisMin;
        if (pressed(SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) out.x = kAxisMax;
        if (pressed(SDL_CONTROLLER_BUTTON_DPAD_UP)) out.y = kAxisMin;
        if (pressed(SDL_CONTROLLER_BUTTON_DPAD_DOWN)) out.y = kAxisMax;
        out.buttons = 0;
        for (size_t i = 0; i < kControllerButtons.size(); ++i)
            if (pressed(kControllerButtons[i])) out.buttons |= 1u << i;
        return true;
    }
    SDL_Joystick* j = s->joystick;
    // A missing axis reads 0 from SDL, which is centred.
    out.x = SDL_JoystickGetAxis(j, 0) + kAxisOffset;
    out.y = SDL_JoystickGetAxis(j, 1) + kAxisOffset;
    out.buttons = 0;
    const int buttons = std::min(SDL_JoystickNumButtons(j), kMaskButtons);
    for (int b = 0; b < buttons; ++b)
        if (SDL_JoystickGetButton(j, b)) out.buttons |= 1u << b;
    return true;
}

bool SdlJoysticks::capabilities(int id, Range& out) {
    update();
    if (!slot(id)) return false;
    out = {kAxisMin, kAxisMax, kAxisMin, kAxisMax};
    return true;
}

// SDL finds joysticks coming and going while it updates them. What it has attached and we have
// not is opened, in SDL's order; what we hold and it has let go is closed.
void SdlJoysticks::update() {
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) return;
    SDL_JoystickUpdate();
    // The comings and goings are read straight from SDL's lists below; their events are not needed.
    SDL_FlushEvents(SDL_JOYDEVICEADDED, SDL_JOYDEVICEREMOVED);
    SDL_FlushEvents(SDL_CONTROLLERDEVICEADDED, SDL_CONTROLLERDEVICEREMAPPED);
    for (Slot& s : slots_)
        if (s.instance >= 0 && !SDL_JoystickGetAttached(s.joystick)) detach(s.instance);
    const int n = SDL_NumJoysticks();
    for (int i = 0; i < n; ++i) {
        const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(i);
        if (instance < 0) continue;
        const bool known = std::any_of(slots_.begin(), slots_.end(), [instance](const Slot& s) {
            return s.instance == instance;
        });
        if (!known) attach(i);
    }
}

std::vector<int> SdlJoysticks::takeArrivals() {
    update();
    std::vector<int> ids;
    ids.swap(arrivals_);
    return ids;
}

void SdlJoysticks::attach(int deviceIndex) {
    Slot fresh;
    if (SDL_IsGameController(deviceIndex)) {
        fresh.controller = SDL_GameControllerOpen(deviceIndex);
        if (fresh.controller) fresh.joystick = SDL_GameControllerGetJoystick(fresh.controller);
    }
    if (!fresh.joystick) fresh.joystick = SDL_JoystickOpen(deviceIndex);
    if (!fresh.joystick) return;   // gone again already, or busy: tried again at the next update
    fresh.instance = SDL_JoystickInstanceID(fresh.joystick);

    auto free = std::find_if(slots_.begin(), slots_.end(),
                             [](const Slot& s) { return s.instance < 0; });
    if (free == slots_.end()) free = slots_.insert(slots_.end(), Slot{});
    *free = fresh;
    arrivals_.push_back(int(free - slots_.begin()));
}

void SdlJoysticks::detach(int32_t instance) {
    for (Slot& s : slots_) {
        if (s.instance != instance) continue;
        if (s.controller) SDL_GameControllerClose(s.controller);
        else SDL_JoystickClose(s.joystick);
        s = Slot{};
    }
}

SdlJoysticks::Slot* SdlJoysticks::slot(int id) {
    if (id < 0 || size_t(id) >= slots_.size() || slots_[size_t(id)].instance < 0) return nullptr;
    return &slots_[size_t(id)];
}

}  // namespace hopshot
