// SPDX-License-Identifier: LGPL-2.1-or-later
// A hostile or careless directory server on a loopback port, for what a client
// must not do before it trusts the server: it accepts connections one after
// another, notes whether a bind request arrived, and answers the first
// message by closing or with a length header claiming 2 GiB followed by as
// many bytes as asked (stopping when the client goes).
//
//   testsupport::FakeLdapServer server(testsupport::FakeLdapServer::HugeAnswer, 100 << 20);
//   setenv("VESK_POLICY_STORE", server.url("dc=x").c_str(), 1);
//   ... EXPECT_FALSE(server.bindArrived());
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class FakeLdapServer {
  public:
    enum Answer { Close, HugeAnswer };

    explicit FakeLdapServer(Answer answer, size_t bytes = 0) : mAnswer(answer), mBytes(bytes) {
        mListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(mListener, 8);
        ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { serve(); });
    }
    ~FakeLdapServer() {
        mStop = true;
        mThread.join();
        ::close(mListener);
    }
    FakeLdapServer(const FakeLdapServer&) = delete;
    FakeLdapServer& operator=(const FakeLdapServer&) = delete;

    std::string url(const std::string& base) const {
        return "ldap://127.0.0.1:" + std::to_string(mPort) + "/" + base;
    }
    bool bindArrived() const { return mBind; }
    int connections() const { return mConnections; }

  private:
    void serve() {
        while (!mStop) {
            pollfd wait = {mListener, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1) {
                continue;
            }
            const int client = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            ++mConnections;
            unsigned char request[4096];
            pollfd readable = {client, POLLIN, 0};
            const ssize_t got =
                ::poll(&readable, 1, 5000) == 1 ? ::read(client, request, sizeof request) : 0;
            // SEQUENCE, its length (short or long form), the message id, then
            // the operation's tag: [APPLICATION 0] is a bind request.
            if (got > 2) {
                size_t at = 2 + ((request[1] & 0x80) ? (request[1] & 0x7f) : 0);
                at += 2 + (at + 1 < static_cast<size_t>(got) ? request[at + 1] : 0);
                mBind = mBind || (at < static_cast<size_t>(got) && request[at] == 0x60);
            }
            if (mAnswer == HugeAnswer) {
                const unsigned char header[] = {0x30, 0x84, 0x7f, 0xff, 0xff, 0xff};
                ::send(client, header, sizeof header, MSG_NOSIGNAL);
                const std::vector<char> block(1 << 16, 0);
                for (size_t sent = 0; sent < mBytes && !mStop;) {
                    const ssize_t count = ::send(client, block.data(), block.size(), MSG_NOSIGNAL);
                    if (count <= 0) {
                        break;  // the client went
                    }
                    sent += static_cast<size_t>(count);
                }
            }
            ::close(client);
        }
    }

    const Answer mAnswer;
    const size_t mBytes;
    int mListener = -1;
    int mPort = 0;
    std::atomic<bool> mBind{false};
    std::atomic<int> mConnections{0};
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

}  // namespace testsupport
