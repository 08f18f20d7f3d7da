// SPDX-License-Identifier: MIT
// Concurrent clients: one card operation at a time, in order, none
// corrupted; a bounded wait with a "busy" answer past it; a client that
// leaves while it waits gets no card operation.
#include <atomic>
#include <chrono>
#include <thread>

#include <future>

#include "card_worker.h"
#include "service_fixture.h"

namespace kestreldtest {
namespace {

using namespace std::chrono_literals;

class QueueTest : public ServiceTest {
protected:
    // What one basic-information read sends and answers when alone.
    void learnSingleRead() {
        takeTrace();
        single = post("/v1/basic-info", "{}").parsed();
        singleSent = takeTrace();
        ASSERT_EQ(single["code"], 0);
    }
    json single;
    std::vector<std::string> singleSent;
};

TEST_F(QueueTest, ConcurrentClientsAreServedOneAtATime) {
    learnSingleRead();
    reader()->setReportDelay(1ms);
    constexpr int kClients = 5;
    std::vector<HttpResponse> answers(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] { answers[i] = post("/v1/basic-info", "{}"); });
    for (auto &t : clients) t.join();
    for (const HttpResponse &r : answers) {
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_EQ(r.parsed(), single);
    }
    // The reader saw whole reads one after the other, never interleaved.
    std::vector<std::string> sent = takeTrace();
    ASSERT_EQ(sent.size(), singleSent.size() * kClients);
    for (int i = 0; i < kClients; ++i)
        EXPECT_TRUE(std::equal(singleSent.begin(), singleSent.end(), sent.begin() + i * singleSent.size()));
}

TEST_F(QueueTest, BusyPastTheBoundedWait) {
    config.queueLength = 1;
    config.queueWaitMs = 1;  // any wait is too long
    learnSingleRead();
    reader()->setReportDelay(3ms);
    HttpResponse firstAnswer;
    std::thread first([&] { firstAnswer = post("/v1/basic-info", "{}"); });
    for (int i = 0; i < 200 && reader()->trace().empty(); ++i) std::this_thread::sleep_for(5ms);
    // While the first read runs, every other request is answered busy:
    // one waits too long, the others find the queue full.
    constexpr int kClients = 3;
    std::vector<HttpResponse> answers(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] { answers[i] = post("/v1/basic-info", "{}"); });
    for (auto &t : clients) t.join();
    first.join();
    EXPECT_EQ(firstAnswer.parsed(), single);
    for (const HttpResponse &r : answers) {
        EXPECT_EQ(r.status, 503);
        EXPECT_EQ(r.header("retry-after"), "1");
        EXPECT_NE(r.parsed()["message"].get<std::string>().find("busy"), std::string::npos);
    }
    EXPECT_EQ(takeTrace(), singleSent);
}

// An operation that waits for a person holds the reader longer; the busy
// answer says what it waits for.
TEST_F(QueueTest, BusyWhileTheHolderTypesSaysWhy) {
    config.queueWaitMs = 1;
    start();
    reader()->setReportDelay(3ms);
    type("123456");
    json verify;
    std::thread holder([&] { verify = post("/v1/pin/verify", "{}").parsed(); });
    for (int i = 0; i < 200 && reader()->trace().empty(); ++i) std::this_thread::sleep_for(5ms);
    HttpResponse r = get("/v1/status");
    holder.join();
    EXPECT_EQ(verify["code"], 0);
    EXPECT_EQ(r.status, 503);
    EXPECT_NE(r.parsed()["message"].get<std::string>().find("pin-verify, which may wait for the holder's PIN on the keypad"),
              std::string::npos) << r.body;
}

