#pragma once
// The lanes on libcurl's multi interface: one easy handle per lane, all driven from the
// worker's thread by one multi handle, which keeps the connections to each host open between
// fetches. Every transfer follows the rules of CurlTransfer. The bytes the transfers hold are
// counted as they arrive against one bound (see Bound); finished pages are given one at a
// time, so that the walk reduces each before the next leaves its lane.

#include <memory>
#include <vector>

#include "crawl/CurlTransfer.h"
#include "crawl/LaneFetcher.h"

typedef void CURLM;

namespace crawl {

class CurlLanes : public ILaneFetcher {
  public:
    CurlLanes() = default;
    ~CurlLanes() override;
    CurlLanes(const CurlLanes&) = delete;
    CurlLanes& operator=(const CurlLanes&) = delete;

    bool OpenSession(int lanes) override;
    bool Start(std::uint64_t tag, const std::string& address) override;
    std::vector<Done> Wait(std::chrono::milliseconds timeout) override;
    int InFlight() const override { return static_cast<int>(busy_.size()); }
    size_t BytesInFlight() const override;
    void CancelAll() override;
    void Bound(size_t limit, const std::vector<std::uint64_t>& exempt) override;
    void SetLimits(const FetchLimits& limits) { limits_ = limits; }

  private:
    struct Lane {
        CurlTransfer transfer;
        std::uint64_t tag = 0;
        bool exempt = false;  // may take the pages held past the bound
    };
    void Release(Lane* lane);
    // Abandons the largest transfers that may not exceed the bound until the pages held are
    // within it again (an exempt transfer took the room); they are given back `abandoned`.
    void Evict(std::vector<Done>& done);

    FetchLimits limits_;
    ByteBudget budget_;
    CURLM* multi_ = nullptr;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<Lane*> free_;
    std::vector<Lane*> busy_;
};

}  // namespace crawl
