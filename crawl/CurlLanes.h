#pragma once
// The lanes on libcurl's multi interface: one easy handle per lane, all driven from the
// worker's thread by one multi handle, which keeps the connections to each host open between
// fetches. Every transfer follows the rules of CurlTransfer.

#include <memory>
#include <vector>

#include "crawl/CurlTransfer.h"
#include "crawl/LaneFetcher.h"

typedef void CURLM;

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
    };
    void Release(Lane* lane);

    FetchLimits limits_;
    ByteBudget budget_;
    CURLM* multi_ = nullptr;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<Lane*> free_;
    std::vector<Lane*> busy_;
};
