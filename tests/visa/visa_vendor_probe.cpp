// Helper for the forwarding tests: makes the process's first VISA calls from several threads at
// once and prints the resource manager numbers it got, one per line in hex.
#include "visa.h"

#include <cstdio>
#include <thread>
#include <vector>

int main()
{
    constexpr int kThreads = 8;
    std::vector<ViSession> sessions(kThreads, VI_NULL);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&sessions, i] { viOpenDefaultRM(&sessions[i]); });
    for (std::thread &thread : threads)
        thread.join();
    for (ViSession session : sessions)
        std::printf("%08x\n", session);
    return 0;
}
