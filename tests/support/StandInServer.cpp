#include "StandInServer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "Portable.h"
#include "text/GbkCodec.h"

#ifndef COLLECTOR_FIXTURE_DIR
#error "COLLECTOR_FIXTURE_DIR must name tests/fixtures"
#endif

namespace standin {
namespace {

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// Sends in time-limited steps: a send blocked on a client that stopped reading (or left,
// which a blocked send under wine may not notice) gives up once `stopping` says so.
bool SendAll(int fd, const char* data, size_t size, const std::function<bool()>& stopping) {
    while (size > 0) {
        const auto n = ::send(fd, data, static_cast<int>(std::min<size_t>(size, 1 << 20)),
                              portable::kNoSignal);
        if (n < 0 && portable::SendTimedOut() && !stopping()) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

std::string Gbk(const std::string& utf8) {
    return text::Utf8ToGbk(utf8);
}

std::string GbkFixture(const std::string& name) {
    std::ifstream in(std::string(COLLECTOR_FIXTURE_DIR) + "/" + name, std::ios::binary);
    if (!in) {
        throw std::runtime_error("missing fixture " + name);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return text::Utf8ToGbk(ss.str());
}

Server::Server() {
    portable::StartSockets();
    listenFd_ = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                 sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        throw std::runtime_error("stand-in server cannot listen");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

Server::~Server() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        for (int fd : openFds_) {
            ::shutdown(fd, portable::kShutBoth);
        }
    }
    stopped_.notify_all();
    ::shutdown(listenFd_, portable::kShutBoth);
    portable::CloseSocket(listenFd_);
    acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(connections_);
    }
    for (auto& t : threads) {
        t.join();
    }
}

void Server::Route(const std::string& key, Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[key] = std::move(reply);
}

void Server::Unroute(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_.erase(key);
    before_.erase(key);
}

void Server::RouteFirst(const std::string& key, std::vector<Reply> replies) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& queue = before_[key];
    for (Reply& r : replies) {
        queue.push_back(std::move(r));
    }
}

void Server::Fallback(std::function<Reply(const Request&)> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    fallback_ = std::move(handler);
}

std::vector<Request> Server::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int Server::MostAtOnce() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostAtOnce_;
}

bool Server::WaitForRequests(const std::function<bool(const std::vector<Request>&)>& done,
                             std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return requested_.wait_for(lock, timeout, [&] { return done(requests_); });
}

size_t Server::RequestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

void Server::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
    mostAtOnce_ = atOnce_;
}

void Server::SetLatency(int ms, int jitterMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    latencyMs_ = ms;
    jitterMs_ = jitterMs;
}

void Server::UseAsProxy() {
    std::string proxy = "http://" + Origin();
    // Cleared first: Windows does not tell HTTP_PROXY from http_proxy.
    portable::UnsetEnv("HTTP_PROXY");
    portable::UnsetEnv("all_proxy");
    portable::UnsetEnv("ALL_PROXY");
    portable::SetEnv("http_proxy", proxy);
    portable::SetEnv("no_proxy", "127.0.0.1,localhost");
}

bool Server::WaitStopped(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void Server::AcceptLoop() {
    for (;;) {
        const int fd = static_cast<int>(::accept(listenFd_, nullptr, nullptr));
        if (fd < 0) {
            return;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        portable::SetSendTimeout(fd, 200);
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) {
            portable::CloseSocket(fd);
            return;
        }
        openFds_.push_back(fd);
        connections_.emplace_back([this, fd] { Serve(fd); });
    }
}

Reply Server::Lookup(const Request& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto first = before_.find(r.key);
    if (first != before_.end() && !first->second.empty()) {
        Reply reply = std::move(first->second.front());
        first->second.pop_front();
        return reply;
    }
    auto it = routes_.find(r.key);
    if (it != routes_.end()) {
        return it->second;
    }
    if (fallback_) {
        auto handler = fallback_;
        return handler(r);
    }
    Reply notFound;
    notFound.status = 404;
    notFound.body = "not found";
    return notFound;
}

void Server::Serve(int fd) {
    const std::function<bool()> stopping = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    };
    std::string buffer;
    char chunk[8192];
    for (;;) {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            const auto n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                goto done;
            }
            buffer.append(chunk, static_cast<size_t>(n));
        }
        Request req;
        req.rawHead = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        {
            std::istringstream head(req.rawHead);
            std::string line;
            std::getline(head, line);
            std::istringstream first(line);
            first >> req.method >> req.target;
            while (std::getline(head, line) && line != "\r") {
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                size_t colon = line.find(':');
                if (colon == std::string::npos) {
                    continue;
                }
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                req.headers[Lower(line.substr(0, colon))] = value;
            }
            std::string target = req.target;
            if (target.rfind("http://", 0) == 0) {
                req.key = target.substr(7);
            } else {
                req.key = req.headers["host"] + target;
            }
            size_t slash = req.key.find('/');
            std::string host = req.key.substr(0, slash);
            size_t colon = host.find(':');
            if (colon != std::string::npos) {
                req.key = host.substr(0, colon) +
                          (slash == std::string::npos ? "" : req.key.substr(slash));
            }
        }
        int latency = 0;
        req.at = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(req);
            requested_.notify_all();
            mostAtOnce_ = std::max(mostAtOnce_, ++atOnce_);
            latency = latencyMs_;
            if (jitterMs_ > 0) {
                seed_ = seed_ * 1103515245u + 12345u;
                latency += static_cast<int>((seed_ >> 16) % static_cast<unsigned>(jitterMs_ + 1));
            }
        }
        // Counted as being answered until the answer is sent or the connection ends.
        struct Answering {
            Server* server;
            ~Answering() {
                std::lock_guard<std::mutex> lock(server->mutex_);
                --server->atOnce_;
            }
        } answering{this};
        Reply reply = Lookup(req);
        if (latency + reply.delayMs > 0 && WaitStopped(latency + reply.delayMs)) {
            goto done;
        }
        switch (reply.kind) {
            case Reply::Kind::CloseWithoutReply:
                goto done;
            case Reply::Kind::Reset: {
                linger l{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                             sizeof l);
                goto done;
            }
            case Reply::Kind::Hang:
                WaitStopped(24 * 3600 * 1000);
                goto done;
            default:
                break;
        }
        std::string head =
            "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
            "\r\nContent-Length: " + std::to_string(reply.body.size() * reply.repeat) +
            "\r\nContent-Type: text/html; charset=gbk\r\n";
        for (auto& [name, value] : reply.headers) {
            head += name + ": " + value + "\r\n";
        }
        head += "\r\n";
        if (!SendAll(fd, head.data(), head.size(), stopping)) {
            goto done;
        }
        if (reply.kind == Reply::Kind::CutShort) {
            SendAll(fd, reply.body.data(), std::min(reply.cutAfter, reply.body.size()), stopping);
            goto done;
        }
        if (reply.kind == Reply::Kind::Trickle) {
            for (char c : reply.body) {
                if (!SendAll(fd, &c, 1, stopping) || WaitStopped(reply.trickleMs)) {
                    goto done;
                }
            }
            continue;
        }
        for (size_t n = 0; n < reply.repeat; ++n) {
            if (n + 1 == reply.repeat && reply.holdLastMs > 0 && WaitStopped(reply.holdLastMs)) {
                goto done;
            }
            if (!SendAll(fd, reply.body.data(), reply.body.size(), stopping)) {
                goto done;
            }
        }
    }
done : {
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
}
    portable::CloseSocket(fd);
}

}  // namespace standin
