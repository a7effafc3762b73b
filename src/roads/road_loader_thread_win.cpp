#include "platform/threads.hpp"
#include "roads/road_loader.hpp"
#include "roads/road_loader_thread_win.hpp"

namespace pathlight {

// Out of memory on a huge or hostile folder ends the thread quietly (StartThread): nothing is
// published, routes stay straight lines.
void StartRoadLoader() { StartThread("road loader", static_cast<ThreadBody>(&LoadRoads)); }

}  // namespace pathlight
