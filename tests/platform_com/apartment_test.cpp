// Per-thread COM initialisation.

#include "ole2.h"

#include <gtest/gtest.h>

#include <thread>

TEST(ApartmentTest, FirstCallFixesTheModelOfTheThread) {
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    std::thread([] {
        // Another thread has its own apartment.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    OleUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
    EXPECT_EQ(OleInitialize(reinterpret_cast<LPVOID>(1)), E_INVALIDARG);
}
