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
    if (started_)
        return true;
    started_ =
        backend_->install(hotkey, [this](KeyEventType type, int64_t keyCode, uint64_t flags) {
            return handle(type, keyCode, flags);
        });
    return started_;
}

void HotkeyManager::stop() {
    if (started_)
        backend_->remove();
    started_ = false;
    pressed_ = false;
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