TEST_F(QueueTest, ClientThatLeavesWhileWaitingGetsNoCardOperation) {
    learnSingleRead();
    reader()->setReportDelay(3ms);
    std::thread first([&] { post("/v1/basic-info", "{}"); });
    // Wait until the first read is under way, then queue a second one and
    // hang up before its turn.
    for (int i = 0; i < 200 && reader()->trace().empty(); ++i) std::this_thread::sleep_for(5ms);
    int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    sendAll(fd, request("POST", "/v1/basic-info", "{}"));
    for (int i = 0; i < 400 && server->waiting() == 0; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(server->waiting(), 1);
    close(fd);
    first.join();
    // The second request's turn comes after the first read.
    for (int i = 0; i < 400 && logText().find("client left") == std::string::npos; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_NE(logText().find("client left before its turn; not started"), std::string::npos);
    EXPECT_EQ(takeTrace(), singleSent);
    // The reader is left in order for the next client.
    EXPECT_EQ(post("/v1/basic-info", "{}").parsed(), single);
}

TEST_F(QueueTest, ClientThatLeavesDuringACallLeavesTheReaderInOrder) {
    learnSingleRead();
    reader()->setReportDelay(2ms);
    int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    sendAll(fd, request("POST", "/v1/basic-info", "{}"));
    for (int i = 0; i < 200 && reader()->trace().empty(); ++i) std::this_thread::sleep_for(5ms);
    close(fd);
    // The call runs to its end; the next one reads as usual.
    EXPECT_EQ(post("/v1/basic-info", "{}").parsed(), single);
    std::vector<std::string> sent = takeTrace();
    ASSERT_EQ(sent.size(), 2 * singleSent.size());
    EXPECT_TRUE(std::equal(singleSent.begin(), singleSent.end(), sent.begin()));
}

// The worker by itself: arrival order, the waiting bounds, a job no
// longer wanted, all on one thread.
TEST(CardWorker, TurnsInArrivalOrderOnOneThread) {
    kestreld::CardWorker worker(8, 2s);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const std::function<bool()> yes = [] { return true; };
    std::thread::id first;
    std::atomic<bool> started{false};
    std::thread blocker([&] {
        worker.run(yes, [&] {
            first = std::this_thread::get_id();
            started = true;
            released.wait();
        });
    });
    while (!started) std::this_thread::sleep_for(1ms);
    std::vector<int> order;
    std::vector<std::thread> waiters;
    std::vector<std::thread::id> ran(4);
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&, i] {
            EXPECT_EQ(worker.run(yes, [&, i] { order.push_back(i); ran[i] = std::this_thread::get_id(); }),
                      kestreld::CardWorker::kDone);
        });
        while (worker.waiting() != i + 1) std::this_thread::sleep_for(1ms);
    }
    release.set_value();
    blocker.join();
    for (auto &t : waiters) t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    for (const auto &id : ran) EXPECT_EQ(id, first);
}

TEST(CardWorker, BoundsAndAbandonedJobs) {
    kestreld::CardWorker worker(1, 50ms);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    const std::function<bool()> yes = [] { return true; };
    std::atomic<bool> started{false};
    std::thread blocker([&] { worker.run(yes, [&] { started = true; released.wait(); }); });
    while (!started) std::this_thread::sleep_for(1ms);
    bool ran = false;
    std::thread late([&] { EXPECT_EQ(worker.run(yes, [&] { ran = true; }), kestreld::CardWorker::kTimedOut); });
    while (worker.waiting() != 1) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(worker.run(yes, [&] { ran = true; }), kestreld::CardWorker::kQueueFull);
    late.join();
    EXPECT_EQ(worker.waiting(), 0);
    release.set_value();
    blocker.join();
    EXPECT_EQ(worker.run([] { return false; }, [&] { ran = true; }), kestreld::CardWorker::kAbandoned);
    EXPECT_FALSE(ran);

    // A request that finds the worker free is served, however short the
    // allowed wait.
    kestreld::CardWorker instant(1, 0ms);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(instant.run(yes, [] {}), kestreld::CardWorker::kDone);
}

}  // namespace
}  // namespace kestreldtest
