#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

using namespace std::string_literals;

#include "ReferenceLineReader.h"
#include "StandInServer.h"
#include "crawl/CurlFetcher.h"

using standin::Reply;

namespace {

class FetcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.UseAsProxy();
        ASSERT_TRUE(fetcher.OpenSession());
    }
    std::string Fetch(const std::string& path, Reply reply) {
        server.Route("search.tarvola.com" + path, std::move(reply));
        return fetcher.FetchPage("http://search.tarvola.com" + path);
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

TEST_F(FetcherTest, AnythingButTwoHundredIsEmpty) {
    EXPECT_EQ(Fetch("/404", Body("missing", 404)), "");
    EXPECT_EQ(Fetch("/500", Body("broken", 500)), "");
    // The page is fetched again each time: nothing is cached.
    EXPECT_EQ(Fetch("/again", Body("one")), "one");
    EXPECT_EQ(Fetch("/again", Body("two")), "two");
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

TEST_F(FetcherTest, RefusedPortAndBadAddressesAreEmpty) {
    // A port nobody listens on: refused at once, tried again after a second.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(fetcher.FetchPage("http://127.0.0.1:1/x"), "");
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 0.9);
    EXPECT_EQ(fetcher.FetchPage("http:///nohost"), "");
    EXPECT_EQ(fetcher.FetchPage(""), "");
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
