// CommandSignal: one slot, refused posts while busy or pending, reset; a
// task marked due is never missed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/command_signal.h"

namespace {

// Posts until the command is taken, as stopping does.
void postUntilTaken(CommandSignal& signal, int command) {
    while (!signal.post(command)) std::this_thread::yield();
}

// Takes one command the way a worker does: lock, wait, carry out, unlock.
int takeOne(CommandSignal& signal) {
    std::unique_lock<std::mutex> lock(signal.mutex());
    return signal.wait(lock);
}

} // namespace

TEST(CommandSignal, PostWhileTheWorkerIsBusyIsRefusedAndNotStored) {
    CommandSignal signal;
    std::promise<void> busy;
    std::promise<void> release;
    std::vector<int> taken;
    std::thread worker([&] {
        std::unique_lock<std::mutex> lock(signal.mutex());
        taken.push_back(signal.wait(lock));
        busy.set_value();
        release.get_future().wait(); // carrying out the command
        lock.unlock();
        taken.push_back(takeOne(signal));
    });

    postUntilTaken(signal, 1);
    busy.get_future().wait();
    EXPECT_FALSE(signal.post(2));
    EXPECT_FALSE(signal.post(2));
    release.set_value();
    postUntilTaken(signal, 3);
    worker.join();
    EXPECT_EQ(taken, (std::vector<int>{1, 3}));
}

TEST(CommandSignal, APendingCommandRefusesFurtherPostsUntilTakenOrReset) {
    CommandSignal signal;
    EXPECT_TRUE(signal.post(5));
    EXPECT_FALSE(signal.post(6));
    EXPECT_FALSE(signal.post(5));
    EXPECT_EQ(takeOne(signal), 5);
    EXPECT_TRUE(signal.post(7));
    signal.reset();
    // The slot is free at once, and a worker started now keeps waiting.
    std::atomic<int> seen{-1};
    std::thread worker([&] { seen = takeOne(signal); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(seen.load(), -1);
    postUntilTaken(signal, 9);
    worker.join();
    EXPECT_EQ(seen.load(), 9);

    // Reset with nothing pending changes nothing.
    signal.reset();
    EXPECT_TRUE(signal.post(4));
    EXPECT_EQ(takeOne(signal), 4);
}

TEST(CommandSignal, RepeatedPostsAreTakenWhileDataKeepsArriving) {
    // A worker that holds its lock for a while on every command, senders
    // of data commands that drop refused posts, and a quit that is
    // repeated until it is taken.
    constexpr int kData = 0, kQuit = 2;
    CommandSignal signal;
    std::atomic<int> data_taken{0};
    std::thread worker([&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(signal.mutex());
            const int command = signal.wait(lock);
            if (command == kQuit) break;
            if (command == kData) ++data_taken;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    // Several senders at once, as the capture thread, the window's worker
    // and the main thread may be.
    std::atomic<int> data_accepted{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 3; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                if (signal.post(kData)) ++data_accepted;
                if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    for (std::thread& sender : senders) sender.join();
    postUntilTaken(signal, kQuit);
    worker.join();

    EXPECT_GT(data_accepted.load(), 0);
    // Every accepted post was taken exactly once; the refused ones left no
    // trace.
    EXPECT_EQ(data_taken.load(), data_accepted.load());
}

// The front ends' workers: a title marked due while the worker goes from
// one request to its next wait is served at once, never left until some
// later post wakes the worker. Each mark waits until it was served (a
// missed wake-up leaves it waiting while the worker sleeps), then the next
// comes after a varying pause, so the marks fall on every step of the
// worker's way back to its wait. Another thread takes the lock now and
// then, as the window does to change its stream list.
TEST(CommandSignal, ATaskMarkedDueIsNeverLeftWaiting) {
    constexpr int kQuit = 3;
    CommandSignal signal;
    std::atomic<int> marked{0}, served{0};
    std::thread worker([&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(signal.mutex());
            const int command = signal.wait(lock);
            if (command == kQuit) return;
            if (command == CommandSignal::kDue) served = marked.load();
        }
    });
    std::atomic<bool> marking{true};
    std::thread other([&] {
        while (marking) {
            { std::lock_guard<std::mutex> lock(signal.mutex()); }
            for (int k = 0; k < 200; ++k) std::this_thread::yield();
        }
    });

    int left_waiting = 0;
    unsigned pause = 1;
    for (int i = 1; i <= 20000 && left_waiting == 0; ++i) {
        marked = i;
        signal.markDue();
        // Served within moments; the limit only ends a test that failed.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (served.load() < i && left_waiting == 0) {
            if (std::chrono::steady_clock::now() > limit) left_waiting = i;
            std::this_thread::yield();
        }
        pause = pause * 1103515245u + 12345u;
        for (volatile unsigned k = (pause >> 16) % 512; k > 0; k = k - 1) {
        }
    }
    marking = false;
    other.join();
    postUntilTaken(signal, kQuit);
    worker.join();
    EXPECT_EQ(left_waiting, 0) << "title " << left_waiting << " was left waiting";
}

// Marks made while the worker is busy are taken together, once, before a
// command that is pending; a reset drops the mark with the command.
TEST(CommandSignal, MarksAreTakenOnceAndBeforeAPendingCommand) {
    CommandSignal signal;
    {
        std::unique_lock<std::mutex> lock(signal.mutex());
        std::thread marker([&] {
            signal.markDue();
            signal.markDue();
        });
        // A busy worker is not waited for.
        marker.join();
        lock.unlock();
    }
    EXPECT_TRUE(signal.post(7));
    EXPECT_EQ(takeOne(signal), CommandSignal::kDue);
    EXPECT_EQ(takeOne(signal), 7);
    {
        std::unique_lock<std::mutex> lock(signal.mutex());
        int command = 0;
        EXPECT_FALSE(signal.waitFor(lock, std::chrono::milliseconds(0), command));
    }
    signal.markDue();
    EXPECT_TRUE(signal.post(8));
    signal.reset();
    std::unique_lock<std::mutex> lock(signal.mutex());
    int command = 0;
    EXPECT_FALSE(signal.waitFor(lock, std::chrono::milliseconds(0), command));
}
