#include "core/process.h"

#include <sys/resource.h>
#include <unistd.h>

namespace sw::platform {

void keep_system_awake(bool) {}

double process_cpu_seconds() {
    struct rusage usage {};
    if (::getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

unsigned logical_processors() {
    long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 0;
}

}  // namespace sw::platform
