#include "TestSupport.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <thread>

namespace vesk::legacy::store::test {

std::string userName() {
    const struct passwd* entry = getpwuid(getuid());
    return entry != nullptr ? entry->pw_name : "";
}

std::vector<std::string> groupNames() {
    const struct passwd* entry = getpwuid(getuid());
    std::vector<gid_t> gids(256);
    int count = static_cast<int>(gids.size());
    if (entry == nullptr || getgrouplist(entry->pw_name, entry->pw_gid, gids.data(), &count) < 0) {
        return {};
    }
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        if (const struct group* group = getgrgid(gids[static_cast<size_t>(i)])) {
            names.push_back(group->gr_name);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

int runInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        _exit(body());
    }
    int waited = 0;
    if (child < 0 || waitpid(child, &waited, 0) != child || !WIFEXITED(waited)) {
        return -1;
    }
    return WEXITSTATUS(waited);
}

std::vector<std::string> describe(PAPI* handle, const std::string& component, PAPIStatus& status) {
    status = -1;
    PAPILayerEntry* layers = papiReadComponentLayers(handle, component.c_str(), &status);
    std::vector<std::string> described;
    for (const PAPILayerEntry* layer = layers; layer != nullptr; layer = layer->next) {
        // Exactly size bytes: the data carries no NUL to stop at.
        described.push_back(std::string(layer->stamp) + "=" +
                            std::string(layer->data, static_cast<size_t>(layer->size)));
    }
    papiFreeLayerList(layers);
    return described;
}

void Recorder::record(const PAPIEvent* event, void* data) {
    auto* self = static_cast<Recorder*>(data);
    const Clock::time_point at = Clock::now();
    ++self->mEntered;
    if (self->mThen) {
        self->mThen(event);
    }
    // Notified under the lock: the recorder may go as soon as a waiter sees it.
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mSeen.push_back(Seen{event->type, event->component, at});
    self->mChanged.notify_all();
}

bool Recorder::waitEntered(int count) {
    for (int i = 0; i < 500 && mEntered < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return mEntered >= count;
}

bool Recorder::waitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, timeout, [&] { return mSeen.size() >= count; });
}

std::vector<Recorder::Seen> Recorder::seen() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mSeen;
}

}  // namespace vesk::legacy::store::test
