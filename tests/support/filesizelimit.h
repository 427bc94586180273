#pragma once
// FileSizeLimit: a nearly full disk without mounting anything. While it lives, no file of this process (or of a
// process started meanwhile) can grow beyond `bytes`: the write past the limit fails with EFBIG instead of raising
// SIGXFSZ, which is ignored. The previous limit and signal handling come back on destruction.

#include <csignal>
#include <sys/resource.h>

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit lowered = old;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old{};
    void (*oldHandler)(int) = SIG_DFL;
};
