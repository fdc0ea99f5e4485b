// SPDX-License-Identifier: LGPL-2.1-or-later
#include "InotifyHub.h"

#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace vesk::legacy::store {

namespace {

// Bounds one drain under a steady stream; the rest waits for the next.
const int kMaxReadsPerDrain = 64;

// Never destroyed: a watcher thread may still look while the process exits.
struct Instance {
    std::mutex mutex;
    std::weak_ptr<InotifyHub> hub;
};
Instance& instance() {
    static Instance* shared = new Instance;
    return *shared;
}

void signal(int eventFd) {
    const uint64_t one = 1;
    const ssize_t written = write(eventFd, &one, sizeof one);
    static_cast<void>(written);  // a full counter is readable as well
}

}  // namespace

std::shared_ptr<InotifyHub> InotifyHub::acquire(int& error) {
    Instance& shared = instance();
    std::lock_guard<std::mutex> lock(shared.mutex);
    std::shared_ptr<InotifyHub> hub = shared.hub.lock();
    if (hub) {
        return hub;
    }
    // IN_CLOEXEC: programs started by the kiosk plug-in must not inherit it.
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    hub.reset(new InotifyHub(fd));
    shared.hub = hub;
    return hub;
}

InotifyHub::~InotifyHub() {
    close(mFd);
}

InotifyHub::Subscriber::Subscriber(std::shared_ptr<InotifyHub> hub) : mHub(std::move(hub)) {
    mEventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mEventFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    std::lock_guard<std::mutex> lock(mHub->mMutex);
    mHub->mSubscribers.insert(this);
}

InotifyHub::Subscriber::~Subscriber() {
    std::lock_guard<std::mutex> lock(mHub->mMutex);
    mHub->mSubscribers.erase(this);
    for (auto watch = mHub->mWatchers.begin(); watch != mHub->mWatchers.end();) {
        watch->second.erase(this);
        if (watch->second.empty()) {
            inotify_rm_watch(mHub->mFd, watch->first);
            watch = mHub->mWatchers.erase(watch);
        } else {
            ++watch;
        }
    }
    close(mEventFd);
}

// IN_MASK_ADD: another subscriber may watch the same folder for other events;
// each one keeps only the events of its own targets.
int InotifyHub::Subscriber::addWatch(const std::string& path, uint32_t mask) {
    std::lock_guard<std::mutex> lock(mHub->mMutex);
    const int wd = inotify_add_watch(mHub->mFd, path.c_str(), mask | IN_MASK_ADD);
    if (wd >= 0) {
        mHub->mWatchers[wd].insert(this);
    }
    return wd;
}

void InotifyHub::Subscriber::removeWatch(int wd) {
    std::lock_guard<std::mutex> lock(mHub->mMutex);
    const auto watch = mHub->mWatchers.find(wd);
    if (watch == mHub->mWatchers.end()) {
        return;
    }
    watch->second.erase(this);
    if (watch->second.empty()) {
        inotify_rm_watch(mHub->mFd, wd);
        mHub->mWatchers.erase(watch);
    }
}

std::vector<InotifyHub::Event> InotifyHub::Subscriber::take() {
    uint64_t count = 0;
    const ssize_t got = read(mEventFd, &count, sizeof count);
    static_cast<void>(got);
    std::lock_guard<std::mutex> lock(mHub->mMutex);
    std::vector<Event> events;
    events.swap(mQueue);
    return events;
}

void InotifyHub::drain() {
    alignas(struct inotify_event) char buffer[16 * 1024];
    std::lock_guard<std::mutex> lock(mMutex);
    std::set<Subscriber*> signalled;
    for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
        const ssize_t count = read(mFd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        for (ssize_t offset = 0;
             offset + static_cast<ssize_t>(sizeof(struct inotify_event)) <= count;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            const Event copy{event->wd, event->mask,
                             event->len > 0
                                 ? std::string(event->name, strnlen(event->name, event->len))
                                 : std::string()};
            if (event->mask & IN_Q_OVERFLOW) {
                for (Subscriber* subscriber : mSubscribers) {
                    subscriber->mQueue.push_back(copy);
                    signalled.insert(subscriber);
                }
                continue;
            }
            const auto watch = mWatchers.find(event->wd);
            if (watch == mWatchers.end()) {
                continue;  // a watch already given up
            }
            for (Subscriber* subscriber : watch->second) {
                subscriber->mQueue.push_back(copy);
                signalled.insert(subscriber);
            }
            if (event->mask & IN_IGNORED) {
                mWatchers.erase(watch);  // the kernel dropped it (folder gone)
            }
        }
    }
    for (Subscriber* subscriber : signalled) {
        signal(subscriber->mEventFd);
    }
}

}  // namespace vesk::legacy::store
