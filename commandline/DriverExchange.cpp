#include "commandline/DriverExchange.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace {

std::atomic<bool> left{false};

// What the exchange's thread hands back; shared, as a thread left running outlives the wait.
struct Handover
{
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = -1;
    int error = 0;
};

} // namespace

DriverExchange::Outcome DriverExchange::run(double seconds, const std::function<int()> &call, int *result,
                                            const volatile std::sig_atomic_t &stop)
{
    if (left)
        return TimedOut;
    auto handover = std::make_shared<Handover>();
    // The new thread inherits the mask: every signal stays with the waiting thread.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    std::thread worker([handover, call] {
        const int value = call();
        const int error = errno;
        std::lock_guard<std::mutex> lock(handover->mutex);
        handover->result = value;
        handover->error = error;
        handover->finished = true;
        handover->done.notify_one();
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Outcome outcome = Answered;
    std::unique_lock<std::mutex> lock(handover->mutex);
    while (!handover->finished) {
        if (stop) {
            outcome = Stopped;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            outcome = TimedOut;
            break;
        }
        // A signal does not end a wait on a condition: the stop is looked at every 20 ms.
        handover->done.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(20)));
    }
    if (outcome == Answered) {
        *result = handover->result;
        const int error = handover->error;
        lock.unlock();
        worker.join();
        errno = error;
        return Answered;
    }
    lock.unlock();
    worker.detach();
    left = true;
    return outcome;
}

bool DriverExchange::abandoned()
{
    return left;
}
