#pragma once

#include <functional>
#include <memory>

#include "input/Hotkey.h"
#include "input/HotkeyDecision.h"
#include "platform/MainQueue.h"

namespace quenda {

// Watches the keyboard of the whole session, whichever application has the focus, and turns
// one key combination into a press (when it goes down) and a release (when its key comes up).
// The combination's events are taken out of the stream, so the focused application never sees
// them. `onPress` and `onRelease` run later on the main queue, never inside the hook.
//
// Create, assign the callbacks, start, and destroy on the main thread.
class HotkeyManager {
  public:
    // A platform's global key hook. It delivers the key events it sees for the hotkey to the
    // handler on a thread of its own choosing, translated into the hotkey's encoding, and acts
    // on the verdicts it gets back.
    class Backend {
      public:
        using EventHandler =
            std::function<HotkeyDecision(KeyEventType type, int64_t keyCode, uint64_t flags)>;
        // Called on the hook's thread each time the hook has tried to take the combination
        // again (after a change of the keyboard map), with whether it holds it now.
        using GrabHandler = std::function<void(bool active)>;

        virtual ~Backend() = default;
        // Installs the hook; false, with nothing kept, when it cannot be installed (no
        // display, no permission, the combination is taken by another program).
        virtual bool install(const Hotkey& hotkey, EventHandler handler, GrabHandler onGrab) = 0;
        // Removes the hook. When it returns, the handlers are not running and are never called
        // again. Safe to call when nothing is installed.
        virtual void remove() = 0;

        // The hook of the desktop this program was built for.
        static std::unique_ptr<Backend> createForPlatform();
    };

    HotkeyManager(Hotkey hotkey, MainQueue& mainQueue);
    HotkeyManager(Hotkey hotkey, MainQueue& mainQueue, std::unique_ptr<Backend> backend);
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    const Hotkey hotkey;
    std::function<void()> onPress;
    std::function<void()> onRelease;
    // After start(), whether the hook holds the combination, each time that changes: false
    // when a change of the keyboard map moved it and it could not be taken again (another
    // program holds it there), true when a later change gives it back. Runs on the main queue.
    std::function<void(bool active)> onActiveChange;

    // True when the hook holds the combination, now or since an earlier call. A hook that lost
    // it is installed afresh.
    bool start();
    // Removes the hook; a press being held is forgotten without a release. The callbacks stay.
    void stop();
    // Whether the hook holds the combination now (as last reported on the main queue).
    bool isStarted() const { return active_; }

  private:
    HotkeyDecision handle(KeyEventType type, int64_t keyCode, uint64_t flags);

    void grabChanged(unsigned installation, bool active);

    MainQueue& mainQueue_;
    std::unique_ptr<Backend> backend_;
    bool installed_ = false;
    bool active_ = false;
    // Counts installations, so that a report of an earlier one still queued is ignored.
    unsigned installation_ = 0;
    // Touched only by the handler while installed, and by stop() once the hook has stopped.
    bool pressed_ = false;
    // Work posted to the main queue reaches the callbacks through this, so work still queued
    // when the manager is destroyed does nothing.
    std::shared_ptr<HotkeyManager*> self_;
};

}  // namespace quenda
