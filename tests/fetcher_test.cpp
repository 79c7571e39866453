#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <random>
#include <string>

using namespace std::string_literals;

#include "ReferenceLineReader.h"
#include "StandInServer.h"
#include "crawl/CurlFetcher.h"

using namespace crawl;

using standin::Reply;

namespace {

class FetcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.UseAsProxy();
        ASSERT_TRUE(fetcher.OpenSession());
    }
    FetchResult Result(const std::string& path, Reply reply) {
        server.Route("search.tarvola.com" + path, std::move(reply));
        return fetcher.FetchPage("http://search.tarvola.com" + path);
    }
    // The body of a page that came, or "" for a failure (which must then say why).
    std::string Fetch(const std::string& path, Reply reply) {
        FetchResult r = Result(path, std::move(reply));
        EXPECT_EQ(r.ok, r.reason.empty()) << path << ": " << r.reason;
        return r.ok ? r.body : std::string();
    }
    static Reply Body(std::string body, int status = 200) {
        Reply r;
        r.body = std::move(body);
        r.status = status;
        return r;
    }
    standin::Server server;
    CurlFetcher fetcher;
};

}  // namespace

TEST_F(FetcherTest, LineEndsAndNulBytes) {
    const std::string longLine(10000, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\r\r\nb", "a\r\nb"},
        {"last line", "last line"},
        {longLine + "\n", longLine + "\r\n"},
        {"ab\0cd\nef"s, "abef"},
        {std::string(5000, 'y') + '\0' + "z\nq", std::string(5000, 'y') + "q"},
        {"", ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Fetch("/lines" + std::to_string(i), Body(cases[i].first)), cases[i].second)
            << "case " << i;
    }
}

TEST_F(FetcherTest, SendsExactlyTheTwoHeadersThroughTheProxy) {
    EXPECT_EQ(Fetch("/h", Body("ok")), "ok");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "http://search.tarvola.com/h");  // proxied: absolute address
    EXPECT_EQ(r.headers.at("accept"), "*/*");
    EXPECT_EQ(r.headers.at("user-agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
    EXPECT_EQ(r.headers.count("accept-encoding"), 0u);
    EXPECT_EQ(r.headers.count("cookie"), 0u);
}

TEST_F(FetcherTest, EveryFailureSaysWhyAndWhetherToTryAgain) {
    struct Case {
        int status;
        Answer answer;
        const char* reason;
    };
    // The table of answers: only 404 and 410 say the page is not there; every row says why
    // in plain Chinese.
    const Case cases[] = {
        {404, Answer::Definite, "页面不存在（HTTP 404）"},
        {410, Answer::Definite, "页面已被删除（HTTP 410）"},
        {403, Answer::Other, "网站回答 HTTP 403"},
        {429, Answer::Refusal, "网站要求验证或访问过于频繁（HTTP 429）"},
        {503, Answer::Refusal, "网站要求验证或访问过于频繁（HTTP 503）"},
        {408, Answer::Transient, "网站等待请求超时（HTTP 408）"},
        {500, Answer::Transient, "网站内部错误（HTTP 500）"},
        {502, Answer::Transient, "网站网关错误（HTTP 502）"},
        {504, Answer::Transient, "网站网关超时（HTTP 504）"},
        {407, Answer::Proxy, "代理服务器要求身份验证"},
        {400, Answer::Other, "网站回答 HTTP 400"},
        {204, Answer::Other, "网站回答 HTTP 204"},
    };
    for (const Case& c : cases) {
        // A 204 has no body by definition; a body after it would garble the next answer.
        FetchResult r =
            Result("/s" + std::to_string(c.status), Body(c.status == 204 ? "" : "page", c.status));
        EXPECT_FALSE(r.ok) << c.status;
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.answer, c.answer) << c.status;
        EXPECT_EQ(r.retryable, Retryable(c.answer)) << c.status;
        EXPECT_EQ(r.reason, c.reason);
        EXPECT_EQ(r.Definite(), c.answer == Answer::Definite);
    }
    // Transport failures: the Chinese first, libcurl's words after it.
    Reply hangUp;
    hangUp.kind = Reply::Kind::CloseWithoutReply;
    FetchResult reset = Result("/reset", hangUp);
    EXPECT_EQ(reset.reason.rfind("服务器断开了连接（", 0), 0u) << reset.reason;
    EXPECT_EQ(reset.answer, Answer::Transient);
    EXPECT_EQ(WithDetail(kRefusalReason, "网站要求验证或访问过于频繁（HTTP 429）"),
              "网站要求验证或访问过于频繁（HTTP 429）");
    EXPECT_EQ(WithDetail(kRefusalReason, "网站回答 HTTP 403"),
              "网站要求验证或访问过于频繁（网站回答 HTTP 403）");
    // The page is fetched again each time: nothing is cached.
    EXPECT_EQ(Fetch("/again", Body("one")), "one");
    EXPECT_EQ(Fetch("/again", Body("two")), "two");
}

TEST_F(FetcherTest, RetryAfterInSecondsOrAsADate) {
    const std::time_t now = std::time(nullptr);
    char date[64];
    const std::time_t inThirty = now + 30;
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&inThirty));
    struct Case {
        std::string value;
        std::optional<long> seconds;
    };
    const Case cases[] = {
        {"7", 7}, {"0", 0}, {"99999999999999999999", 120}, {date, 30}, {"soon", std::nullopt},
    };
    for (const Case& c : cases) {
        Reply busy = Body("busy", 429);
        busy.headers = {{"Retry-After", c.value}};
        FetchResult r = Result("/busy", busy);
        ASSERT_TRUE(r.retryable);
        if (!c.seconds) {
            EXPECT_FALSE(r.retryAfter.has_value()) << c.value;
            continue;
        }
        ASSERT_TRUE(r.retryAfter.has_value()) << c.value;
        EXPECT_NEAR(static_cast<double>(r.retryAfter->count()), static_cast<double>(*c.seconds),
                    2.0)
            << c.value;
    }
    EXPECT_EQ(ParseRetryAfter("", now), std::nullopt);
    EXPECT_EQ(ParseRetryAfter("Thu, 01 Jan 1970 00:00:00 GMT", now), std::chrono::seconds(0));
}

