#pragma once

#include "service/program_state.h"

#include <vector>

namespace qiv::testing {

// Keeps `state` to the end of the process, as the program keeps its own: a
// test's background thread or abandoned request worker may still use it
// after the test.
inline ProgramState& keptState(ProgramState* state)
{
    static auto* kept = new std::vector<ProgramState*>; // UI thread only
    kept->push_back(state);
    return *state;
}

} // namespace qiv::testing
