// Live translation through the state: the start/stop toggle and the translator's reports.

#include "app/AppState.h"
#include "l10n/L10n.h"

namespace quenda {

void AppState::wireLiveTranslator() {
    liveTranslator_ = services_.makeLiveTranslator(services_.engine);
    // Every report is stamped, on the translator's thread, with the run that was current when
    // it was made; on the main queue a report of an earlier run changes nothing. A run ends at
    // its stop (the user's or its own), so a report it made before and that is handled after
    // (its "active" status, say) cannot bring it back to the window.
    auto report = [post = mainQueuePoster(), &run = liveRun_](auto work) {
        post([work = std::move(work), madeIn = run.load()](AppState& self) {
            if (madeIn == self.liveRun_.load())
                work(self);
        });
    };
    liveTranslator_->onText = [report](const std::string& line) {
        report([line](AppState& self) {
            self.liveText_.push_back(line);
            while (self.liveText_.size() > maxLiveLines)
                self.liveText_.pop_front();
            self.changed(Property::liveText);
        });
    };
    liveTranslator_->onStatus = [report](const std::string& text) {
        report([text](AppState& self) { self.setStatus(text); });
    };
    liveTranslator_->onStop = [report](const std::optional<std::string>& reason) {
        report([reason](AppState& self) {
            ++self.liveRun_;
            self.liveActive_ = false;
            self.changed(Property::liveActive);
            self.setStatus(reason ? *reason : L10n::t("live.status.stopped"));
        });
    };
}

void AppState::toggleLiveTranslation() {
    if (liveActive_) {
        ++liveRun_;
        liveTranslator_->stop(std::nullopt);
        liveActive_ = false;
        changed(Property::liveActive);
        setStatusKey("live.status.stopped");
        return;
    }
    if (!modelInstalled_) {
        setStatusKey("status.model.needed");
        return;
    }
    liveText_.clear();
    changed(Property::liveText);
    liveActive_ = true;
    changed(Property::liveActive);
    ++liveRun_;
    liveTranslator_->start(liveSourceLanguage_, modelID_, liveSpeak_, liveMuteOriginal_);
}

}  // namespace quenda
