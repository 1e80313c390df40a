#include "input/HotkeyManager.h"

namespace quenda {

HotkeyManager::HotkeyManager(Hotkey key, MainQueue& mainQueue)
    : HotkeyManager(key, mainQueue, Backend::createForPlatform()) {}

HotkeyManager::HotkeyManager(Hotkey key, MainQueue& mainQueue, std::unique_ptr<Backend> backend)
    : hotkey(key),
      mainQueue_(mainQueue),
      backend_(std::move(backend)),
      self_(std::make_shared<HotkeyManager*>(this)) {}

HotkeyManager::~HotkeyManager() {
    stop();
}

bool HotkeyManager::start() {
    if (active_)
        return true;
    stop();  // an installed hook that lost the combination starts again from nothing
    const unsigned installation = ++installation_;
    installed_ = backend_->install(
        hotkey,
        [this](KeyEventType type, int64_t keyCode, uint64_t flags) {
            return handle(type, keyCode, flags);
        },
        [this, installation](bool active) { grabChanged(installation, active); });
    active_ = installed_;
    return active_;
}

void HotkeyManager::stop() {
    if (installed_)
        backend_->remove();
    installed_ = false;
    active_ = false;
    pressed_ = false;
}

void HotkeyManager::grabChanged(unsigned installation, bool active) {
    mainQueue_.post([self = std::weak_ptr<HotkeyManager*>(self_), installation, active] {
        const auto manager = self.lock();
        if (!manager)
            return;
        HotkeyManager& owner = **manager;
        if (installation != owner.installation_ || !owner.installed_ || owner.active_ == active)
            return;
        owner.active_ = active;
        if (owner.onActiveChange)
            owner.onActiveChange(active);
    });
}

HotkeyDecision HotkeyManager::handle(KeyEventType type, int64_t keyCode, uint64_t flags) {
    const auto decision = HotkeyDecision::forEvent(hotkey, type, keyCode, flags, pressed_);
    pressed_ = decision.pressed;
    if (decision.report == HotkeyDecision::Report::none)
        return decision;

    const bool press = decision.report == HotkeyDecision::Report::press;
    mainQueue_.post([self = std::weak_ptr<HotkeyManager*>(self_), press] {
        const auto manager = self.lock();
        if (!manager)
            return;
        const auto& callback = press ? (*manager)->onPress : (*manager)->onRelease;
        if (callback)
            callback();
    });
    return decision;
}

}  // namespace quenda
