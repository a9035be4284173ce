#pragma once

#include <new>

// Base of every process-wide singleton, reached through the static accessor. The instance is
// created on first use and deleted by destroyInstance, which the application calls in its
// shutdown order. While the destructor runs, instance() still returns the dying object (its
// own signals may still reach code that asks for it) but isAlive() is already false.
template <typename T> class VSingleton
{
public:
    static T* instance()
    {
        if (!s_instance)
            s_instance = new (std::nothrow) T();
        return s_instance;
    }

    static void destroyInstance()
    {
        if (!s_instance || s_destroying)
            return;
        s_destroying = true;
        delete s_instance;
        s_instance = nullptr;
        s_destroying = false;
    }

    // There is an instance and it is not being destroyed.
    static bool isAlive() { return s_instance && !s_destroying; }

protected:
    VSingleton() = default;
    ~VSingleton() = default;

private:
    static inline T* s_instance = nullptr;
    static inline bool s_destroying = false;
};
