#include "formats/common/zero_state.h"

#include <cstdint>
#include <cstring>

// Linux gives back zero pages after MADV_DONTNEED on private memory; other
// systems (emscripten's, where madvise does nothing) need not, so there the
// state is written.
#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>

void zero_state(void* state, size_t size) {
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(state);
    const uintptr_t first = (start + page - 1) & ~(page - 1);
    const uintptr_t last = (start + size) & ~(page - 1);
    // Small states, and any the system will not take back, are written.
    if (last <= first || last - first < 4 * page ||
        madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0) {
        memset(state, 0, size);
        return;
    }
    memset(state, 0, first - start);
    memset(reinterpret_cast<void*>(last), 0, start + size - last);
}
#else
void zero_state(void* state, size_t size) {
    memset(state, 0, size);
}
#endif
