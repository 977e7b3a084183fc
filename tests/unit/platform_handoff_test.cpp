#include "platform/handoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/wait.h"

namespace tarvo {
namespace {

using testing::WaitUntil;

TEST(HandoffTest, RunsCallsOnTheServingThreadAndWaits) {
  MainThreadQueue queue;
  std::thread::id servingId;
  std::thread server([&] {
    servingId = std::this_thread::get_id();
    queue.Serve();
  });
  std::thread::id ranOn;
  bool ran = false;
  ASSERT_TRUE(queue.Synchronize([&] {
    ranOn = std::this_thread::get_id();
    ran = true;
  }));
  // The caller returns only after the call has run.
  EXPECT_TRUE(ran);
  queue.Close();
  server.join();
  EXPECT_EQ(ranOn, servingId);
}

TEST(HandoffTest, ConcurrentCallersRunOneAtATimeEachInItsOwnOrder) {
  constexpr int kThreads = 6;
  constexpr int kCalls = 200;
  MainThreadQueue queue;
  std::thread server([&] { queue.Serve(); });

  std::vector<std::vector<int>> seen(kThreads);  // touched only on the serving thread
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        ASSERT_TRUE(queue.Synchronize([&, t, i] {
          if (inside.fetch_add(1) != 0)
            overlapped = true;
          seen[t].push_back(i);
          inside.fetch_sub(1);
        }));
      }
    });
  }
  for (auto& c : callers)
    c.join();
  queue.Close();
  server.join();

  EXPECT_FALSE(overlapped);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kCalls));
    for (int i = 0; i < kCalls; ++i)
      ASSERT_EQ(seen[t][i], i);
  }
}

TEST(HandoffTest, CallsRunInTheOrderTheyWereHandedOver) {
  MainThreadQueue queue;
  std::vector<int> order;  // touched only on the serving thread
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
  std::thread server([&] { queue.Serve(); });
  // The first call holds the server until every other caller has queued.
  std::thread first([&] {
    queue.Synchronize([&] {
      started = true;
      WaitUntil([&] { return release.load(); });
      order.push_back(0);
    });
  });
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  std::vector<std::thread> callers;
  for (int i = 1; i <= 5; ++i) {
    callers.emplace_back([&, i] { queue.Synchronize([&, i] { order.push_back(i); }); });
    ASSERT_TRUE(WaitUntil([&] { return queue.Pending() == static_cast<size_t>(i); }));
  }
  release = true;
  for (auto& c : callers)
    c.join();
  first.join();
  EXPECT_EQ(queue.Pending(), 0u);
  queue.Close();
  server.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(HandoffTest, ExceptionsReachTheCaller) {
  MainThreadQueue queue;
  std::thread server([&] { queue.Serve(); });
  EXPECT_THROW(queue.Synchronize([] { throw std::runtime_error("disk full"); }),
               std::runtime_error);
  try {
    queue.Synchronize([] { throw std::logic_error("bad state"); });
    ADD_FAILURE() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "bad state");
  }
  // The queue keeps serving after a failed call.
  int value = 0;
  EXPECT_TRUE(queue.Synchronize([&] { value = 7; }));
  EXPECT_EQ(value, 7);
  queue.Close();
  server.join();
}

TEST(HandoffTest, OnTheServingThreadACallRunsAtOnce) {
  MainThreadQueue queue;
  std::vector<int> order;
  std::thread server([&] { queue.Serve(); });
  ASSERT_TRUE(queue.Synchronize([&] {
    order.push_back(1);
    // A nested hand-off from inside a call must not wait for itself.
    EXPECT_TRUE(queue.Synchronize([&] { order.push_back(2); }));
    order.push_back(3);
  }));
  queue.Close();
  server.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(HandoffTest, AfterCloseCallsAreRefusedUnrun) {
  MainThreadQueue queue;
  std::thread server([&] { queue.Serve(); });
  queue.Close();
  server.join();
  bool ran = false;
  EXPECT_FALSE(queue.Synchronize([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

TEST(HandoffTest, CloseWhileCallersWaitStillRunsTheQueuedCalls) {
  MainThreadQueue queue;
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
  std::atomic<int> ran{0};
  std::atomic<int> accepted{0};
  std::thread server([&] { queue.Serve(); });
  std::thread blocker([&] {
    const bool ok = queue.Synchronize([&] {
      started = true;
      WaitUntil([&] { return release.load(); });
      ++ran;
    });
    if (ok)
      ++accepted;
  });
  ASSERT_TRUE(WaitUntil([&] { return started.load(); }));
  std::vector<std::thread> waiting;
  for (int i = 0; i < 3; ++i) {
    waiting.emplace_back([&] {
      if (queue.Synchronize([&] { ++ran; }))
        ++accepted;
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return queue.Pending() == 3; }));
  // Closed while the server is busy and three callers wait: what was handed
  // over before the close still runs and reports success.
  queue.Close();
  bool late = false;
  EXPECT_FALSE(queue.Synchronize([&] { late = true; }));
  release = true;
  server.join();
  blocker.join();
  for (auto& w : waiting)
    w.join();
  EXPECT_EQ(ran.load(), 4);
  EXPECT_EQ(accepted.load(), 4);
  EXPECT_FALSE(late);
}

TEST(HandoffTest, BatchesKeepEachCallersOrderAndACloseLosesNoAcceptedCall) {
  constexpr int kThreads = 5;
  MainThreadQueue queue;
  std::thread server([&] { queue.Serve(); });
  std::vector<std::vector<int>> ran(kThreads);  // appended to on the serving thread only
  std::vector<int> refused_at(kThreads, -1);
  std::atomic<int> total{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < kThreads; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; refused_at[t] < 0; ++i) {
        if (!queue.Synchronize([&, t, i] {
              ran[t].push_back(i);
              ++total;
            })) {
          refused_at[t] = i;
        }
      }
    });
  }
  // Closed while every caller keeps handing over calls.
  ASSERT_TRUE(WaitUntil([&] { return total.load() >= 5000; }));
  queue.Close();
  for (auto& c : callers)
    c.join();
  server.join();
  for (int t = 0; t < kThreads; ++t) {
    // Every call handed over before the close ran, in its caller's order;
    // every later one was refused unrun.
    ASSERT_GE(refused_at[t], 0);
    ASSERT_EQ(ran[t].size(), static_cast<size_t>(refused_at[t])) << t;
    for (int i = 0; i < refused_at[t]; ++i)
      ASSERT_EQ(ran[t][i], i) << t;
  }
}

TEST(HandoffTest, CloseWithoutAServerReleasesWaitingCallers) {
  MainThreadQueue queue;
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread caller([&] { result = queue.Synchronize([&] { ran = true; }) ? 1 : 0; });
  ASSERT_TRUE(WaitUntil([&] { return queue.Pending() == 1; }));
  queue.Close();
  caller.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(ran);
  EXPECT_EQ(queue.Pending(), 0u);
  // A server started afterwards has nothing to run and returns at once.
  queue.Serve();
}

}  // namespace
}  // namespace tarvo
