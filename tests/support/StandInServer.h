#pragma once
// A stand-in for the directory's web servers, on 127.0.0.1 with a port of its own choosing.
//
// Tests reach it as the HTTP proxy of the directory's hosts (UseAsProxy), so pages keep their
// real addresses. Every answer is scripted per address: status, headers, body, a delay, or a
// fault (no reply, a body cut short, a reset, a server that never answers). Every request is
// recorded with its headers so tests can check what the client sent.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

struct Reply {
    enum class Kind {
        Normal,
        CloseWithoutReply,  // accept the request, then close the connection
        CutShort,           // announce the whole body, send `cutAfter` bytes, close
        Reset,              // close with a TCP reset
        Hang,               // never answer
        Trickle,            // send the body one byte every `trickleMs`
    };
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    int delayMs = 0;
    Kind kind = Kind::Normal;
    size_t cutAfter = 0;
    int trickleMs = 0;
    size_t repeat = 1;   // the body is sent this many times over (large bodies, little memory)
    int holdLastMs = 0;  // waits this long before the last of those times (pages arrive together)
};

struct Request {
    std::string method;
    std::string target;  // as sent: absolute when proxied
    std::string key;     // host (without port) and path: "search.tarvola.com/company/..."
    std::map<std::string, std::string> headers;  // names in lower case
    std::string rawHead;
    std::chrono::steady_clock::time_point at;  // when its head had arrived
};

class Server {
  public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const { return port_; }
    std::string Origin() const { return "127.0.0.1:" + std::to_string(port_); }

    // Answer for one address ("host/path", no scheme); the last call for an address wins.
    void Route(const std::string& key, Reply reply);
    void Unroute(const std::string& key);
    // Answers given, one per request and in order, before the route of `key` takes over:
    // a 503 once, say.
    void RouteFirst(const std::string& key, std::vector<Reply> replies);
    // Answer for every address no route names; 404 when none is set.
    void Fallback(std::function<Reply(const Request&)> handler);

    // The most requests that were being answered at the same time.
    int MostAtOnce();
    std::vector<Request> Requests();
    size_t RequestCount();
    // Waits until `done` holds for the requests so far (checked as each one arrives), at most
    // `timeout`; true when it held.
    bool WaitForRequests(const std::function<bool(const std::vector<Request>&)>& done,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void ClearRequests();  // and the most at once

    // Every answer waits `ms`, and up to `jitterMs` more drawn at random, before it is sent:
    // a directory far away, whose answers come back in any order.
    void SetLatency(int ms, int jitterMs = 0);

    // Points http_proxy at this server and keeps loopback addresses direct.
    void UseAsProxy();

  private:
    void AcceptLoop();
    void Serve(int fd);
    Reply Lookup(const Request& r);
    bool WaitStopped(int ms);

    int listenFd_ = -1;
    int port_ = 0;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::condition_variable requested_;  // a request arrived
    bool stop_ = false;
    std::map<std::string, Reply> routes_;
    std::map<std::string, std::deque<Reply>> before_;
    std::function<Reply(const Request&)> fallback_;
    std::vector<Request> requests_;
    int atOnce_ = 0;
    int mostAtOnce_ = 0;
    int latencyMs_ = 0;
    int jitterMs_ = 0;
    unsigned seed_ = 1;
    std::vector<std::thread> connections_;
    std::vector<int> openFds_;
};

// Reads a UTF-8 fixture from tests/fixtures and returns it as the site sends it: GBK bytes.
std::string GbkFixture(const std::string& name);
// The same for a literal written in UTF-8.
std::string Gbk(const std::string& utf8);

}  // namespace standin
