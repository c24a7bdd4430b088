#include "platform/freedesktop/EventSound.h"

#include <canberra.h>
#include <memory>
#include <mutex>

namespace vantel::platform {

namespace {

struct Context {
    ca_context* context = nullptr;
    Context() {
        if (ca_context_create(&context) != CA_SUCCESS) {
            context = nullptr;
            return;
        }
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Vantel Record",
                                CA_PROP_APPLICATION_ID, "vantel-record", nullptr);
        // Opening now picks the driver once; a failure leaves play() to report per sound.
        ca_context_open(context);
    }
    ~Context() {
        if (context)
            ca_context_destroy(context);
    }
};

ca_context* sharedContext() {
    static Context shared;
    return shared.context;
}

using Done = std::function<void(bool)>;

void finished(ca_context*, uint32_t, int error, void* userdata) {
    std::unique_ptr<Done> done(static_cast<Done*>(userdata));
    (*done)(error == CA_SUCCESS);
}

} // namespace

void EventSound::play(const char* eventId, std::function<void(bool played)> done) {
    ca_context* context = sharedContext();
    ca_proplist* props = nullptr;
    if (!context || ca_proplist_create(&props) != CA_SUCCESS) {
        if (done)
            done(false);
        return;
    }
    ca_proplist_sets(props, CA_PROP_EVENT_ID, eventId);
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "volatile");
    auto* callback = done ? new Done(std::move(done)) : nullptr;
    const int started =
        ca_context_play_full(context, 1, props, callback ? finished : nullptr, callback);
    ca_proplist_destroy(props);
    // The callback runs only for a sound that started.
    if (started != CA_SUCCESS && callback) {
        std::unique_ptr<Done> owned(callback);
        (*owned)(false);
    }
}

} // namespace vantel::platform
