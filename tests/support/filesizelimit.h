#pragma once

#include <QtGlobal>

#include <csignal>

#include <sys/resource.h>

// A disk that fills up after a few KiB: writes past the limit fail with EFBIG, as they fail
// with ENOSPC on a full disk, instead of killing the process.
class FileSizeLimit final
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        active = getrlimit(RLIMIT_FSIZE, &previous) == 0;
        rlimit limit = previous;
        limit.rlim_cur = bytes;
        active = active && setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (active)
            setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    Q_DISABLE_COPY_MOVE(FileSizeLimit)

    bool isActive() const { return active; }

private:
    rlimit previous = {};
    void (*previousHandler)(int) = nullptr;
    bool active = false;
};
