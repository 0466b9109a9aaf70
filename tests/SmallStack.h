#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <functional>

// Runs `work` on a thread whose stack holds `bytes`: a walk or a release
// that recursed once per level of a deep tree runs out of it and crashes.
inline void onSmallStack(std::size_t bytes, const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, bytes);
    pthread_t thread;
    auto run = [](void* job) -> void* {
        (*static_cast<const std::function<void()>*>(job))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// A stack far smaller than one frame per level of the deep trees the tests
// build; the sanitizers' own frames are larger.
#ifdef TANDEMTREE_SANITIZED
constexpr std::size_t kSmallStack = 256 * 1024;
#else
constexpr std::size_t kSmallStack = 64 * 1024;
#endif
