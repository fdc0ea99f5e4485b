// SPDX-License-Identifier: LGPL-2.1-or-later
// The process's one inotify instance, shared by every file store handle: the
// per-user limit on instances (128 by default) is then far away, even for an
// account running many sessions. Each subscriber places its own watches and
// gets the events of those watches in a queue of its own, with an eventfd
// that is readable while the queue holds something.
//
//   std::shared_ptr<InotifyHub> hub = InotifyHub::acquire(error);
//   InotifyHub::Subscriber me(*hub);       // me.fd() to wait on besides hub->fd()
//   const int wd = me.addWatch("/etc/vesk/store", IN_CREATE);
//   hub->drain(); for (const InotifyHub::Event& e : me.take()) ...
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace vesk::legacy::store {

class InotifyHub {
  public:
    struct Event {
        int wd;  // -1 with IN_Q_OVERFLOW: every subscriber lost notices
        uint32_t mask;
        std::string name;
    };

    class Subscriber {
      public:
        // Throws std::system_error when no eventfd can be had.
        explicit Subscriber(std::shared_ptr<InotifyHub> hub);
        ~Subscriber();
        Subscriber(const Subscriber&) = delete;
        Subscriber& operator=(const Subscriber&) = delete;

        int fd() const { return mEventFd; }
        // The watch descriptor, or -1 with errno set.
        int addWatch(const std::string& path, uint32_t mask);
        void removeWatch(int wd);
        // The events queued for this subscriber since the last call.
        std::vector<Event> take();

      private:
        friend class InotifyHub;
        std::shared_ptr<InotifyHub> mHub;
        int mEventFd = -1;
        std::vector<Event> mQueue;  // guarded by the hub's mutex
    };

    // The instance of this process, opened on first use and closed with its
    // last subscriber; null with the errno of inotify_init1 when none can be
    // had.
    static std::shared_ptr<InotifyHub> acquire(int& error);
    ~InotifyHub();
    InotifyHub(const InotifyHub&) = delete;
    InotifyHub& operator=(const InotifyHub&) = delete;

    int fd() const { return mFd; }
    // Reads what the kernel queued and hands each event to the subscribers
    // of its watch. Never blocks; any subscriber's thread may call it.
    void drain();

  private:
    explicit InotifyHub(int fd) : mFd(fd) {}

    const int mFd;
    std::mutex mMutex;
    std::set<Subscriber*> mSubscribers;
    std::map<int, std::set<Subscriber*>> mWatchers;  // watch descriptor -> who placed it
};

}  // namespace vesk::legacy::store
