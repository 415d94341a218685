#pragma once
// Sets an environment variable for one test (unsets it for a null value) and puts the old value
// back at the end of the scope.

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
public:
    ScopedEnv(const char* variable, const char* value) : name(variable)
    {
        if (const char* old = std::getenv(variable))
            previous = old;
        Set(value);
    }
    ~ScopedEnv() { Set(previous ? previous->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const char* value) { value ? setenv(name, value, 1) : unsetenv(name); }

    const char* name;
    std::optional<std::string> previous;
};