TEST_F(FetcherTest, TricklingServerIsAbandoned) {
    // One byte every 300 ms keeps the idle watch happy but stays far below the slowest rate a
    // transfer may have (shortened here to 1 KiB in 1 s).
    CurlFetcher::Limits limits;
    limits.lowSpeedSeconds = 1;
    fetcher.SetLimits(limits);
    Reply trickle = Body(std::string(200, 't'));
    trickle.kind = Reply::Kind::Trickle;
    trickle.trickleMs = 300;
    auto t0 = std::chrono::steady_clock::now();
    FetchResult r = Result("/trickle", trickle);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.retryable);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_LT(seconds, 10.0);
    // The whole-transfer cap holds too.
    limits = {};
    limits.totalSeconds = 1;
    fetcher.SetLimits(limits);
    t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(Result("/trickle", trickle).ok);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
}

TEST_F(FetcherTest, FollowsRedirectsButNotForever) {
    Reply toTarget = Body("", 302);
    toTarget.headers = {{"Location", "http://detail.tarvola.com/target"}};
    server.Route("detail.tarvola.com/target", Body("arrived"));
    EXPECT_EQ(Fetch("/moved", toTarget), "arrived");

    Reply loop = Body("", 302);
    loop.headers = {{"Location", "http://search.tarvola.com/loop"}};
    EXPECT_EQ(Fetch("/loop", loop), "");
    EXPECT_LE(server.RequestCount(), 2u + 12u);

    Reply ftp = Body("", 302);
    ftp.headers = {{"Location", "ftp://search.tarvola.com/file"}};
    EXPECT_EQ(Fetch("/ftp", ftp), "");
}

TEST_F(FetcherTest, BrokenConnectionsGiveEmptyText) {
    Reply cut = Body(std::string(1000, 'a'));
    cut.kind = Reply::Kind::CutShort;
    cut.cutAfter = 100;
    EXPECT_EQ(Fetch("/cut", cut), "");

    Reply closed;
    closed.kind = Reply::Kind::CloseWithoutReply;
    EXPECT_EQ(Fetch("/closed", closed), "");

    Reply reset;
    reset.kind = Reply::Kind::Reset;
    EXPECT_EQ(Fetch("/reset", reset), "");

    // The handle keeps working after failures.
    EXPECT_EQ(Fetch("/fine", Body("fine")), "fine");
}

TEST_F(FetcherTest, SilentServerFailsAfterAboutFiveSeconds) {
    Reply hang;
    hang.kind = Reply::Kind::Hang;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch("/hang", hang), "");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 4.0);
    EXPECT_LT(seconds, 9.0);
}

TEST_F(FetcherTest, RefusedPortAndBadAddresses) {
    // A port nobody listens on: refused at once, worth trying again later.
    FetchResult refused = fetcher.FetchPage("http://127.0.0.1:1/x");
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.retryable);
    EXPECT_NE(refused.reason.find("onnect"), std::string::npos) << refused.reason;
    // Addresses that can never work are definite.
    for (const char* bad : {"http:///nohost", ""}) {
        FetchResult r = fetcher.FetchPage(bad);
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.retryable) << bad;
        EXPECT_FALSE(r.reason.empty());
    }
}

TEST_F(FetcherTest, OversizedPageIsAbandoned) {
    EXPECT_EQ(Fetch("/big", Body(std::string(CurlFetcher::kMaxPageBytes + 100, 'b'))), "");
    EXPECT_EQ(Fetch("/ok", Body(std::string(1 << 20, 'c'))).size(), size_t{1} << 20);
}

TEST(BodyReader, AnySplitGivesTheLineReadersText) {
    // Long lines cut into chunks, with a NUL behind a piece boundary of the first chunk.
    const std::string longLine =
        std::string(5000, 'x') + std::string(100, 'x') + '\0' + std::string(5000, 'y') + "\r\nz\n";
    for (size_t split : {1u, 1000u, 4094u, 4095u, 5000u, 5100u, 5101u, 9000u}) {
        CurlFetcher::BodyReader reader;
        reader.Feed(longLine.data(), split);
        reader.Feed(longLine.data() + split, longLine.size() - split);
        ASSERT_EQ(reader.Text(), ReferenceLineReader(longLine)) << "split " << split;
    }
    std::mt19937 rng(7);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\0', '\xB1'};
    for (int round = 0; round < 300; ++round) {
        std::string body;
        const int length = std::uniform_int_distribution<int>(0, 20000)(rng);
        const int lineBias = std::uniform_int_distribution<int>(1, 8000)(rng);
        for (int i = 0; i < length; ++i) {
            int pick = std::uniform_int_distribution<int>(0, lineBias)(rng);
            body += pick < 6 ? alphabet[pick] : 'x';
        }
        CurlFetcher::BodyReader reader;
        size_t pos = 0;
        while (pos < body.size()) {
            size_t n = std::uniform_int_distribution<size_t>(1, 5000)(rng);
            n = std::min(n, body.size() - pos);
            reader.Feed(body.data() + pos, n);
            pos += n;
        }
        ASSERT_EQ(reader.Text(), ReferenceLineReader(body)) << "round " << round;
    }
}
