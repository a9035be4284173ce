#pragma once

// Base of a process-wide singleton reached through a static accessor. The instance is created
// on first use and deleted by destroyInstance (the shutdown order decides when).
template <typename T> class VSingleton
{
public:
    static T* instance()
    {
        if (!s_instance)
            s_instance = new T();
        return s_instance;
    }

    static void destroyInstance()
    {
        delete s_instance;
        s_instance = nullptr;
    }

protected:
    VSingleton() = default;
    ~VSingleton() = default;

private:
    static inline T* s_instance = nullptr;
};
