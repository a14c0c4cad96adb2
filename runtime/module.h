// Module load and unload: the process-wide state, set up and torn down in a fixed order.
#pragma once

namespace dunmarrow {

void ModuleLoad();
void ModuleUnload();

}  // namespace dunmarrow
