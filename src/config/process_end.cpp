#include "config/process_end.h"

#include <cstdio>
#include <cstdlib>

namespace qiv::config {

void endProcess(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace qiv::config
